#include "Classes/GraphView.h"

#include <cmath>

using platform::DrawingContext;
using platform::Font;
using platform::Rect;

GraphView::GraphView(QWidget* parent) : View(parent) {}

void GraphView::updateHistoryWithX(float x, float y, float z) {
    const float inputs[kAxisCount] = {x, y, z};
    if (filteringIsEnabled_) {
        // Axis by axis: the new low-pass state first, then the sample minus that new state.
        for (unsigned a = 0; a < kAxisCount; ++a) {
            const double in = inputs[a];
            acceleration[a] = (in * 0.1) + (0.9 * acceleration[a]);
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

void GraphView::drawRect(DrawingContext& context, Rect /*rect*/) {
    const Rect viewBounds = bounds();
    const float bw = viewBounds.width;
    const float bh = viewBounds.height;
    const std::uint32_t from = nextIndex;
    // Each strip is a quarter of the height, centred in its third.
    const float third = bh / 3.0f;
    const float quarter = bh * 0.25f;
    const float margin = (third - quarter) * 0.5f;
    context.setAllowsAntialiasing(true);
    for (std::uint32_t i = 0; i < kAxisCount; ++i)
        drawHistory(i, from, context, Rect{0.0f, margin + third * static_cast<float>(i), bw, quarter});
    drawReadout(context);
}

namespace {

// The y of a line k sixths of the strip's height below its middle, to the nearest whole point.
// The sum is formed in double, as the grid and the labels must agree on it.
float roundedSixth(float mid, float k, float h) {
    const double exact = static_cast<double>(mid) + (static_cast<double>(k) / 6.0) * h;
    return std::round(static_cast<float>(exact));
}

} // namespace

void GraphView::drawHistory(std::uint32_t axis, std::uint32_t fromIndex, DrawingContext& context,
                            Rect bounds) {
    const float x = bounds.x;
    const float y = bounds.y;
    const float w = bounds.width;
    const float h = bounds.height;
    const float mid = y + h * 0.5f;
    const float right = x + w;
    const Font font = Font::systemFontOfSize(12.0f);

    context.setGrayFillColor(0.1f, 0.6f);
    context.fillRect(bounds);

    context.setGrayStrokeColor(1.0f, 1.0f);
    context.beginPath();
    for (float k = -2.0f; k <= 2.0f; k += 1.0f) {
        if (k == 0.0f)
            continue;
        const float yk = roundedSixth(mid, k, h);
        context.moveToPoint(x, yk);
        context.addLineToPoint(right, yk);
    }
    context.strokePath();

    context.setGrayStrokeColor(1.0f, 1.0f);
    context.beginPath();
    const float y0 = std::round(mid);
    context.moveToPoint(x, y0);
    context.addLineToPoint(right, y0);
    context.strokePath();

    context.setGrayStrokeColor(0.25f, 1.0f);
    context.beginPath();
    context.moveToPoint(x, y);
    context.addLineToPoint(right, y);
    context.moveToPoint(x, y + h);
    context.addLineToPoint(right, y + h);
    context.strokePath();

    context.setRGBStrokeColor(axis == 0 ? 1.0f : 0.0f, axis == 1 ? 1.0f : 0.0f,
                              axis == 2 ? 1.0f : 0.0f, 1.0f);
    context.beginPath();
    for (std::uint32_t n = 0; n < kHistoryLength; ++n) {
        const std::uint32_t slot = (fromIndex + n) % kHistoryLength;
        const double s = history[slot][axis];
        const auto v = static_cast<float>(s / -3.0);
        const float py = v * h * 0.5f + mid;
        // 149 intervals: the oldest sample on the left edge, the newest on the right edge.
        const float px = n == 0 ? x + w * 0.0f : x + (static_cast<float>(n) / 149.0f) * w;
        if (n == 0)
            context.moveToPoint(px, py);
        else
            context.addLineToPoint(px, py);
    }
    context.setLineWidth(2.0f);
    context.strokePath();
    context.setLineWidth(1.0f);

    context.setGrayFillColor(1.0f, 1.0f);
    for (float t = -3.0f; t <= 2.0f; t += 1.0f) {
        const float ty = roundedSixth(mid, t, h);
        const double value = t < 0.0f ? -static_cast<double>(t) : -(static_cast<double>(t) + 1.0);
        const QString text = QString::asprintf("%+.1f", value);
        const platform::Point at = t < 0.0f ? platform::Point{x + 4.0f, ty}
                                            : platform::Point{x + 4.0f, ty + 3.0f};
        context.drawAtPoint(text, at, font);
    }

    const QString name = QString::asprintf("%c Axis", static_cast<char>(88 + axis));
    context.drawAtPoint(name, platform::Point{right - 40.0f, y0 - 16.0f}, font);
}

void GraphView::drawReadout(DrawingContext& context) {
    const Font font = Font::systemFontOfSize(14.0f);
    const QString lines[kAxisCount] = {
        QString::asprintf("G-Force X: %+.2f", acceleration[0]),
        QString::asprintf("G-Force Y: %+.2f", acceleration[1]),
        QString::asprintf("G-Force Z: %+.2f", acceleration[2]),
    };
    static constexpr Rect kRects[kAxisCount] = {
        {110.0f, 106.0f, 150.0f, 130.0f},
        {110.0f, 246.0f, 150.0f, 130.0f},
        {110.0f, 386.0f, 150.0f, 130.0f},
    };
    context.setColor(platform::Color::whiteColor());
    for (unsigned a = 0; a < kAxisCount; ++a)
        context.drawInRect(lines[a], kRects[a], font, platform::LineBreakMode::WordWrap,
                           platform::TextAlignment::Left);
}
