#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <vector>

namespace features::analysis {

// A one-sided spectrum averaged over Hann-windowed segments that overlap by half, each with its
// own mean removed (Welch's method). Bin k lies at k * binHz.
struct PowerSpectrum {
    double rateHz = 0.0;
    double binHz = 0.0;
    std::size_t segmentLength = 0;
    std::size_t segments = 0;
    // Power spectral density in g²/Hz: summed over the bins and times binHz it gives the
    // series' variance.
    std::vector<double> psd;
    // Amplitude in g, scaled so that a sine centred on a bin reads its peak amplitude there.
    std::vector<double> amplitude;

    bool isEmpty() const { return psd.empty(); }
    double nyquistHz() const { return rateHz / 2.0; }
};

// One resonance: its frequency, the peak amplitude of the sine it stands for (from the power
// under its whole window lobe, so a frequency between two bins reads no lower) and the
// density at its strongest bin.
struct SpectralPeak {
    double hz = 0.0;
    double amplitudeG = 0.0;
    double psdG2PerHz = 0.0;
};

// The frequency bands whose RMS is reported, named as in the JSON output.
struct FrequencyBand {
    const char* name;
    double lowHz;
    double highHz;
};
inline constexpr std::array<FrequencyBand, 3> kFrequencyBands{{
    {"0.1-10", 0.1, 10.0},
    {"10-100", 10.0, 100.0},
    {"100-1000", 100.0, 1000.0},
}};

// The fewest rows worth a spectrum.
inline constexpr std::size_t kShortestSpectrum = 16;
// The longest segment: at 10 kHz, 0.15 Hz bins; at 100 Hz, 0.0015 Hz.
inline constexpr std::size_t kLongestSegment = 65536;

// The segment length for a span of `rows`: a power of two giving about eight averaged segments
// (short spans: the largest power of two that fits, one segment), at most kLongestSegment.
// Every span longer than 4.5 × kLongestSegment gets kLongestSegment, so that a span can be
// averaged while it is read without knowing its length.
std::size_t welchSegmentLength(std::size_t rows);

// Accumulates a Welch estimate from values given one at a time; memory is that of one segment.
//
//   WelchEstimate welch(welchSegmentLength(rows));
//   for (float v : values) welch.add(v);
//   const PowerSpectrum psd = welch.result(rateHz);
class WelchEstimate {
public:
    explicit WelchEstimate(std::size_t segmentLength);
    ~WelchEstimate();
    WelchEstimate(WelchEstimate&&) noexcept;
    WelchEstimate& operator=(WelchEstimate&&) noexcept;

    void add(float value);
    void add(const float* values, std::size_t count);
    std::size_t segmentLength() const { return length_; }
    std::size_t segments() const { return segments_; }
    // The estimate for a sampling rate of `rateHz`; empty before the first whole segment.
    PowerSpectrum result(double rateHz) const;

private:
    void transformSegment();

    struct Fft;
    std::size_t length_ = 0;
    std::unique_ptr<Fft> fft_;
    std::vector<float> pending_;
    std::vector<double> window_;
    std::vector<double> power_; // sum over segments of |X_k|²
    std::size_t segments_ = 0;
};

// The Welch estimate of `count` values with the segment length chosen from the count.
PowerSpectrum welchSpectrum(const float* values, std::size_t count, double rateHz);

// Up to `count` peaks, strongest first by the power of their lobe: local maxima from the third
// bin on that stand out of the noise floor (four times the median density), rise four times
// above the valley parting them from anything higher, are no weaker than a thousandth of the
// strongest (weaker ones are the window's side lobes) and lie at least two lobes apart.
std::vector<SpectralPeak> spectralPeaks(const PowerSpectrum& spectrum, int count = 5);

// The RMS in g of what lies between `lowHz` and `highHz` (bins whose centre falls in the band).
double bandRms(const PowerSpectrum& spectrum, double lowHz, double highHz);

// Whether a band is reported for this spectrum: its lower edge lies below half the rate.
bool bandCovered(const PowerSpectrum& spectrum, const FrequencyBand& band);

} // namespace features::analysis
