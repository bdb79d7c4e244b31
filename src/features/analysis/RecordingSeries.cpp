#include "features/analysis/RecordingSeries.h"

#include "sensors/RecordingReader.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace features::analysis {

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

void RecordingSeries::setRowLimit(std::size_t rows) {
    limit_ = rows == std::numeric_limits<std::size_t>::max()
                 ? rows
                 : std::max<std::size_t>(8, rows & ~std::size_t(3));
}

bool RecordingSeries::load(const QString& path, QString* error, const std::atomic_bool* cancelled) {
    clear();
    // Row by row from the streaming reader, so that nothing but the float columns grows with
    // the file, and they only up to the row limit.
    sensors::RecordingReader reader(path);
    if (!reader.open(error))
        return false;
    sensors::Acceleration row;
    while (reader.next(&row)) {
        if (cancelled && cancelled->load(std::memory_order_relaxed)) {
            clear();
            if (error)
                error->clear();
            return false;
        }
        append(float(row.timestamp), float(row.x), float(row.y), float(row.z));
    }
    if (!reader.error().isEmpty() || fileRows_ == 0) {
        if (error)
            *error = reader.error().isEmpty()
                         ? QStringLiteral("Cannot replay \"%1\": no rows").arg(path)
                         : reader.error();
        clear();
        return false;
    }
    finish();
    path_ = path;
    notice_ = reader.notice();
    return true;
}

void RecordingSeries::append(float time, float x, float y, float z) {
    if (fileRows_++ == 0)
        first_ = time;
    last_ = time;
    const std::array<float, kSeriesCount> row{x, y, z, std::sqrt(x * x + y * y + z * z)};
    if (block_ == 1) {
        if (t_.size() < limit_) {
            push(time, row);
            return;
        }
        coarsen();
    }
    if (pending_.rows == 0) {
        pending_.first = time;
        for (int s = 0; s < kSeriesCount; ++s)
            pending_.extremes[std::size_t(s)] = MinMax{row[std::size_t(s)], row[std::size_t(s)]};
    } else {
        for (int s = 0; s < kSeriesCount; ++s)
            widen(pending_.extremes[std::size_t(s)],
                  MinMax{row[std::size_t(s)], row[std::size_t(s)]});
    }
    if (pending_.rows == block_ / 2)
        pending_.middle = time;
    pending_.last = time;
    if (++pending_.rows == block_) {
        if (t_.size() + 2 > limit_) {
            // The block is now the first half of one twice as long, which gathers on.
            coarsen();
            return;
        }
        pushBlock(pending_);
        pending_ = {};
    }
}

void RecordingSeries::push(float time, const std::array<float, kSeriesCount>& row) {
    // Grown by hand so that the capacity never passes the limit, as doubling would.
    if (t_.size() == t_.capacity()) {
        const std::size_t grown = std::min(limit_, std::max<std::size_t>(4096, t_.size() * 2));
        t_.reserve(grown);
        for (auto& column : values_)
            column.reserve(grown);
    }
    t_.push_back(time);
    for (int s = 0; s < kSeriesCount; ++s)
        values_[std::size_t(s)].push_back(row[std::size_t(s)]);
}

void RecordingSeries::pushBlock(const Pending& block) {
    std::array<float, kSeriesCount> low, high;
    for (int s = 0; s < kSeriesCount; ++s) {
        low[std::size_t(s)] = block.extremes[std::size_t(s)].min;
        high[std::size_t(s)] = block.extremes[std::size_t(s)].max;
    }
    // A block that ended early (the file's last) puts its maximum at its last row.
    push(block.first, low);
    push(block.rows > block_ / 2 ? block.middle : block.last, high);
}

// Halves the held rows: four raw rows, or two blocks, become one block's minimum and maximum.
// The held rows are always a whole number of such groups, as the limit is a multiple of 4.
void RecordingSeries::coarsen() {
    const std::size_t held = t_.size() - t_.size() % 4;
    const bool raw = block_ == 1;
    std::size_t out = 0;
    for (std::size_t g = 0; g < held; g += 4, out += 2) {
        t_[out] = t_[g];
        t_[out + 1] = t_[g + 2];
        for (auto& column : values_) {
            float* v = column.data() + g;
            const float low = raw ? std::min({v[0], v[1], v[2], v[3]}) : std::min(v[0], v[2]);
            const float high = raw ? std::max({v[0], v[1], v[2], v[3]}) : std::max(v[1], v[3]);
            column[out] = low;
            column[out + 1] = high;
        }
    }
    t_.resize(out);
    for (auto& column : values_)
        column.resize(out);
    block_ = raw ? 4 : block_ * 2;
}

void RecordingSeries::finish() {
    if (pending_.rows > 0) {
        if (t_.size() + 2 > limit_)
            coarsen();
        pushBlock(pending_);
        pending_ = {};
    }
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
    notice_.clear();
    block_ = 1;
    fileRows_ = 0;
    first_ = 0.0f;
    last_ = 0.0f;
    pending_ = {};
    t_ = {};
    for (auto& column : values_)
        column = {};
    levels_.clear();
}

double RecordingSeries::meanRate() const {
    const double span = duration();
    return span > 0.0 ? double(fileRows_ - 1) / span : 0.0;
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

} // namespace features::analysis
