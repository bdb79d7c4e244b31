#include "features/analysis/SpanStatistics.h"

#include <algorithm>
#include <cmath>
#include <kiss_fftr.h>
#include <memory>
#include <numbers>

namespace features::analysis {

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
    last = std::min(last, recording.size());
    const std::size_t rows = last > first ? last - first : 0;
    return spectrum(recording.values(series).data() + first, rows, rateHz);
}

Spectrum spectrum(const float* values, std::size_t rows, double rateHz) {
    Spectrum result;
    if (rows < 4 || !(rateHz > 0.0))
        return result;
    const int size = kiss_fftr_next_fast_size_real(int(rows));
    const std::unique_ptr<kiss_fftr_state, FftConfig> config(
        kiss_fftr_alloc(size, 0, nullptr, nullptr));
    if (!config)
        return result;

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

SpanAccumulator::SpanAccumulator(double from, double to, std::size_t heldRows)
    : from_(from), to_(to), heldRows_(heldRows) {
    stats_.from = from;
    stats_.to = to;
}

bool SpanAccumulator::add(float time, float x, float y, float z) {
    if (double(time) < from_)
        return true;
    if (double(time) > to_)
        return false;
    // |a| as the recording's columns hold it, in float, so that both routes give one number.
    const float values[kSeriesCount] = {x, y, z, std::sqrt(x * x + y * y + z * z)};
    if (stats_.samples == 0)
        firstTime_ = time;
    lastTime_ = time;
    for (int s = 0; s < kSeriesCount; ++s) {
        SeriesStatistics& out = stats_.series[std::size_t(s)];
        const float value = values[s];
        sum_[std::size_t(s)] += value;
        squares_[std::size_t(s)] += double(value) * value;
        if (stats_.samples == 0) {
            out.min = out.max = value;
            peak_[std::size_t(s)] = -1.0f;
        }
        out.min = std::min(out.min, double(value));
        out.max = std::max(out.max, double(value));
        if (std::abs(value) > peak_[std::size_t(s)]) {
            peak_[std::size_t(s)] = std::abs(value);
            out.peakTime = time;
        }
        if (holding_)
            held_[std::size_t(s)].push_back(value);
        else
            welch_[std::size_t(s)].add(value);
    }
    ++stats_.samples;
    if (holding_ && stats_.samples > heldRows_)
        stopHolding();
    return true;
}

void SpanAccumulator::stopHolding() {
    // Past the hold, every span gets the longest segment, which is also what the held route
    // chooses for a span this long: the estimate does not depend on which route was taken.
    holding_ = false;
    for (int s = 0; s < kSeriesCount; ++s) {
        welch_.emplace_back(kLongestSegment);
        welch_.back().add(held_[std::size_t(s)].data(), held_[std::size_t(s)].size());
        held_[std::size_t(s)] = {};
    }
}

SpanStatistics SpanAccumulator::finish() {
    if (stats_.samples == 0)
        return stats_;
    const double span = double(lastTime_) - double(firstTime_);
    stats_.duration = span;
    stats_.rateHz = span > 0.0 ? double(stats_.samples - 1) / span : 0.0;
    for (int s = 0; s < kSeriesCount; ++s) {
        SeriesStatistics& out = stats_.series[std::size_t(s)];
        const std::vector<float>& held = held_[std::size_t(s)];
        out.mean = sum_[std::size_t(s)] / double(stats_.samples);
        out.rms = std::sqrt(squares_[std::size_t(s)] / double(stats_.samples));
        out.peak = peak_[std::size_t(s)];
        PowerSpectrum& psd = spectra_[std::size_t(s)];
        psd = holding_ ? welchSpectrum(held.data(), held.size(), stats_.rateHz)
                       : welch_[std::size_t(s)].result(stats_.rateHz);
        out.peaks = spectralPeaks(psd);
        if (holding_)
            out.dominantHz = spectrum(held.data(), held.size(), stats_.rateHz).dominantHz;
        else if (!out.peaks.empty())
            out.dominantHz = out.peaks.front().hz;
        for (std::size_t b = 0; b < kFrequencyBands.size(); ++b) {
            if (bandCovered(psd, kFrequencyBands[b]))
                out.bandRms[b] = bandRms(psd, kFrequencyBands[b].lowHz, kFrequencyBands[b].highHz);
        }
    }
    const PowerSpectrum& x = spectra_[0];
    stats_.spectrum = SpectrumBasis{holding_, x.segmentLength, x.segments, x.binHz};
    return stats_;
}

SpanStatistics spanStatistics(const RecordingSeries& recording, double from, double to) {
    SpanAccumulator span(from, to);
    const std::size_t first = recording.rowAtOrAfter(from);
    const std::size_t last = recording.rowAfter(to);
    for (std::size_t row = first; row < last; ++row)
        span.add(recording.time(row), recording.value(Series::X, row),
                 recording.value(Series::Y, row), recording.value(Series::Z, row));
    return span.finish();
}

} // namespace features::analysis
