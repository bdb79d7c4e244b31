#include "features/analysis/LiveFeed.h"

#include <algorithm>
#include <cmath>

namespace features::analysis {

namespace {

void widen(Column& column, float x, float y, float z) {
    const float values[kSeriesCount] = {x, y, z, std::sqrt(x * x + y * y + z * z)};
    for (int s = 0; s < kSeriesCount; ++s) {
        MinMax& m = column.series[std::size_t(s)];
        if (column.empty) {
            m = {values[s], values[s]};
        } else {
            m.min = std::min(m.min, values[s]);
            m.max = std::max(m.max, values[s]);
        }
    }
    column.empty = false;
}

} // namespace

void LiveFeed::setRate(double readingsPerSecond) {
    const double rate = std::clamp(readingsPerSecond, 1.0, 1000.0);
    // One more than ten minutes' readings, so that a ten-minute span is whole at either end.
    const std::size_t capacity = std::size_t(std::ceil(kSeconds * rate)) + 1;
    if (capacity == capacity_)
        return;
    if (!ring_.empty()) {
        const std::size_t kept = std::min(count_, capacity);
        std::vector<Sample> newer(capacity);
        for (std::size_t i = 0; i < kept; ++i)
            newer[i] = at(count_ - kept + i);
        ring_ = std::move(newer);
        count_ = kept;
        first_ = 0;
    }
    capacity_ = capacity;
}

void LiveFeed::append(const sensors::Acceleration& reading) {
    // Allocated at the first reading, not before: a program that never delivers holds nothing.
    if (ring_.empty())
        ring_.resize(capacity_);
    // Times must not go back for the searches below; a source switched over mid-run keeps them
    // in order by standing at the newest until its own clock passes it.
    const double time = count_ > 0 ? std::max(reading.timestamp, newestTime()) : reading.timestamp;
    const Sample sample{time, float(reading.x), float(reading.y), float(reading.z)};
    if (count_ < capacity_) {
        ring_[(first_ + count_) % capacity_] = sample;
        ++count_;
    } else {
        ring_[first_] = sample;
        first_ = (first_ + 1) % capacity_;
    }
}

double LiveFeed::newestTime() const {
    return count_ > 0 ? at(count_ - 1).time : 0.0;
}

std::size_t LiveFeed::indexAtOrAfter(double seconds) const {
    std::size_t low = 0, high = count_;
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (at(middle).time < seconds)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

void LiveFeed::fill(RecordingSeries& series, double from, double to) const {
    series.clear();
    for (std::size_t i = indexAtOrAfter(from); i < count_ && at(i).time <= to; ++i) {
        const Sample& s = at(i);
        series.append(float(s.time), s.x, s.y, s.z);
    }
    series.finish();
}

void LiveFeed::columns(std::int64_t first, double step, int count, Column* out) const {
    std::size_t i = indexAtOrAfter(double(first) * step);
    for (int c = 0; c < count; ++c) {
        Column column;
        if (i > 0)
            widen(column, at(i - 1).x, at(i - 1).y, at(i - 1).z);
        const double end = double(first + c + 1) * step;
        bool any = false;
        for (; i < count_ && at(i).time < end; ++i) {
            widen(column, at(i).x, at(i).y, at(i).z);
            any = true;
        }
        // Past the newest reading nothing is joined: the trace ends where the readings do.
        if (!any && i >= count_)
            column = Column{};
        out[c] = column;
    }
}

} // namespace features::analysis
