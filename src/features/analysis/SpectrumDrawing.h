#pragma once

#include "drawing/DrawingContext.h"
#include "features/analysis/PlotExport.h"
#include "features/analysis/RecordingSeries.h"
#include "features/analysis/Welch.h"

#include <QSize>
#include <QString>
#include <optional>
#include <vector>

namespace features::analysis {

enum class SpectrumQuantity { Density, Amplitude };
enum class AxisScale { Linear, Logarithmic };

// How spectra are drawn: which quantity, the scale of each axis and where the cursor stands.
struct SpectrumStyle {
    SpectrumQuantity quantity = SpectrumQuantity::Density;
    AxisScale frequencyAxis = AxisScale::Linear;
    AxisScale valueAxis = AxisScale::Logarithmic;
    std::optional<double> cursorHz;
    // The window's spectra are dark; a picture for a report may be light.
    PlotTheme theme = PlotTheme::Dark;
    // Drawn as the body of a Figure, whose title and legend stand above it: no heading and no
    // legend of its own.
    bool framed = false;
};

// One series' spectrum and the peaks to mark on it. The spectrum must outlive the drawing.
struct SeriesSpectrum {
    Series series = Series::X;
    const PowerSpectrum* spectrum = nullptr;
    std::vector<SpectralPeak> peaks;
};

// Where frequencies and values fall in a spectrum plot's area, and back.
struct SpectrumMapping {
    drawing::Rect area;
    double lowHz = 0.0, highHz = 1.0, lowValue = 0.0, highValue = 1.0;
    AxisScale frequencyAxis = AxisScale::Linear, valueAxis = AxisScale::Linear;
    float x(double hz) const;
    float y(double value) const;
    double hzAt(float x) const;
};

// The mapping for `spectra` drawn into `bounds`: frequencies from the first bin (log) or 0 to
// half the rate, values over what the spectra hold (log: down to a ten-millionth of the top).
SpectrumMapping spectrumMapping(drawing::Rect bounds, const std::vector<SeriesSpectrum>& spectra,
                                const SpectrumStyle& style);

// The value of a spectrum at a frequency (its nearest bin) in the style's quantity.
double spectrumValueAt(const PowerSpectrum& spectrum, const SpectrumStyle& style, double hz);

// Draws the spectra over one frequency axis with their peaks marked and labelled, the segment
// length and resolution under the title, and at the cursor the value of each spectrum.
void drawSpectra(drawing::DrawingContext& context, drawing::Rect bounds,
                 const std::vector<SeriesSpectrum>& spectra, const SpectrumStyle& style,
                 const QString& title);

// The spectra as a figure for writeFigure(): titled `title`, the span and the Welch segments
// under it, X, Y and Z in the legend, peaks marked. The spectra must outlive the figure.
Figure spectraFigure(const std::vector<SeriesSpectrum>& spectra, SpectrumStyle style,
                     const QString& title, const QString& span);

} // namespace features::analysis
