#include "features/analysis/Welch.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <kiss_fftr.h>
#include <numbers>

namespace features::analysis {

namespace {

// Half the width of a Hann window's main lobe is two bins; a third bin on each side also holds
// the power of a frequency that falls between bins.
constexpr std::size_t kLobeBins = 3;

// The Gaussian through the log amplitudes of a bin and its neighbours peaks within half a bin
// of it; a Hann window's lobe is close to a Gaussian.
double refinedBin(const std::vector<double>& amplitude, std::size_t k) {
    if (k == 0 || k + 1 >= amplitude.size())
        return double(k);
    const double a = std::log(std::max(amplitude[k - 1], 1e-300));
    const double b = std::log(std::max(amplitude[k], 1e-300));
    const double c = std::log(std::max(amplitude[k + 1], 1e-300));
    const double curvature = a - 2.0 * b + c;
    const double offset = curvature < 0.0 ? 0.5 * (a - c) / curvature : 0.0;
    return double(k) + std::clamp(offset, -0.5, 0.5);
}

// How far a peak must rise above the valley that parts it from anything higher: the ripples
// of an averaged estimate over a broad resonance stay well below this, so they are not taken
// for peaks of their own.
constexpr double kProminence = 4.0;

// The peak's density over the higher of the lowest densities on either side of it, each side
// searched up to the first bin above the peak or the end.
double prominence(const std::vector<double>& psd, std::size_t k) {
    double left = psd[k], right = psd[k];
    for (std::size_t i = k; i-- > 1 && psd[i] <= psd[k];)
        left = std::min(left, psd[i]);
    for (std::size_t i = k + 1; i < psd.size() && psd[i] <= psd[k]; ++i)
        right = std::min(right, psd[i]);
    return psd[k] / std::max({left, right, 1e-300});
}

} // namespace

struct WelchEstimate::Fft {
    kiss_fftr_cfg config = nullptr;
    std::vector<kiss_fft_scalar> input;
    std::vector<kiss_fft_cpx> output;
    ~Fft() { kiss_fftr_free(config); }
};

std::size_t welchSegmentLength(std::size_t rows) {
    if (rows < kShortestSpectrum)
        return 0;
    if (rows < 256)
        return std::bit_floor(rows);
    // Segments of L overlapping by L/2: n of them take (n + 1) L / 2 rows; about eight.
    return std::clamp(std::bit_floor(rows * 2 / 9), std::size_t(256), kLongestSegment);
}

WelchEstimate::WelchEstimate(std::size_t segmentLength)
    : length_(segmentLength & ~std::size_t(1)), fft_(std::make_unique<Fft>()) {
    if (length_ < 4)
        return;
    fft_->config = kiss_fftr_alloc(int(length_), 0, nullptr, nullptr);
    fft_->input.resize(length_);
    fft_->output.resize(length_ / 2 + 1);
    pending_.reserve(length_);
    // The periodic Hann window, whose shifted copies at half overlap sum to a constant.
    window_.resize(length_);
    for (std::size_t i = 0; i < length_; ++i)
        window_[i] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * double(i) / double(length_));
    power_.assign(length_ / 2 + 1, 0.0);
}

WelchEstimate::~WelchEstimate() = default;
WelchEstimate::WelchEstimate(WelchEstimate&&) noexcept = default;
WelchEstimate& WelchEstimate::operator=(WelchEstimate&&) noexcept = default;

void WelchEstimate::add(float value) {
    if (!fft_->config)
        return;
    pending_.push_back(value);
    if (pending_.size() == length_) {
        transformSegment();
        pending_.erase(pending_.begin(), pending_.begin() + std::ptrdiff_t(length_ / 2));
    }
}

void WelchEstimate::add(const float* values, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        add(values[i]);
}

void WelchEstimate::transformSegment() {
    double sum = 0.0;
    for (float v : pending_)
        sum += v;
    const double mean = sum / double(length_);
    for (std::size_t i = 0; i < length_; ++i)
        fft_->input[i] = kiss_fft_scalar((double(pending_[i]) - mean) * window_[i]);
    kiss_fftr(fft_->config, fft_->input.data(), fft_->output.data());
    for (std::size_t k = 0; k < power_.size(); ++k) {
        const double re = fft_->output[k].r, im = fft_->output[k].i;
        power_[k] += re * re + im * im;
    }
    ++segments_;
}

PowerSpectrum WelchEstimate::result(double rateHz) const {
    PowerSpectrum out;
    if (segments_ == 0 || !(rateHz > 0.0))
        return out;
    double sum = 0.0, squares = 0.0;
    for (double w : window_) {
        sum += w;
        squares += w * w;
    }
    out.rateHz = rateHz;
    out.segmentLength = length_;
    out.segments = segments_;
    out.binHz = rateHz / double(length_);
    out.psd.resize(power_.size());
    out.amplitude.resize(power_.size());
    for (std::size_t k = 0; k < power_.size(); ++k) {
        const double mean = power_[k] / double(segments_);
        // One-sided: every bin but 0 and the Nyquist bin also holds its negative frequency.
        const double sides = k == 0 || k + 1 == power_.size() ? 1.0 : 2.0;
        out.psd[k] = sides * mean / (rateHz * squares);
        out.amplitude[k] = 2.0 * std::sqrt(mean) / sum;
    }
    return out;
}

PowerSpectrum welchSpectrum(const float* values, std::size_t count, double rateHz) {
    WelchEstimate welch(welchSegmentLength(count));
    welch.add(values, count);
    return welch.result(rateHz);
}

std::vector<SpectralPeak> spectralPeaks(const PowerSpectrum& spectrum, int count) {
    std::vector<SpectralPeak> peaks;
    const std::vector<double>& psd = spectrum.psd;
    if (psd.size() < 4)
        return peaks;
    std::vector<double> sorted(psd.begin() + 1, psd.end());
    std::nth_element(sorted.begin(), sorted.begin() + std::ptrdiff_t(sorted.size() / 2),
                     sorted.end());
    const double floor = sorted[sorted.size() / 2];

    // Bins 0 and 1 hold what is left of each segment's removed mean and of slow drift, not a
    // resonance.
    std::vector<std::size_t> candidates;
    for (std::size_t k = 2; k + 1 < psd.size(); ++k) {
        if (psd[k] > psd[k - 1] && psd[k] >= psd[k + 1] && psd[k] > 4.0 * floor &&
            prominence(psd, k) >= kProminence)
            candidates.push_back(k);
    }
    std::sort(candidates.begin(), candidates.end(),
              [&psd](std::size_t a, std::size_t b) { return psd[a] > psd[b]; });
    std::vector<std::size_t> taken;
    for (std::size_t k : candidates) {
        if (psd[k] < psd[candidates.front()] * 1e-3)
            break;
        const bool nearTaken = std::any_of(taken.begin(), taken.end(), [k](std::size_t t) {
            return (k > t ? k - t : t - k) <= 2 * kLobeBins;
        });
        if (nearTaken)
            continue;
        taken.push_back(k);
        double power = 0.0;
        for (std::size_t b = k - std::min(k - 1, kLobeBins);
             b <= std::min(k + kLobeBins, psd.size() - 1); ++b)
            power += psd[b] * spectrum.binHz;
        peaks.push_back(SpectralPeak{refinedBin(spectrum.amplitude, k) * spectrum.binHz,
                                     std::sqrt(2.0 * power), psd[k]});
    }
    // Strongest by the power of the whole lobe: a narrow line outranks a broad hump of the
    // same height.
    std::stable_sort(peaks.begin(), peaks.end(), [](const SpectralPeak& a, const SpectralPeak& b) {
        return a.amplitudeG > b.amplitudeG;
    });
    if (int(peaks.size()) > count)
        peaks.resize(std::size_t(count));
    return peaks;
}

double bandRms(const PowerSpectrum& spectrum, double lowHz, double highHz) {
    double power = 0.0;
    for (std::size_t k = 0; k < spectrum.psd.size(); ++k) {
        const double hz = double(k) * spectrum.binHz;
        if (hz >= lowHz && hz < highHz)
            power += spectrum.psd[k] * spectrum.binHz;
    }
    return std::sqrt(power);
}

bool bandCovered(const PowerSpectrum& spectrum, const FrequencyBand& band) {
    return !spectrum.isEmpty() && band.lowHz < spectrum.nyquistHz();
}

} // namespace features::analysis
