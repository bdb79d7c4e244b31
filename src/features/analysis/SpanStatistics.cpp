#include "features/analysis/SpanStatistics.h"

#include <algorithm>
#include <cmath>
#include <kiss_fftr.h>
#include <memory>
#include <numbers>

namespace analysis {

namespace {

struct FftConfig {
    void operator()(kiss_fftr_cfg cfg) const { kiss_fftr_free(cfg); }
};

// The strongest bin above 0 Hz, refined between its neighbours by a parabola through the
// log amplitudes (a Hann window's peak is close to a Gaussian, for which this is exact).
std::optional<double> dominantBin(const std::vector<float>& amplitude) {
    if (amplitude.size() < 3)
        return std::nullopt;
    const auto strongest = std::max_element(amplitude.begin() + 1, amplitude.end());
    // Floating-point residue of a flat series is not a frequency.
    const float largest = *std::max_element(amplitude.begin(), amplitude.end());
    if (!(*strongest > 1e-6f) || *strongest < largest * 1e-3f)
        return std::nullopt;
    const std::size_t k = std::size_t(strongest - amplitude.begin());
    // Bin 0 holds what the window leaves of the removed mean, not part of this peak.
    if (k == 1 || k + 1 >= amplitude.size())
        return double(k);
    const double a = std::log(std::max(amplitude[k - 1], 1e-30f));
    const double b = std::log(double(amplitude[k]));
    const double c = std::log(std::max(amplitude[k + 1], 1e-30f));
    const double curvature = a - 2.0 * b + c;
    const double offset = curvature < 0.0 ? 0.5 * (a - c) / curvature : 0.0;
    return double(k) + std::clamp(offset, -0.5, 0.5);
}

} // namespace

Spectrum spectrum(const RecordingSeries& recording, Series series, std::size_t first,
                  std::size_t last, double rateHz) {
    Spectrum result;
    last = std::min(last, recording.size());
    const std::size_t rows = last > first ? last - first : 0;
    if (rows < 4 || !(rateHz > 0.0))
        return result;
    const int size = kiss_fftr_next_fast_size_real(int(rows));
    const std::unique_ptr<kiss_fftr_state, FftConfig> config(
        kiss_fftr_alloc(size, 0, nullptr, nullptr));
    if (!config)
        return result;

    const float* values = recording.values(series).data() + first;
    double sum = 0.0;
    for (std::size_t i = 0; i < rows; ++i)
        sum += values[i];
    const double mean = sum / double(rows);
    // Zero-padded to a size KissFFT factors well; the padding only interpolates the spectrum.
    std::vector<kiss_fft_scalar> windowed(std::size_t(size), 0.0f);
    const double step = 2.0 * std::numbers::pi / double(rows - 1);
    for (std::size_t i = 0; i < rows; ++i) {
        const double hann = 0.5 - 0.5 * std::cos(step * double(i));
        windowed[i] = float((double(values[i]) - mean) * hann);
    }
    std::vector<kiss_fft_cpx> bins(std::size_t(size / 2 + 1));
    kiss_fftr(config.get(), windowed.data(), bins.data());

    // Scaled so that a sine of amplitude A reads about A (the Hann window keeps half).
    const float scale = float(4.0 / double(rows));
    result.amplitude.resize(bins.size());
    for (std::size_t k = 0; k < bins.size(); ++k)
        result.amplitude[k] = std::hypot(bins[k].r, bins[k].i) * scale;
    result.binHz = rateHz / double(size);
    if (const auto bin = dominantBin(result.amplitude))
        result.dominantHz = *bin * result.binHz;
    return result;
}

SpanStatistics spanStatistics(const RecordingSeries& recording, double from, double to) {
    SpanStatistics stats;
    stats.from = from;
    stats.to = to;
    const std::size_t first = recording.rowAtOrAfter(from);
    const std::size_t last = recording.rowAfter(to);
    if (last <= first)
        return stats;
    stats.samples = last - first;
    const double span = double(recording.time(last - 1)) - double(recording.time(first));
    stats.duration = span;
    stats.rateHz = span > 0.0 ? double(stats.samples - 1) / span : 0.0;

    for (int s = 0; s < kSeriesCount; ++s) {
        SeriesStatistics& out = stats.series[std::size_t(s)];
        const float* v = recording.values(Series(s)).data();
        double sum = 0.0, squares = 0.0;
        float lo = v[first], hi = v[first], peak = -1.0f;
        std::size_t peakRow = first;
        for (std::size_t i = first; i < last; ++i) {
            const float value = v[i];
            sum += value;
            squares += double(value) * value;
            lo = std::min(lo, value);
            hi = std::max(hi, value);
            if (std::abs(value) > peak) {
                peak = std::abs(value);
                peakRow = i;
            }
        }
        out.min = lo;
        out.max = hi;
        out.mean = sum / double(stats.samples);
        out.rms = std::sqrt(squares / double(stats.samples));
        out.peak = peak;
        out.peakTime = recording.time(peakRow);
        out.dominantHz = spectrum(recording, Series(s), first, last, stats.rateHz).dominantHz;
    }
    return stats;
}

} // namespace analysis
