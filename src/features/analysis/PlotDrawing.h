#pragma once

#include "drawing/DrawingContext.h"
#include "features/analysis/RecordingSeries.h"
#include "features/analysis/SpanStatistics.h"

#include <QSize>
#include <QString>
#include <optional>
#include <vector>

namespace features::analysis {

// The unit values are shown in; recordings hold g.
enum class Units { G, MetresPerSecondSquared };
// All shown traces in one panel, or one panel per shown trace (as the live graph's strips).
enum class PanelLayout { Overlaid, Stacked };
enum class PlotTheme { Dark, Light };

// Standard gravity: 1 g in m/s².
inline constexpr double kStandardGravity = 9.80665;
double unitScale(Units units);
// "g" or "m/s²".
QString unitName(Units units);

// A time in the recording with a note, kept beside the recording.
struct Marker {
    double time = 0.0;
    QString note;
    friend bool operator==(const Marker&, const Marker&) = default;
};

// What a plot of a recording shows: the time span in seconds, which series, where the pointer's
// cursor line stands (with the values under it), and the view's other choices.
struct PlotView {
    double from = 0.0;
    double to = 1.0;
    std::array<bool, kSeriesCount> shown{true, true, true, true};
    std::optional<double> cursor;
    // The two measuring cursors.
    std::optional<double> cursorA, cursorB;
    Units units = Units::G;
    PanelLayout layout = PanelLayout::Overlaid;
    // A fixed vertical range in g; none: each panel fits what the span shows.
    std::optional<std::pair<double, double>> fixedRange;
    std::vector<Marker> markers;
    // A span being selected with the mouse, drawn as a band.
    std::optional<std::pair<double, double>> selection;
};

// The colours a plot is drawn in, and whether it carries the live pointer's readout (a picture
// for a report does not).
struct PlotStyle {
    PlotTheme theme = PlotTheme::Dark;
    drawing::Color ground, area, grid, zeroLine, label, cursor, marker;
    bool readout = true;
    static PlotStyle forTheme(PlotTheme theme);
};

// Tick positions for an axis from `low` to `high`: multiples of 1, 2 or 5 times a power of ten,
// about `target` of them. `step` receives the spacing.
std::vector<double> niceTicks(double low, double high, int target, double* step = nullptr);

// The plot area inside a plot's bounds (the rest holds the tick labels and, with a readout, the
// values under the cursor).
drawing::Rect plotArea(drawing::Rect bounds, bool readout = true);

// The g range a plot shows: that of the shown series over the span's columns, widened a little
// so that peaks do not touch the frame; -1..1 when nothing is shown.
std::pair<double, double> valueRange(const std::vector<Column>& columns, const PlotView& view);

// The colour of a series, as the live graph draws its axes; |a| is white on dark grounds and
// black on light ones.
drawing::Color seriesColor(Series series, PlotTheme theme = PlotTheme::Dark);
// "X", "Y", "Z", "|a|".
QString seriesName(Series series);

// One panel as drawn: its rectangle and the g range it showed.
struct Panel {
    drawing::Rect area;
    double low = -1.0, high = 1.0;
};

// Columns worked out beforehand (a live view keeps its own, column by column) with the g range
// of each panel, and the part of the plot to draw: the rest is already on screen.
struct GivenColumns {
    std::vector<std::pair<double, double>> ranges;
    drawing::Rect dirty;
    // Seconds per column; the view's span starts on a whole column.
    double columnSeconds = 1.0;
};

// The g range each panel of the view's layout fits to over `columns`, top first: fixed, or
// that of the panel's shown series.
std::vector<std::pair<double, double>> panelRanges(const std::vector<Column>& columns,
                                                   const PlotView& view);

// Draws the recording over the view's span into `bounds`: background, grid, the value and time
// axes with their labels, the shown traces decimated to one min/max pair per pixel column, the
// markers, cursors A and B, the selection band, and (with the style's readout) the pointer's
// cursor line with the four values under it. `columns` is scratch space kept by the caller so
// that redraws allocate nothing; with `given` it holds the columns to draw instead, one per
// pixel column of the plot area, and `recording` gives only the readout's values. Returns the
// panels drawn, top first.
std::vector<Panel> drawPlot(drawing::DrawingContext& context, drawing::Rect bounds,
                            const RecordingSeries& recording, const PlotView& view,
                            std::vector<Column>& columns,
                            const PlotStyle& style = PlotStyle::forTheme(PlotTheme::Dark),
                            const GivenColumns* given = nullptr);

// Draws an amplitude spectrum into `bounds`, marking its dominant frequency.
void drawSpectrum(drawing::DrawingContext& context, drawing::Rect bounds, const Spectrum& spectrum,
                  Series series);

// Writes the plot for a report (see PlotExport.h) in the dark theme: PNG, JPEG, SVG or PDF by
// the file's extension. False with `error` set when the file cannot be written.
bool writePlot(const QString& path, QSize size, const RecordingSeries& recording,
               const PlotView& view, QString* error);

} // namespace features::analysis
