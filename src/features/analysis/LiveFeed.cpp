#include "features/analysis/LiveFeed.h"

namespace features::analysis {

LiveFeed::LiveFeed() : ring_(kCapacity) {}

void LiveFeed::append(const sensors::Acceleration& reading) {
    ring_[next_] = {reading.timestamp, float(reading.x), float(reading.y), float(reading.z)};
    next_ = (next_ + 1) % kCapacity;
    if (count_ < kCapacity)
        ++count_;
}

void LiveFeed::fill(RecordingSeries& series, double seconds) const {
    series.clear();
    if (count_ == 0) {
        series.finish();
        return;
    }
    const auto at = [this](std::size_t age) -> const Sample& {
        return ring_[(next_ + kCapacity - 1 - age) % kCapacity];
    };
    const double newest = at(0).time;
    std::size_t taken = 0;
    while (taken < count_ && newest - at(taken).time <= seconds)
        ++taken;
    if (taken == 0)
        taken = 1;
    const double first = at(taken - 1).time;
    for (std::size_t age = taken; age-- > 0;) {
        const Sample& s = at(age);
        series.append(float(s.time - first), s.x, s.y, s.z);
    }
    series.finish();
}

} // namespace features::analysis
