#pragma once

#include "drawing/DrawingContext.h"
#include "features/analysis/RecordingSeries.h"
#include "features/analysis/SpanStatistics.h"

#include <QSize>
#include <QString>
#include <optional>
#include <vector>

namespace analysis {

// What a plot of a recording shows: the time span in seconds, which series, and where the
// cursor line stands.
struct PlotView {
    double from = 0.0;
    double to = 1.0;
    std::array<bool, kSeriesCount> shown{true, true, true, true};
    std::optional<double> cursor;
};

// Tick positions for an axis from `low` to `high`: multiples of 1, 2 or 5 times a power of ten,
// about `target` of them. `step` receives the spacing.
std::vector<double> niceTicks(double low, double high, int target, double* step = nullptr);

// The plot area inside a plot's bounds (the rest holds the tick labels and the readout).
platform::Rect plotArea(platform::Rect bounds);

// The g range a plot shows: that of the shown series over the span's columns, widened a little
// so that peaks do not touch the frame; -1..1 when nothing is shown.
std::pair<double, double> valueRange(const std::vector<Column>& columns, const PlotView& view);

// The colour of a series, as the live graph draws its axes; |a| is white.
platform::Color seriesColor(Series series);
// "X", "Y", "Z", "|a|".
QString seriesName(Series series);

// Draws the recording over the view's span into `bounds`: background, grid, the g and time
// axes with their labels, the shown traces decimated to one min/max pair per pixel column, and
// the cursor line with the four values under it. `columns` is scratch space kept by the caller
// so that redraws allocate nothing.
void drawPlot(platform::DrawingContext& context, platform::Rect bounds,
              const RecordingSeries& recording, const PlotView& view, std::vector<Column>& columns);

// Draws an amplitude spectrum into `bounds`, marking its dominant frequency.
void drawSpectrum(platform::DrawingContext& context, platform::Rect bounds,
                  const Spectrum& spectrum, Series series);

// Writes the plot as a picture of `size` logical pixels: SVG when `path` ends in ".svg",
// otherwise PNG. False with `error` set when the file cannot be written.
bool writePlot(const QString& path, QSize size, const RecordingSeries& recording,
               const PlotView& view, QString* error);

} // namespace analysis
