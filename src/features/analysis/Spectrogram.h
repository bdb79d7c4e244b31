#pragma once

#include <atomic>
#include <cstddef>
#include <vector>

namespace features::analysis {

// The power of a span over time and frequency: columns of Hann-windowed segments, each with its
// own mean removed, as density in decibels of g²/Hz.
struct Spectrogram {
    double rateHz = 0.0;
    // Seconds of the first column's centre after the span's first row, and between columns.
    double firstSeconds = 0.0;
    double columnSeconds = 0.0;
    double binHz = 0.0;
    std::size_t segmentLength = 0;
    int columns = 0;
    int bins = 0;
    // columns × bins, column after column; 10·log10 of g²/Hz, floored at -200.
    std::vector<float> decibels;

    bool isEmpty() const { return decibels.empty(); }
    float at(int column, int bin) const { return decibels[std::size_t(column * bins + bin)]; }
};

// The spectrogram of `count` values at `rateHz` in at most `maxColumns` columns. Segments are
// about a sixty-fourth of the span (64 to 4096 rows), so that a span shows both its course in
// time and a useful resolution; columns overlap by half or spread evenly over a long span.
// Stops early, returning an empty spectrogram, once `cancel` (when given) is set.
Spectrogram spectrogram(const float* values, std::size_t count, double rateHz, int maxColumns,
                        const std::atomic<bool>* cancel = nullptr);

} // namespace features::analysis
