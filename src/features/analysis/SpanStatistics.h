#pragma once

#include "features/analysis/RecordingSeries.h"

#include <optional>
#include <vector>

namespace analysis {

// The numbers of one series over a span of rows, in g and seconds.
struct SeriesStatistics {
    double min = 0.0;
    double max = 0.0;
    double mean = 0.0;
    double rms = 0.0;
    // The largest absolute value and the time of its first row.
    double peak = 0.0;
    double peakTime = 0.0;
    // The strongest frequency once the mean is removed; none for a flat series or fewer
    // than four rows.
    std::optional<double> dominantHz;
};

// The numbers of a span [from, to] seconds of a recording.
struct SpanStatistics {
    double from = 0.0;
    double to = 0.0;
    std::size_t samples = 0;
    // Seconds from the span's first row to its last.
    double duration = 0.0;
    // The span's own rows per second (rows - 1 over the time from the first to the last).
    double rateHz = 0.0;
    std::array<SeriesStatistics, kSeriesCount> series{};
};

// The amplitude spectrum of a series over a span: Hann window, mean removed, one-sided.
struct Spectrum {
    // Hz between bins; bin k is at k * binHz.
    double binHz = 0.0;
    std::vector<float> amplitude;
    std::optional<double> dominantHz;
};

// Computes the numbers of the rows whose time lies in [from, to]. The rows are taken as evenly
// spaced at the span's mean rate, which is how recordings are made.
SpanStatistics spanStatistics(const RecordingSeries& recording, double from, double to);

// The spectrum of one series over the rows [first, last), sampled at `rateHz`.
Spectrum spectrum(const RecordingSeries& recording, Series series, std::size_t first,
                  std::size_t last, double rateHz);

} // namespace analysis
