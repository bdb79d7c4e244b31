#pragma once

#include <QString>
#include <array>
#include <atomic>
#include <cstddef>
#include <limits>
#include <vector>

namespace features::analysis {

// The four series of a recording, in g: the device axes and the total acceleration |a|.
enum class Series { X = 0, Y = 1, Z = 2, Magnitude = 3 };
inline constexpr int kSeriesCount = 4;

struct MinMax {
    float min = 0.0f;
    float max = 0.0f;
};

// One column's extremes of all four series, and whether any row fell into the column.
struct Column {
    std::array<MinMax, kSeriesCount> series{};
    bool empty = true;
};

// A whole recording held as compact float columns (time in seconds from the first row, X, Y, Z
// and |a| in g) with min/max summaries in levels of blocks of 8, 16, 32, ... rows, so that the
// extremes of any row range are found in O(log n) without rescanning the rows. Rows and
// summaries together take under 30 bytes per row (kBytesPerRow).
//
// Memory is bounded by a row limit. A recording with more rows than that is held at a coarser
// level: each block of blockRows() rows of the file becomes two held rows, the block's minimum
// of every series at the block's first time and its maximum half a block later. Every extreme
// stays (a plot of the held rows shows the same envelope); means, RMS and spectra are then of
// the held rows. The block doubles whenever the held rows reach the limit, so a file of any
// length is read in one pass without knowing its length beforehand.
class RecordingSeries {
public:
    // Bytes one held row takes with its share of the summaries.
    static constexpr std::size_t kBytesPerRow = 28;

    RecordingSeries() = default;

    // The most rows held; a recording with more is held at a coarser level. Rounded down to a
    // multiple of 4, at least 8. Kept by clear() and load(); unlimited by default.
    void setRowLimit(std::size_t rows);
    std::size_t rowLimit() const { return limit_; }

    // Reads a recording in any format replay reads. On failure returns false, leaves this
    // empty and sets `error` to the replay parser's one-line message. When `cancelled` turns
    // true (from any thread) the read stops within a row and returns false with an empty
    // `error`.
    bool load(const QString& path, QString* error, const std::atomic_bool* cancelled = nullptr);

    // Appends one row of the file; times must not decrease. Call finish() after the last row.
    void append(float time, float x, float y, float z);
    // Builds the summaries; the series is read-only afterwards.
    void finish();
    void clear();

    // Rows of the file per held min/max pair; 1 while every row is held as it is.
    std::size_t blockRows() const { return block_; }
    bool isCoarse() const { return block_ > 1; }
    // Rows of the file read, held or not.
    std::size_t fileRows() const { return fileRows_; }

    std::size_t size() const { return t_.size(); }
    bool isEmpty() const { return t_.empty(); }
    QString path() const { return path_; }
    // What the reader decided beyond the file's header (the unit from the data, the times from
    // a stated or given rate), as it told --analyze; empty when the header said everything.
    QString notice() const { return notice_; }
    // The file was renamed; the rows are the same.
    void setPath(const QString& path) { path_ = path; }

    float time(std::size_t row) const { return t_[row]; }
    float value(Series series, std::size_t row) const { return values_[std::size_t(series)][row]; }
    const std::vector<float>& times() const { return t_; }
    const std::vector<float>& values(Series series) const { return values_[std::size_t(series)]; }
    // Seconds from the first row to the last; 0 for fewer than two rows. A file's rows start
    // at 0; a live view's at the time its span starts.
    double duration() const { return fileRows_ < 2 ? 0.0 : double(last_) - double(first_); }
    // The first row's time; 0 when empty.
    double startTime() const { return double(first_); }
    // Rows of the file per second over the whole recording; 0 for fewer than two rows.
    double meanRate() const;

    // The first row at or after `seconds`, and the first row after it; both clamp to [0, size].
    std::size_t rowAtOrAfter(double seconds) const;
    std::size_t rowAfter(double seconds) const;
    // The row whose time is nearest to `seconds`; size() when empty.
    std::size_t nearestRow(double seconds) const;

    // Extremes of all four series over rows [first, last). `empty` when the range is.
    Column extremes(std::size_t first, std::size_t last) const;

    // Splits [from, to) seconds into `count` equal columns and gives each column's extremes:
    // exactly the raw minimum and maximum of the rows whose time falls into it.
    void columns(double from, double to, int count, std::vector<Column>* out) const;

    // Bytes held by the rows and their summaries.
    std::size_t memoryBytes() const;

private:
    static constexpr std::size_t kBaseBlock = 8;

    // The block being gathered at the coarse level: its first and middle times and extremes.
    struct Pending {
        std::size_t rows = 0;
        float first = 0.0f, middle = 0.0f, last = 0.0f;
        std::array<MinMax, kSeriesCount> extremes{};
    };

    void push(float time, const std::array<float, kSeriesCount>& values);
    void pushBlock(const Pending& block);
    void coarsen();

    QString path_;
    QString notice_;
    std::size_t limit_ = std::numeric_limits<std::size_t>::max();
    std::size_t block_ = 1;
    std::size_t fileRows_ = 0;
    float first_ = 0.0f;
    float last_ = 0.0f;
    Pending pending_;
    std::vector<float> t_;
    std::array<std::vector<float>, kSeriesCount> values_;
    // levels_[k] holds, per block of kBaseBlock << k rows, the four series' extremes.
    std::vector<std::vector<std::array<MinMax, kSeriesCount>>> levels_;
};

} // namespace features::analysis
