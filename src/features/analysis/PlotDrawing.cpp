#include "features/analysis/PlotDrawing.h"

#include "drawing/PainterContext.h"

#include <QFontMetricsF>
#include <QHash>
#include <algorithm>
#include <array>
#include <cmath>

namespace features::analysis {

namespace {

using drawing::DrawingContext;
using drawing::Font;
using drawing::Rect;

constexpr drawing::Font kLabelFont{11.0f};
constexpr float kLeft = 54.0f, kRight = 12.0f, kTop = 24.0f, kBottom = 24.0f;

float textWidth(const QString& text, drawing::Font font) {
    return float(QFontMetricsF(drawing::PainterContext::qtFont(font)).horizontalAdvance(text));
}

// The width of a tick label in the label font. Zooming and panning bring the same labels back
// redraw after redraw, and measuring one shapes its text again, which costs about as much as
// drawing it; so widths are kept by text (a few hundred at most, then forgotten).
float labelWidth(const QString& label) {
    thread_local QHash<QString, float> widths;
    const auto known = widths.constFind(label);
    if (known != widths.cend())
        return *known;
    if (widths.size() >= 512)
        widths.clear();
    const float width = textWidth(label, kLabelFont);
    widths.insert(label, width);
    return width;
}

QString tickLabel(double value, double step, const char* unit) {
    const int decimals = std::clamp(int(-std::floor(std::log10(step) + 1e-9)), 0, 6);
    if (std::abs(value) < step * 1e-6)
        value = 0.0;
    return QStringLiteral("%1 %2").arg(value, 0, 'f', decimals).arg(QLatin1String(unit));
}

} // namespace

std::pair<double, double> valueRange(const std::vector<Column>& columns, const PlotView& view) {
    double low = INFINITY, high = -INFINITY;
    for (const Column& column : columns) {
        if (column.empty)
            continue;
        for (int s = 0; s < kSeriesCount; ++s) {
            if (!view.shown[std::size_t(s)])
                continue;
            low = std::min(low, double(column.series[std::size_t(s)].min));
            high = std::max(high, double(column.series[std::size_t(s)].max));
        }
    }
    if (!(low <= high))
        return {-1.0, 1.0};
    const double middle = 0.5 * (low + high);
    const double half = std::max(0.5 * (high - low) * 1.08, 0.05);
    return {middle - half, middle + half};
}

namespace {

struct Mapping {
    drawing::Rect area;
    double from, to, low, high;
    // Values are held in g and labelled in the view's unit.
    double scale = 1.0;
    // A live view's columns: `columnSeconds` each, the first the `firstColumn`th since 0 s.
    double columnSeconds = 0.0, firstColumn = 0.0;
    float x(double seconds) const {
        return area.x + float((seconds - from) / (to - from) * area.width);
    }
    // The whole pixel column a time is drawn at. In a live view it is the column the time falls
    // in, worked out from the time alone, so that a line keeps its place in the picture as it
    // moves on; rounding its position in the span could land it a pixel off in one frame.
    float pixel(double seconds) const {
        if (columnSeconds > 0.0)
            return area.x + float(std::floor(seconds / columnSeconds) - firstColumn);
        return std::round(x(seconds));
    }
    float y(double g) const {
        const float y = area.y + float((high - g) / (high - low) * area.height);
        return std::clamp(y, area.y, area.y + area.height);
    }
};

void setFill(drawing::DrawingContext& context, drawing::Color c) {
    context.setRGBFillColor(c.red, c.green, c.blue, c.alpha);
}

void setStroke(drawing::DrawingContext& context, drawing::Color c) {
    context.setRGBStrokeColor(c.red, c.green, c.blue, c.alpha);
}

// Grid lines are one point wide on whole points, so each is a filled strip of pixels: the same
// pixels as a stroke along its middle, without a stroker's work per row of a 1 000-pixel line.
void drawValueGrid(DrawingContext& context, const Mapping& map, const PlotStyle& style,
                   const char* unit, bool labels) {
    const Rect& a = map.area;
    double step = 1.0;
    const std::vector<double> ticks = niceTicks(map.low * map.scale, map.high * map.scale,
                                                std::max(2, int(a.height / 48.0f)), &step);
    for (double value : ticks) {
        const float y = std::round(map.y(value / map.scale));
        setFill(context, std::abs(value) < step * 1e-6 ? style.zeroLine : style.grid);
        context.fillRect({a.x, y, a.width, 1.0f});
        if (!labels)
            continue;
        const QString label = tickLabel(value, step, unit);
        setFill(context, style.label);
        context.drawAtPoint(label, {a.x - 6.0f - labelWidth(label), y - 6.5f}, kLabelFont);
    }
}

// With a `dirty` part (a live view drawing its newest columns) the ticks just past the span are
// labelled too, so that a label coming into view from the right has been drawn whole by the
// time it is; labels and lines out of that part are skipped.
void drawTimeGrid(DrawingContext& context, const Mapping& map, Rect all, const PlotStyle& style,
                  const Rect* dirty = nullptr) {
    double step = 1.0;
    const int target = std::max(2, int(all.width / 110.0f));
    niceTicks(map.from, map.to, target, &step);
    const double beyond = dirty ? 60.0 * (map.to - map.from) / all.width : 0.0;
    // The step of the span alone, so that the ticks beyond it do not change it.
    const double first = std::ceil((map.from - beyond) / step - 1e-9);
    for (double k = first; k * step <= map.to + beyond + step * 1e-9; k += 1.0) {
        const double t = k * step;
        const float x = map.pixel(t);
        const QString label = tickLabel(t, step, "s");
        const float width = labelWidth(label);
        if (dirty && (x + width < dirty->x || x - width > dirty->x + dirty->width))
            continue;
        // A live view's line is drawn inside the plot area only: the margin right of it is
        // not moved with the picture, so a line there would stay behind.
        const bool inArea = dirty ? x >= all.x && x < all.x + all.width
                                  : t >= map.from - step * 1e-9 && t <= map.to + step * 1e-9;
        if (inArea) {
            setFill(context, style.grid);
            context.fillRect({x, all.y, 1.0f, all.height});
        }
        setFill(context, style.label);
        context.drawAtPoint(label, {x + 0.5f - width / 2.0f, all.y + all.height + 5.0f},
                            kLabelFont);
    }
}

// Few rows: every row, joined, with the span's edges interpolated from the rows beyond them.
void drawRows(drawing::DrawingContext& context, const Mapping& map,
              const RecordingSeries& recording, Series series) {
    const std::size_t first = recording.rowAtOrAfter(map.from);
    const std::size_t last = recording.rowAfter(map.to);
    const std::size_t from = first > 0 ? first - 1 : first;
    const std::size_t to = std::min(last + 1, recording.size());
    if (to - from < 2)
        return;
    auto edge = [&](std::size_t a, std::size_t b, double at) {
        const double ta = recording.time(a), tb = recording.time(b);
        const double f = tb > ta ? (at - ta) / (tb - ta) : 0.0;
        return recording.value(series, a) +
               f * (recording.value(series, b) - recording.value(series, a));
    };
    context.beginPath();
    if (from < first)
        context.moveToPoint(map.x(map.from), map.y(edge(from, first, map.from)));
    for (std::size_t row = first; row < last; ++row) {
        const float x = map.x(recording.time(row)), y = map.y(recording.value(series, row));
        if (row == first && from == first)
            context.moveToPoint(x, y);
        else
            context.addLineToPoint(x, y);
    }
    if (last < to)
        context.addLineToPoint(map.x(map.to), map.y(edge(last - 1, last, map.to)));
    context.strokePath();
}

// Many rows: per pixel column a bar from the column's minimum to its maximum, so that every
// extreme shows however far the plot is zoomed out. Each bar also reaches the range of the
// column before it, as the line between them would. Bars are filled rectangles rather than a
// stroked zigzag: a stroke's cost grows with its joins and slanted edges, a bar's only with
// its pixels.
void drawColumns(DrawingContext& context, const Mapping& map, const std::vector<Column>& columns,
                 Series series, drawing::Color c, std::size_t from, std::size_t to) {
    context.setRGBFillColor(c.red, c.green, c.blue, 1.0f);
    // Bars go to the context in batches, which spares the backend its per-call set-up on each
    // of a redraw's thousands of bars, without a buffer that grows with the width.
    std::array<drawing::Rect, 256> bars;
    std::size_t batched = 0;
    const MinMax* previous = nullptr;
    to = std::min(to, columns.size());
    // The last column before the first drawn joins it, as on a whole redraw.
    for (std::size_t i = from; i-- > 0;) {
        if (!columns[i].empty) {
            previous = &columns[i].series[std::size_t(series)];
            break;
        }
    }
    for (std::size_t i = from; i < to; ++i) {
        if (columns[i].empty)
            continue;
        const MinMax& m = columns[i].series[std::size_t(series)];
        float low = m.min, high = m.max;
        if (previous) {
            high = std::max(high, previous->min);
            low = std::min(low, previous->max);
        }
        previous = &m;
        const float top = map.y(high), bottom = map.y(low);
        // A flat column still needs a visible line.
        const float height = std::max(bottom - top, 1.25f);
        bars[batched++] = {map.area.x + float(i), (top + bottom - height) / 2.0f, 1.0f, height};
        if (batched == bars.size()) {
            context.fillRects(bars);
            batched = 0;
        }
    }
    context.fillRects(std::span<const drawing::Rect>(bars.data(), batched));
}

void verticalLine(DrawingContext& context, const Mapping& map, Rect all, double seconds) {
    const float x = map.pixel(seconds) + 0.5f;
    context.beginPath();
    context.moveToPoint(x, all.y);
    context.addLineToPoint(x, all.y + all.height);
    context.strokePath();
}

bool inSpan(const Mapping& map, double seconds) {
    return seconds >= map.from && seconds <= map.to;
}

void drawMarkers(drawing::DrawingContext& context, const Mapping& map, drawing::Rect all,
                 const PlotView& view, const PlotStyle& style) {
    setStroke(context, style.marker);
    context.setLineWidth(1.0f);
    for (const Marker& marker : view.markers) {
        if (!inSpan(map, marker.time))
            continue;
        verticalLine(context, map, all, marker.time);
        // A small flag at the top with the note's first words.
        const float x = map.pixel(marker.time) + 3.0f;
        setFill(context, style.marker);
        context.drawAtPoint(marker.note.isEmpty() ? QStringLiteral("◆") : marker.note.left(40),
                            {x, all.y + 2.0f}, kLabelFont);
    }
}

void drawMeasuringCursors(drawing::DrawingContext& context, const Mapping& map, drawing::Rect all,
                          const PlotView& view, const PlotStyle& style) {
    const std::pair<const std::optional<double>*, const char*> cursors[] = {{&view.cursorA, "A"},
                                                                            {&view.cursorB, "B"}};
    context.setLineWidth(1.5f);
    for (const auto& [at, name] : cursors) {
        if (!*at || !inSpan(map, **at))
            continue;
        setStroke(context, style.cursor);
        verticalLine(context, map, all, **at);
        setFill(context, style.cursor);
        context.drawAtPoint(QLatin1String(name),
                            {map.pixel(**at) + 4.0f, all.y + all.height - 16.0f}, kLabelFont);
    }
}

void drawSelection(drawing::DrawingContext& context, const Mapping& map, drawing::Rect all,
                   const PlotView& view) {
    if (!view.selection)
        return;
    const float a =
        map.x(std::max(map.from, std::min(view.selection->first, view.selection->second)));
    const float b =
        map.x(std::min(map.to, std::max(view.selection->first, view.selection->second)));
    context.setRGBFillColor(0.35f, 0.55f, 1.0f, 0.25f);
    context.fillRect({a, all.y, std::max(1.0f, b - a), all.height});
}

void drawReadout(drawing::DrawingContext& context, const Mapping& map, drawing::Rect all,
                 const RecordingSeries& recording, const PlotView& view, drawing::Rect bounds,
                 const PlotStyle& style) {
    if (!style.readout || !view.cursor || recording.isEmpty() || !inSpan(map, *view.cursor))
        return;
    context.setGrayStrokeColor(style.label.red, 0.6f);
    context.setLineWidth(1.0f);
    verticalLine(context, map, all, *view.cursor);

    const std::size_t row = recording.nearestRow(*view.cursor);
    float at = bounds.x + kLeft;
    setFill(context, style.label);
    at += context
              .drawAtPoint(QStringLiteral("%1 s").arg(double(recording.time(row)), 0, 'f', 3),
                           {at, bounds.y + 5.0f}, kLabelFont)
              .width +
          14.0f;
    const QString unit = unitName(view.units);
    for (int s = 0; s < kSeriesCount; ++s) {
        if (!view.shown[std::size_t(s)])
            continue;
        const drawing::Color c = seriesColor(Series(s), style.theme);
        // Pure blue is hard to read as text on the dark ground; lighten it a little.
        context.setRGBFillColor(std::max(c.red, 0.3f), std::max(c.green, 0.3f),
                                std::max(c.blue, 0.3f), 1.0f);
        const QString text =
            QStringLiteral("%1 %2 %3")
                .arg(seriesName(Series(s)))
                .arg(double(recording.value(Series(s), row)) * map.scale, 0, 'f', 3)
                .arg(unit);
        at += context.drawAtPoint(text, {at, bounds.y + 5.0f}, kLabelFont).width + 14.0f;
    }
}

// The g range of one series (or of all shown ones) over the columns, fixed or fitted.
std::pair<double, double> panelRange(const std::vector<Column>& columns, const PlotView& view,
                                     std::optional<Series> only) {
    if (view.fixedRange)
        return *view.fixedRange;
    if (!only)
        return valueRange(columns, view);
    PlotView one = view;
    one.shown.fill(false);
    one.shown[std::size_t(*only)] = true;
    return valueRange(columns, one);
}

// Panels: one for all shown traces, or one per shown trace.
std::vector<std::optional<Series>> panelSeriesOf(const PlotView& view) {
    std::vector<std::optional<Series>> panelSeries;
    if (view.layout == PanelLayout::Stacked) {
        for (int s = 0; s < kSeriesCount; ++s)
            if (view.shown[std::size_t(s)])
                panelSeries.emplace_back(Series(s));
    }
    if (panelSeries.empty())
        panelSeries.emplace_back(std::nullopt);
    return panelSeries;
}

} // namespace

std::vector<double> niceTicks(double low, double high, int target, double* step) {
    std::vector<double> ticks;
    if (!(high > low) || target < 1 || !std::isfinite(low) || !std::isfinite(high))
        return ticks;
    const double rough = (high - low) / target;
    // A span that divides exactly (a minute in six) must give the same step whichever way its
    // last bit fell: a live view works its span out anew each frame, and a step that flipped
    // between 10 and 20 would move the grid under the picture.
    const double power = std::pow(10.0, std::floor(std::log10(rough) + 1e-9));
    double nice = 10.0 * power;
    for (double m : {1.0, 2.0, 5.0}) {
        if (m * power >= rough * (1.0 - 1e-9)) {
            nice = m * power;
            break;
        }
    }
    if (step)
        *step = nice;
    for (double k = std::ceil(low / nice - 1e-9); k * nice <= high + nice * 1e-9; k += 1.0)
        ticks.push_back(k * nice);
    return ticks;
}

drawing::Rect plotArea(drawing::Rect bounds, bool readout) {
    const float top = readout ? kTop : 8.0f;
    return {bounds.x + kLeft, bounds.y + top, std::max(1.0f, bounds.width - kLeft - kRight),
            std::max(1.0f, bounds.height - top - kBottom)};
}

double unitScale(Units units) {
    return units == Units::G ? 1.0 : kStandardGravity;
}

QString unitName(Units units) {
    return units == Units::G ? QStringLiteral("g") : QStringLiteral("m/s²");
}

PlotStyle PlotStyle::forTheme(PlotTheme theme) {
    using drawing::Color;
    if (theme == PlotTheme::Light)
        return {theme,
                drawing::Color{1, 1, 1, 1},
                drawing::Color{1, 1, 1, 1},
                drawing::Color{0.86f, 0.86f, 0.86f, 1},
                drawing::Color{0.6f, 0.6f, 0.6f, 1},
                drawing::Color{0.2f, 0.2f, 0.2f, 1},
                drawing::Color{0.8f, 0.45f, 0, 1},
                drawing::Color{0.55f, 0.2f, 0.75f, 1},
                true};
    return {theme,
            drawing::Color{0, 0, 0, 1},
            drawing::Color{0.07f, 0.07f, 0.07f, 1},
            drawing::Color{0.22f, 0.22f, 0.22f, 1},
            drawing::Color{0.45f, 0.45f, 0.45f, 1},
            drawing::Color{0.75f, 0.75f, 0.75f, 1},
            drawing::Color{1.0f, 0.75f, 0.2f, 1},
            drawing::Color{0.85f, 0.55f, 1.0f, 1},
            true};
}

drawing::Color seriesColor(Series series, PlotTheme theme) {
    const bool light = theme == PlotTheme::Light;
    switch (series) {
    case Series::X:
        return {light ? 0.85f : 1.0f, 0.0f, 0.0f, 1.0f};
    case Series::Y:
        // Pure green is too pale to read on white.
        return {0.0f, light ? 0.6f : 1.0f, 0.0f, 1.0f};
    case Series::Z:
        return {0.0f, 0.0f, 1.0f, 1.0f};
    case Series::Magnitude:
        break;
    }
    return light ? drawing::Color{0, 0, 0, 1} : drawing::Color::whiteColor();
}

namespace {

// The grounds are whole pixels and opaque: filled without antialiasing they are plain stores,
// which matters at 1920 x 1080. The frame around the plot area `all` is filled in four strips so
// that no pixel is written twice.
void drawGrounds(DrawingContext& context, Rect bounds, Rect all, const PlotStyle& style) {
    context.setAllowsAntialiasing(false);
    setFill(context, style.ground);
    context.fillRect({bounds.x, bounds.y, bounds.width, all.y - bounds.y});
    context.fillRect({bounds.x, all.y + all.height, bounds.width,
                      bounds.y + bounds.height - all.y - all.height});
    context.fillRect({bounds.x, all.y, all.x - bounds.x, all.height});
    context.fillRect(
        {all.x + all.width, all.y, bounds.x + bounds.width - all.x - all.width, all.height});
    setFill(context, style.area);
    context.fillRect(all);
    context.setAllowsAntialiasing(true);
}

} // namespace

QString seriesName(Series series) {
    static const char* const names[] = {"X", "Y", "Z", "|a|"};
    return QString::fromLatin1(names[int(series)]);
}

std::vector<Panel> drawPlot(DrawingContext& context, Rect bounds, const RecordingSeries& recording,
                            const PlotView& view, std::vector<Column>& columns,
                            const PlotStyle& style, const GivenColumns* given) {
    const Rect all = plotArea(bounds, style.readout);
    drawGrounds(context, bounds, all, style);

    Mapping time{all, view.from, view.to, -1.0, 1.0, unitScale(view.units)};
    if (!(time.to > time.from))
        time.to = time.from + 1.0;
    const int width = int(all.width);
    if (given) {
        time.columnSeconds = given->columnSeconds;
        time.firstColumn = std::round(time.from / given->columnSeconds);
    }
    if (!given)
        recording.columns(time.from, time.to, width, &columns);
    drawTimeGrid(context, time, all, style, given ? &given->dirty : nullptr);

    const std::vector<std::optional<Series>> panelSeries = panelSeriesOf(view);
    constexpr float kGap = 10.0f;
    const float panelHeight = std::max(1.0f, (all.height - kGap * float(panelSeries.size() - 1)) /
                                                 float(panelSeries.size()));

    // Only the columns under the part to draw, and the value labels only when it reaches left
    // of the plot area, where they stand.
    std::size_t firstColumn = 0, endColumn = columns.size();
    bool valueLabels = true;
    if (given) {
        const float left = std::floor(given->dirty.x - all.x);
        const float right = std::ceil(given->dirty.x + given->dirty.width - all.x);
        firstColumn = std::size_t(std::clamp(left, 0.0f, float(columns.size())));
        endColumn = std::size_t(std::clamp(right, 0.0f, float(columns.size())));
        valueLabels = given->dirty.x < all.x;
    }
    const std::size_t rows = given || recording.isEmpty()
                                 ? 0
                                 : recording.rowAfter(time.to) - recording.rowAtOrAfter(time.from);
    const bool everyRow = !given && rows <= std::size_t(width);
    const bool traces = given ? !columns.empty() : !recording.isEmpty();
    const QByteArray unit = unitName(view.units).toUtf8();
    std::vector<Panel> panels;
    for (std::size_t p = 0; p < panelSeries.size(); ++p) {
        Mapping map = time;
        map.area = {all.x, all.y + float(p) * (panelHeight + kGap), all.width, panelHeight};
        if (p > 0) {
            setFill(context, style.ground);
            context.fillRect({all.x, map.area.y - kGap, all.width, kGap});
        }
        std::tie(map.low, map.high) = given && p < given->ranges.size()
                                          ? given->ranges[p]
                                          : panelRange(columns, view, panelSeries[p]);
        panels.push_back({map.area, map.low, map.high});
        drawValueGrid(context, map, style, unit.constData(), valueLabels);
        if (!traces)
            continue;
        context.setLineWidth(1.25f);
        for (Series series : {Series::Magnitude, Series::Z, Series::Y, Series::X}) {
            if (!view.shown[std::size_t(series)] || (panelSeries[p] && *panelSeries[p] != series))
                continue;
            const drawing::Color c = seriesColor(series, style.theme);
            setStroke(context, c);
            if (everyRow)
                drawRows(context, map, recording, series);
            else
                drawColumns(context, map, columns, series, c, firstColumn, endColumn);
        }
    }
    drawSelection(context, time, all, view);
    drawMarkers(context, time, all, view, style);
    drawMeasuringCursors(context, time, all, view, style);
    drawReadout(context, time, all, recording, view, bounds, style);
    return panels;
}

std::vector<std::pair<double, double>> panelRanges(const std::vector<Column>& columns,
                                                   const PlotView& view) {
    std::vector<std::pair<double, double>> ranges;
    for (const std::optional<Series>& series : panelSeriesOf(view))
        ranges.push_back(panelRange(columns, view, series));
    return ranges;
}

void drawSpectrum(DrawingContext& context, Rect bounds, const Spectrum& spectrum, Series series) {
    context.setAllowsAntialiasing(true);
    context.setGrayFillColor(0.0f, 1.0f);
    context.fillRect(bounds);
    const drawing::Rect area{bounds.x + 8.0f, bounds.y + 18.0f,
                             std::max(1.0f, bounds.width - 16.0f),
                             std::max(1.0f, bounds.height - 36.0f)};
    context.setGrayFillColor(0.07f, 1.0f);
    context.fillRect(area);
    if (spectrum.amplitude.size() < 2)
        return;
    const double nyquist = spectrum.binHz * double(spectrum.amplitude.size() - 1);
    const float top = *std::max_element(spectrum.amplitude.begin() + 1, spectrum.amplitude.end());
    double step = 1.0;
    for (double hz : niceTicks(0.0, nyquist, std::max(2, int(area.width / 70.0f)), &step)) {
        const QString label = tickLabel(hz, step, "Hz");
        const float x = area.x + float(hz / nyquist) * area.width;
        context.setGrayFillColor(0.75f, 1.0f);
        context.drawAtPoint(label,
                            {std::clamp(x - textWidth(label, kLabelFont) / 2.0f, bounds.x,
                                        bounds.x + bounds.width - textWidth(label, kLabelFont)),
                             area.y + area.height + 3.0f},
                            kLabelFont);
    }
    // One min/max stroke per pixel column, as for the traces.
    const drawing::Color c = seriesColor(series);
    context.setRGBStrokeColor(std::max(c.red, 0.3f), std::max(c.green, 0.3f),
                              std::max(c.blue, 0.3f), 1.0f);
    context.setLineWidth(1.0f);
    context.beginPath();
    const std::size_t bins = spectrum.amplitude.size();
    const int width = int(area.width);
    for (int px = 0; px < width; ++px) {
        const std::size_t b0 = bins * std::size_t(px) / std::size_t(width);
        const std::size_t b1 = std::max(b0 + 1, bins * std::size_t(px + 1) / std::size_t(width));
        float peak = 0.0f;
        for (std::size_t b = b0; b < std::min(b1, bins); ++b)
            peak = std::max(peak, spectrum.amplitude[b]);
        const float y = area.y + area.height - (top > 0.0f ? peak / top : 0.0f) * area.height;
        const float x = area.x + float(px) + 0.5f;
        if (px == 0)
            context.moveToPoint(x, y);
        else
            context.addLineToPoint(x, y);
    }
    context.strokePath();
    context.setGrayFillColor(0.9f, 1.0f);
    const QString title =
        spectrum.dominantHz
            ? QStringLiteral("%1: strongest at %2 Hz")
                  .arg(seriesName(series))
                  .arg(*spectrum.dominantHz, 0, 'f', *spectrum.dominantHz < 1.0 ? 3 : 2)
            : QStringLiteral("%1: no dominant frequency").arg(seriesName(series));
    context.drawAtPoint(title, {area.x, bounds.y + 2.0f}, kLabelFont);
}

} // namespace features::analysis
