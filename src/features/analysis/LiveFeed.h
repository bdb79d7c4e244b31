#pragma once

#include "features/analysis/RecordingSeries.h"
#include "sensors/Acceleration.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace features::analysis {

// The running source's last ten minutes, kept from the start in a ring sized to the source's
// rate, so that a view opened late still shows what came before it. A reading costs a store;
// nothing is allocated while readings arrive, and the ring never grows past ten minutes.
//
// Times are the service's (seconds since it started delivering), so that a span stays the same
// span however many readings arrive after it.
class LiveFeed {
public:
    // How far back the feed reaches.
    static constexpr double kSeconds = 10.0 * 60.0;
    // Readings per second assumed until setRate() is called; the service's fastest.
    static constexpr double kDefaultRate = 120.0;

    LiveFeed() = default;

    // Sizes the ring for ten minutes at `readingsPerSecond` (clamped to 1..1000), keeping the
    // newest readings that fit.
    void setRate(double readingsPerSecond);
    // Readings held at most.
    std::size_t capacity() const { return capacity_; }
    // Bytes the ring takes; constant once the first reading came.
    std::size_t memoryBytes() const { return ring_.capacity() * sizeof(Sample); }

    void append(const sensors::Acceleration& reading);
    std::size_t size() const { return count_; }
    bool isEmpty() const { return count_ == 0; }
    // The newest reading's time; 0 while empty.
    double newestTime() const;

    // Replaces `series` with the readings whose times lie in [from, to], at their own times.
    void fill(RecordingSeries& series, double from, double to) const;

    // Gives `count` columns of `step` seconds, column k holding [k * step, (k + 1) * step),
    // from column `first` on: each the extremes of the readings in it together with the last
    // reading before it, as a line joining the readings would cover, so that a column between
    // two readings is not left empty. Columns after the newest reading are empty.
    void columns(std::int64_t first, double step, int count, Column* out) const;

private:
    struct Sample {
        double time;
        float x, y, z;
    };
    const Sample& at(std::size_t index) const { return ring_[(first_ + index) % capacity_]; }
    // The index of the first held reading at or after `seconds` (size() when none is).
    std::size_t indexAtOrAfter(double seconds) const;

    std::vector<Sample> ring_;
    std::size_t capacity_ = std::size_t(kSeconds * kDefaultRate) + 1;
    // The oldest reading's slot, and the readings held.
    std::size_t first_ = 0;
    std::size_t count_ = 0;
};

} // namespace features::analysis
