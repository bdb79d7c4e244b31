#include "features/analysis/Spectrogram.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <kiss_fftr.h>
#include <numbers>

namespace features::analysis {

Spectrogram spectrogram(const float* values, std::size_t count, double rateHz, int maxColumns,
                        const std::atomic<bool>* cancel) {
    Spectrogram out;
    if (count < 128 || !(rateHz > 0.0) || maxColumns < 1)
        return out;
    const std::size_t length =
        std::clamp(std::bit_floor(count / 64), std::size_t(64), std::size_t(4096));
    // Half-overlapping columns where they fit, else evenly spread ones with gaps between.
    const std::size_t possible = (count - length) / (length / 2) + 1;
    const int columns = int(std::min<std::size_t>(possible, std::size_t(maxColumns)));
    const double hop = columns > 1 ? double(count - length) / double(columns - 1) : 0.0;

    kiss_fftr_cfg config = kiss_fftr_alloc(int(length), 0, nullptr, nullptr);
    if (!config)
        return out;
    std::vector<double> window(length);
    double squares = 0.0;
    for (std::size_t i = 0; i < length; ++i) {
        window[i] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * double(i) / double(length));
        squares += window[i] * window[i];
    }
    const int bins = int(length / 2 + 1);
    std::vector<kiss_fft_scalar> input(length);
    std::vector<kiss_fft_cpx> output(static_cast<std::size_t>(bins));
    out.decibels.resize(std::size_t(columns) * std::size_t(bins));
    for (int c = 0; c < columns; ++c) {
        if (cancel && cancel->load(std::memory_order_relaxed)) {
            kiss_fftr_free(config);
            return Spectrogram{};
        }
        const float* segment = values + std::size_t(std::llround(hop * c));
        double sum = 0.0;
        for (std::size_t i = 0; i < length; ++i)
            sum += segment[i];
        const double mean = sum / double(length);
        for (std::size_t i = 0; i < length; ++i)
            input[i] = kiss_fft_scalar((double(segment[i]) - mean) * window[i]);
        kiss_fftr(config, input.data(), output.data());
        for (int k = 0; k < bins; ++k) {
            const double power = double(output[std::size_t(k)].r) * output[std::size_t(k)].r +
                                 double(output[std::size_t(k)].i) * output[std::size_t(k)].i;
            const double density = 2.0 * power / (rateHz * squares);
            out.decibels[std::size_t(c * bins + k)] =
                float(std::max(-200.0, 10.0 * std::log10(std::max(density, 1e-30))));
        }
    }
    kiss_fftr_free(config);
    out.rateHz = rateHz;
    out.segmentLength = length;
    out.binHz = rateHz / double(length);
    out.columns = columns;
    out.bins = bins;
    out.firstSeconds = double(length) / 2.0 / rateHz;
    out.columnSeconds = hop / rateHz;
    return out;
}

} // namespace features::analysis
