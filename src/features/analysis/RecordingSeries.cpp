#include "features/analysis/RecordingSeries.h"

#include "sensors/RecordingReader.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace analysis {

namespace {

void widen(MinMax& into, const MinMax& other) {
    into.min = std::min(into.min, other.min);
    into.max = std::max(into.max, other.max);
}

void widen(Column& into, const std::array<MinMax, kSeriesCount>& other) {
    if (into.empty) {
        into.series = other;
        into.empty = false;
        return;
    }
    for (int s = 0; s < kSeriesCount; ++s)
        widen(into.series[std::size_t(s)], other[std::size_t(s)]);
}

} // namespace

bool RecordingSeries::load(const QString& path, QString* error, double rate) {
    clear();
    // Row by row from the streaming reader, so that nothing but the float columns grows with
    // the file.
    platform::RecordingReader reader(path);
    reader.setRate(rate);
    if (!reader.open(error))
        return false;
    platform::Acceleration row;
    while (reader.next(&row))
        append(float(row.timestamp), float(row.x), float(row.y), float(row.z));
    if (!reader.error().isEmpty() || t_.empty()) {
        if (error)
            *error = reader.error().isEmpty()
                         ? QStringLiteral("Cannot replay \"%1\": no rows").arg(path)
                         : reader.error();
        clear();
        return false;
    }
    finish();
    path_ = path;
    return true;
}

void RecordingSeries::append(float time, float x, float y, float z) {
    t_.push_back(time);
    values_[0].push_back(x);
    values_[1].push_back(y);
    values_[2].push_back(z);
    values_[3].push_back(std::sqrt(x * x + y * y + z * z));
}

void RecordingSeries::finish() {
    levels_.clear();
    const std::size_t rows = t_.size();
    if (rows < kBaseBlock)
        return;
    // Level 0 from the rows; a trailing partial block is left to the raw rows.
    std::vector<std::array<MinMax, kSeriesCount>> level(rows / kBaseBlock);
    for (std::size_t b = 0; b < level.size(); ++b) {
        for (int s = 0; s < kSeriesCount; ++s) {
            const float* v = values_[std::size_t(s)].data() + b * kBaseBlock;
            const auto [lo, hi] = std::minmax_element(v, v + kBaseBlock);
            level[b][std::size_t(s)] = MinMax{*lo, *hi};
        }
    }
    levels_.push_back(std::move(level));
    while (levels_.back().size() >= 2) {
        const auto& below = levels_.back();
        std::vector<std::array<MinMax, kSeriesCount>> above(below.size() / 2);
        for (std::size_t b = 0; b < above.size(); ++b) {
            above[b] = below[2 * b];
            for (int s = 0; s < kSeriesCount; ++s)
                widen(above[b][std::size_t(s)], below[2 * b + 1][std::size_t(s)]);
        }
        levels_.push_back(std::move(above));
    }
    t_.shrink_to_fit();
    for (auto& column : values_)
        column.shrink_to_fit();
}

void RecordingSeries::clear() {
    path_.clear();
    t_ = {};
    for (auto& column : values_)
        column = {};
    levels_.clear();
}

double RecordingSeries::meanRate() const {
    const double span = duration();
    return span > 0.0 ? double(t_.size() - 1) / span : 0.0;
}

std::size_t RecordingSeries::rowAtOrAfter(double seconds) const {
    return std::size_t(std::lower_bound(t_.begin(), t_.end(), seconds,
                                        [](float t, double s) { return double(t) < s; }) -
                       t_.begin());
}

std::size_t RecordingSeries::rowAfter(double seconds) const {
    return std::size_t(std::upper_bound(t_.begin(), t_.end(), seconds,
                                        [](double s, float t) { return s < double(t); }) -
                       t_.begin());
}

std::size_t RecordingSeries::nearestRow(double seconds) const {
    if (t_.empty())
        return 0;
    const std::size_t after = rowAtOrAfter(seconds);
    if (after == 0)
        return 0;
    if (after == t_.size())
        return after - 1;
    return seconds - double(t_[after - 1]) <= double(t_[after]) - seconds ? after - 1 : after;
}

Column RecordingSeries::extremes(std::size_t first, std::size_t last) const {
    Column column;
    last = std::min(last, t_.size());
    std::size_t row = first;
    while (row < last) {
        // The widest summary block that starts here and ends within the range: its size is
        // limited by the alignment of `row` and by the rows left.
        int level = -1;
        if (row % kBaseBlock == 0 && last - row >= kBaseBlock && !levels_.empty()) {
            const std::size_t blocks = row / kBaseBlock;
            const int aligned = blocks == 0 ? int(levels_.size()) - 1 : std::countr_zero(blocks);
            const int fits = std::bit_width((last - row) / kBaseBlock) - 1;
            level = std::min({aligned, fits, int(levels_.size()) - 1});
        }
        if (level < 0) {
            std::array<MinMax, kSeriesCount> one;
            for (int s = 0; s < kSeriesCount; ++s) {
                const float v = values_[std::size_t(s)][row];
                one[std::size_t(s)] = MinMax{v, v};
            }
            widen(column, one);
            ++row;
            continue;
        }
        const std::size_t block = kBaseBlock << level;
        widen(column, levels_[std::size_t(level)][row / block]);
        row += block;
    }
    return column;
}

void RecordingSeries::columns(double from, double to, int count, std::vector<Column>* out) const {
    out->assign(std::size_t(std::max(count, 0)), Column{});
    if (count <= 0 || !(to > from))
        return;
    const double width = (to - from) / count;
    // Times do not decrease and column edges ascend, so each edge's row is found by galloping
    // on from the previous one: a few steps within one column's rows instead of a search over
    // the whole recording, cache misses and all, for each of some 2,000 columns.
    const auto rowFrom = [this](std::size_t start, double seconds) {
        const auto before = [seconds](float t) { return double(t) < seconds; };
        std::size_t low = start, high = start, step = 1;
        while (high < t_.size() && before(t_[high])) {
            low = high + 1;
            high = start + step;
            step *= 2;
        }
        return std::size_t(
            std::partition_point(t_.begin() + std::ptrdiff_t(low),
                                 t_.begin() + std::ptrdiff_t(std::min(high, t_.size())), before) -
            t_.begin());
    };
    std::size_t first = rowAtOrAfter(from);
    for (int c = 0; c < count; ++c) {
        const std::size_t last = rowFrom(first, c + 1 == count ? to : from + width * (c + 1));
        if (last > first)
            (*out)[std::size_t(c)] = extremes(first, last);
        first = std::max(first, last);
    }
}

std::size_t RecordingSeries::memoryBytes() const {
    std::size_t bytes = t_.capacity() * sizeof(float);
    for (const auto& column : values_)
        bytes += column.capacity() * sizeof(float);
    for (const auto& level : levels_)
        bytes += level.capacity() * sizeof(level[0]);
    return bytes;
}

} // namespace analysis
