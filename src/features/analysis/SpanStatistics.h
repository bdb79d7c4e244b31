#pragma once

#include "features/analysis/RecordingSeries.h"
#include "features/analysis/Welch.h"

#include <optional>
#include <vector>

namespace features::analysis {

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
    // The strongest resonances (at most five) and the RMS of each of kFrequencyBands, none for a
    // band at or beyond half the rate; both from the Welch estimate.
    std::vector<SpectralPeak> peaks;
    std::array<std::optional<double>, kFrequencyBands.size()> bandRms{};
};

// What the spectral numbers of a span come from.
struct SpectrumBasis {
    // True when the dominant frequency comes from one transform of the whole span, as for any
    // span of up to kHeldRows rows; false when it comes from the Welch average.
    bool wholeSpan = true;
    std::size_t segmentLength = 0;
    std::size_t segments = 0;
    double binHz = 0.0;
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
    SpectrumBasis spectrum;
};

// Spans of up to this many rows are held for the whole-span transform (16 MB of values);
// longer ones are averaged as they are read.
inline constexpr std::size_t kHeldRows = std::size_t(1) << 20;

// The numbers of a span worked out in one pass over its rows, in memory bounded by kHeldRows
// whatever the span's length.
//
//   SpanAccumulator span(from, to);
//   while (reader.next(&row) && span.add(t, x, y, z)) {}
//   const SpanStatistics stats = span.finish();
class SpanAccumulator {
public:
    // Takes the rows whose time lies in [from, to] seconds.
    SpanAccumulator(double from, double to, std::size_t heldRows = kHeldRows);
    // Adds a row; times must not decrease. False once past `to`, where reading may stop.
    bool add(float time, float x, float y, float z);
    SpanStatistics finish();
    // The Welch estimate of a series, after finish().
    const PowerSpectrum& powerSpectrum(Series series) const {
        return spectra_[std::size_t(series)];
    }

private:
    void stopHolding();

    double from_, to_;
    std::size_t heldRows_;
    SpanStatistics stats_;
    float firstTime_ = 0.0f, lastTime_ = 0.0f;
    std::array<double, kSeriesCount> sum_{}, squares_{};
    std::array<float, kSeriesCount> peak_{};
    bool holding_ = true;
    std::array<std::vector<float>, kSeriesCount> held_;
    std::vector<WelchEstimate> welch_;
    std::array<PowerSpectrum, kSeriesCount> spectra_;
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
// The same of `rows` values.
Spectrum spectrum(const float* values, std::size_t rows, double rateHz);

} // namespace features::analysis
