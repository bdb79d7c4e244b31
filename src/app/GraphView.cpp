#include "app/GraphView.h"

#include "drawing/PainterContext.h"

#include <QFontMetricsF>
#include <QPaintEvent>
#include <algorithm>
#include <cmath>
#include <utility>

namespace app {

using drawing::DrawingContext;
using drawing::Font;
using drawing::Rect;

namespace {

// The readouts' places, whatever the view's size; 140 points apart.
constexpr Rect kReadoutRects[GraphView::kAxisCount] = {
    {110.0f, 106.0f, 150.0f, 130.0f},
    {110.0f, 246.0f, 150.0f, 130.0f},
    {110.0f, 386.0f, 150.0f, 130.0f},
};
constexpr float kReadoutSize = 14.0f;

// How far a trace's pixels reach beyond its points, in points: half its width of 2, a miter
// at the pen's limit of twice the width, and a few device pixels of antialiasing at the
// smallest window.
constexpr float kTraceReach = 10.0f;

} // namespace

GraphView::GraphView(QWidget* parent) : View(parent) {}

void GraphView::updateHistoryWithX(float x, float y, float z) {
    const float inputs[kAxisCount] = {x, y, z};
    if (filteringIsEnabled_) {
        // Axis by axis: the new low-pass state first, then the sample minus that new state.
        for (unsigned a = 0; a < kAxisCount; ++a) {
            const double in = inputs[a];
            acceleration[a] = (in * kNewSampleWeight) + (kOldStateWeight * acceleration[a]);
            history[nextIndex][a] = in - acceleration[a];
        }
    } else {
        for (unsigned a = 0; a < kAxisCount; ++a)
            history[nextIndex][a] = inputs[a];
    }
    nextIndex = (nextIndex + 1) % kHistoryLength;
    if (updatingIsEnabled_)
        setNeedsDisplay();
}

void GraphView::setFilteringEnabled(bool flag) {
    filteringIsEnabled_ = flag ? 1 : 0;
    for (double& state : acceleration)
        state = 0.0;
}

Rect GraphView::stripRect(unsigned axis, float width, float height) {
    // Each strip is a quarter of the height, centred in its third.
    const float third = height / 3.0f;
    const float quarter = height * 0.25f;
    const float margin = (third - quarter) * 0.5f;
    return Rect{0.0f, margin + third * static_cast<float>(axis), width, quarter};
}

void GraphView::drawRect(DrawingContext& context, Rect /*rect*/) {
    context.setAllowsAntialiasing(true);
    const Rect viewBounds = bounds();
    // Read once, so the three strips show the same 150 slots.
    const std::uint32_t from = nextIndex;
    for (std::uint32_t i = 0; i < kAxisCount; ++i)
        drawHistory(i, from, context, stripRect(i, viewBounds.width, viewBounds.height));
    drawReadout(context);
}

void GraphView::drawHistory(std::uint32_t axis, std::uint32_t fromIndex, DrawingContext& context,
                            Rect bounds) {
    if (axis >= kAxisCount)
        return;
    const Rect frame = this->bounds();
    drawBackground(context, bounds);
    context.drawLayer(gridLayers_[axis], frame, bounds,
                      [this, bounds](DrawingContext& layer) { drawGrid(layer, bounds); });
    drawTrace(axis, fromIndex, context, bounds);
    context.drawLayer(
        labelLayers_[axis], frame, bounds,
        [this, axis, bounds](DrawingContext& layer) { drawLabels(axis, layer, bounds); });
}

namespace {

// The y of a line k sixths of the strip's height below its middle, to the nearest whole point
// (halfway cases away from zero). The sum is formed in double and narrowed before rounding, so
// 52.5 goes to 53 and 87.5 to 88.
float roundedSixth(float mid, float k, float h) {
    const double exact =
        static_cast<double>(mid) + (static_cast<double>(k) / 6.0) * static_cast<double>(h);
    return std::round(static_cast<float>(exact));
}

// A horizontal line of one point at `y`, moved by less than half a device pixel and widened to
// whole device pixels, at a scale that is not a whole number: at 1.5 a one-point line is 1.5
// pixels wide and would fall now on, now between pixel rows, some lines sharp and some soft.
// At whole scales the line is left as it is. Returns the y and the width to stroke.
std::pair<float, float> deviceAlignedLine(const DrawingContext& context, float x, float y) {
    const drawing::Point top = context.convertPointToDeviceSpace({x, y});
    const drawing::Point below = context.convertPointToDeviceSpace({x, y + 1.0f});
    const double scale = double(below.y) - double(top.y);
    if (scale <= 0.0 || std::abs(scale - std::round(scale)) < 1e-3)
        return {y, 1.0f};
    const double pixels = std::max(1.0, std::round(scale));
    const double edge = std::round(double(top.y) - pixels / 2.0);
    const drawing::Point aligned =
        context.convertPointToUserSpace({top.x, float(edge + pixels / 2.0)});
    return {aligned.y, float(pixels / scale)};
}

// The strip's zero line before rounding; +kFullScale lies on the top edge, -kFullScale on the
// bottom edge.
float middleOf(Rect bounds) {
    return bounds.y + bounds.height * 0.5f;
}

} // namespace

void GraphView::drawBackground(DrawingContext& context, Rect bounds) const {
    // Translucent, so the skin shows through the strips.
    context.setGrayFillColor(0.1f, 0.6f);
    context.fillRect(bounds);
}

void GraphView::drawGrid(DrawingContext& context, Rect bounds) const {
    const float x = bounds.x;
    const float y = bounds.y;
    const float h = bounds.height;
    const float mid = middleOf(bounds);
    const float right = x + bounds.width;

    // Whole g: +2, +1, -1, -2 (k sixths of the height below the middle).
    context.setGrayStrokeColor(1.0f, 1.0f);
    context.beginPath();
    float lineWidth = 1.0f;
    for (float k = -2.0f; k <= 2.0f; k += 1.0f) {
        if (k == 0.0f)
            continue;
        const auto [yk, width] = deviceAlignedLine(context, x, roundedSixth(mid, k, h));
        lineWidth = width;
        context.moveToPoint(x, yk);
        context.addLineToPoint(right, yk);
    }
    if (lineWidth != 1.0f)
        context.setLineWidth(lineWidth);
    context.strokePath();

    context.setGrayStrokeColor(1.0f, 1.0f);
    context.beginPath();
    const float y0 = deviceAlignedLine(context, x, std::round(mid)).first;
    context.moveToPoint(x, y0);
    context.addLineToPoint(right, y0);
    context.strokePath();
    if (lineWidth != 1.0f)
        context.setLineWidth(1.0f);

    // The edges are not rounded: with a height that is not a multiple of 4 they fall between
    // pixels and are antialiased.
    context.setGrayStrokeColor(0.25f, 1.0f);
    context.beginPath();
    context.moveToPoint(x, y);
    context.addLineToPoint(right, y);
    context.moveToPoint(x, y + h);
    context.addLineToPoint(right, y + h);
    context.strokePath();
}

void GraphView::drawTrace(std::uint32_t axis, std::uint32_t fromIndex, DrawingContext& context,
                          Rect bounds) const {
    const float x = bounds.x;
    const float w = bounds.width;
    const float h = bounds.height;
    const float mid = middleOf(bounds);

    static constexpr float kIntervals = float(kHistoryLength - 1);
    const drawing::GStateSaver saved(context);
    if (axis == 2) {
        // Pure blue is too dark to stand out from the dark strip (under 2:1); this lighter
        // blue, the Z swatch of the settings screen, reaches about 5:1 and still reads as blue.
        context.setRGBStrokeColor(74.0f / 255.0f, 140.0f / 255.0f, 1.0f, 1.0f);
    } else {
        context.setRGBStrokeColor(axis == 0 ? 1.0f : 0.0f, axis == 1 ? 1.0f : 0.0f, 0.0f, 1.0f);
    }
    context.beginPath();
    for (std::uint32_t n = 0; n < kHistoryLength; ++n) {
        const std::uint32_t slot = (fromIndex + n) % kHistoryLength;
        const double s = history[slot][axis];
        // Scaled in double, then everything in float: h first, then the half, then the middle.
        const auto v = static_cast<float>(s / -kFullScale);
        const float py = v * h * 0.5f + mid;
        // One interval fewer than samples: the oldest on the left edge, the newest on the right.
        const float px = n == 0 ? x + w * 0.0f : x + (static_cast<float>(n) / kIntervals) * w;
        if (n == 0)
            context.moveToPoint(px, py);
        else
            context.addLineToPoint(px, py);
    }
    context.setLineWidth(2.0f);
    context.strokePath();
}

void GraphView::drawLabels(std::uint32_t axis, DrawingContext& context, Rect bounds) const {
    const float x = bounds.x;
    const float h = bounds.height;
    const float mid = middleOf(bounds);
    const float right = x + bounds.width;
    const Font font = Font::systemFontOfSize(12.0f);

    // Positive labels hang from their own line (+3.0 from the top edge); negative ones take the
    // place of the line one g above their value, 3 points lower.
    context.setGrayFillColor(1.0f, 1.0f);
    for (float t = -3.0f; t <= 2.0f; t += 1.0f) {
        const float ty = roundedSixth(mid, t, h);
        const double value = t < 0.0f ? -static_cast<double>(t) : -(static_cast<double>(t) + 1.0);
        const QString text = QString::asprintf("%+.1f", value);
        const drawing::Point at =
            t < 0.0f ? drawing::Point{x + 4.0f, ty} : drawing::Point{x + 4.0f, ty + 3.0f};
        context.drawAtPoint(text, at, font);
    }

    const float y0 = std::round(mid);
    const QString name = QString::asprintf("%c Axis", static_cast<char>('X' + axis));
    context.drawAtPoint(name, drawing::Point{right - 40.0f, y0 - 16.0f}, font);
}

QString GraphView::readoutText(unsigned axis) const {
    return QString::asprintf("G-Force %c: %+.2f", static_cast<char>('X' + axis),
                             acceleration[axis]);
}

void GraphView::drawReadout(DrawingContext& context) const {
    const Font font = Font::systemFontOfSize(kReadoutSize);
    context.setColor(drawing::Color::whiteColor());
    for (unsigned a = 0; a < kAxisCount; ++a)
        context.drawInRect(readoutText(a), kReadoutRects[a], font, drawing::LineBreakMode::WordWrap,
                           drawing::TextAlignment::Left);
}

GraphView::Band GraphView::traceBand(unsigned axis) const {
    const Rect strip = stripRect(axis, float(width()), float(height()));
    double lowest = history[0][axis];
    double highest = lowest;
    for (std::uint32_t slot = 1; slot < kHistoryLength; ++slot) {
        lowest = std::min(lowest, history[slot][axis]);
        highest = std::max(highest, history[slot][axis]);
    }
    // As drawTrace() places a sample; larger values lie higher.
    const auto rowOf = [&](double s) {
        return static_cast<float>(s / -kFullScale) * strip.height * 0.5f + middleOf(strip);
    };
    const float top = rowOf(highest) - kTraceReach;
    const float bottom = rowOf(lowest) + kTraceReach;
    // A value that is not a number may be drawn anywhere; infinite ones reach the edges.
    if (std::isnan(top) || std::isnan(bottom))
        return Band{0.0f, float(height())};
    return Band{std::max(top, 0.0f), std::min(bottom, float(height()))};
}

QRegion GraphView::regionToRedraw() const {
    if (drawnSize_ != size())
        return rect();
    QRegion region;
    const auto addRows = [&](Band band) {
        if (band.top <= band.bottom)
            region += QRect(0, int(std::floor(band.top)), width(),
                            int(std::ceil(band.bottom)) - int(std::floor(band.top)) + 1);
    };
    for (unsigned a = 0; a < kAxisCount; ++a) {
        addRows(traceBand(a));
        addRows(drawnBands_[a]);
        const QString text = readoutText(a);
        if (text != drawnReadouts_[a]) {
            // The old text and the new, laid out as the painter lays them out.
            const QFontMetricsF metrics(
                drawing::PainterContext::qtFont(drawing::Font::systemFontOfSize(kReadoutSize)));
            const Rect& r = kReadoutRects[a];
            const QRectF place(r.x, r.y, r.width, r.height);
            for (const QString& shown : {text, drawnReadouts_[a]})
                region +=
                    metrics
                        .boundingRect(place, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, shown)
                        .toAlignedRect()
                        .adjusted(-2, -2, 2, 2);
        }
    }
    return region & rect();
}

void GraphView::paintEvent(QPaintEvent* event) {
    const QRegion needed = regionToRedraw();
    const QRegion painted =
        requestedRegion().isEmpty() ? event->region() : event->region() & requestedRegion();
    Band bands[kAxisCount];
    QString readouts[kAxisCount];
    for (unsigned a = 0; a < kAxisCount; ++a) {
        bands[a] = traceBand(a);
        readouts[a] = readoutText(a);
    }
    View::paintEvent(event);
    const bool whole = needed.subtracted(painted).isEmpty();
    if (whole) {
        drawnSize_ = size();
        for (unsigned a = 0; a < kAxisCount; ++a) {
            drawnBands_[a] = bands[a];
            drawnReadouts_[a] = readouts[a];
        }
        return;
    }
    // Drawn only in part: the old traces may still show outside this paint, and the readouts
    // as they were; they are drawn again in the next frame.
    for (unsigned a = 0; a < kAxisCount; ++a) {
        drawnBands_[a].top = std::min(drawnBands_[a].top, bands[a].top);
        drawnBands_[a].bottom = std::max(drawnBands_[a].bottom, bands[a].bottom);
    }
    if (updatingIsEnabled_)
        setNeedsDisplay();
}

} // namespace app
