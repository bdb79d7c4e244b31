#pragma once

#include "features/analysis/RecordingSeries.h"
#include "sensors/Acceleration.h"

#include <cstddef>
#include <vector>

namespace features::analysis {

// The running source's last minutes, kept in a preallocated ring so that a reading costs a
// store and nothing is allocated while readings arrive.
class LiveFeed {
public:
    // Ten minutes at up to 200 readings per second.
    static constexpr std::size_t kCapacity = 10 * 60 * 200;

    LiveFeed();
    void append(const sensors::Acceleration& reading);
    std::size_t size() const { return count_; }

    // Replaces `series` with the readings of the last `seconds`, times counted from the first
    // of them.
    void fill(RecordingSeries& series, double seconds) const;

private:
    struct Sample {
        double time;
        float x, y, z;
    };
    std::vector<Sample> ring_;
    std::size_t next_ = 0;
    std::size_t count_ = 0;
};

} // namespace features::analysis
