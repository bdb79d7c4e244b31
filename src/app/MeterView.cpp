#include "app/MeterView.h"

#include <algorithm>
#include <cmath>
#include <iterator>

using platform::DrawingContext;
using platform::Rect;

MeterView::MeterView(QWidget* parent) : View(parent) {}

void MeterView::X(float x, float y, float z) {
    acceleration[0] = x;
    acceleration[1] = y;
    acceleration[2] = z;
    if (updatingIsEnabled_)
        setNeedsDisplay();
}

void MeterView::setUpdatingIsEnabled(std::int8_t flag) {
    if (updatingIsEnabled_ && !flag) {
        std::copy(std::begin(acceleration), std::end(acceleration), std::begin(frozenAt_));
        frozen_ = true;
    } else if (flag) {
        frozen_ = false;
    }
    updatingIsEnabled_ = flag;
}

namespace {

struct Tip {
    float x;
    float y;
};

// The needle turns 30 degrees per g, clockwise for positive values (negative angle), without
// limit: ±3 g lie horizontal, 6 g points straight down. The needle is 50 points long.
Tip needleTip(float value, float cx, float cy) {
    const double pi = 3.141592653589793;
    const double theta = static_cast<double>(static_cast<float>(((value * pi) * 30.0) / 180.0));
    return Tip{static_cast<float>(static_cast<double>(cx) + std::sin(theta) * -50.0),
               static_cast<float>(static_cast<double>(cy) + std::cos(theta) * -50.0)};
}

} // namespace

void MeterView::drawRect(DrawingContext& context, Rect rect) {
    const float ox = rect.x;
    const float oy = rect.y;
    const double* shown = frozen_ ? frozenAt_ : acceleration;
    accX = -static_cast<float>(shown[0]);
    accY = -static_cast<float>(shown[1]);
    accZ = -static_cast<float>(shown[2]);

    struct Gauge {
        float cx, cy;
        Tip tip;
    };
    const Gauge gauges[3] = {
        {ox + 241.0f, oy + 104.0f, needleTip(accX, ox + 241.0f, oy + 104.0f)},
        {ox + 94.0f, oy + 194.0f, needleTip(accY, ox + 94.0f, oy + 194.0f)},
        {ox + 386.0f, oy + 194.0f, needleTip(accZ, ox + 386.0f, oy + 194.0f)},
    };

    // Shadow: a black wedge with its base right of the pivot and its tip 2 points to the right.
    context.setRGBStrokeColor(0.0f, 0.0f, 0.0f, 1.0f);
    context.setLineWidth(1.5f);
    for (const Gauge& g : gauges) {
        for (float dx : {5.0f, 1.0f, 3.0f}) {
            context.moveToPoint(g.cx + dx, g.cy);
            context.addLineToPoint(g.tip.x + 2.0f, g.tip.y);
        }
    }
    context.strokePath();

    // Needle: a white wedge 4 points wide at the pivot.
    context.setRGBStrokeColor(1.0f, 1.0f, 1.0f, 1.0f);
    context.setLineWidth(1.5f);
    for (const Gauge& g : gauges) {
        for (float dx : {2.0f, -2.0f, 0.0f}) {
            context.moveToPoint(g.cx + dx, g.cy);
            context.addLineToPoint(g.tip.x, g.tip.y);
        }
    }
    context.strokePath();

    // Pivot caps: a white disc with a red disc inside, leaving a 1-point ring. The components
    // of 255 are clamped to 1 by the context.
    context.setRGBFillColor(255.0f, 255.0f, 255.0f, 1.0f);
    context.fillEllipseInRect(Rect{ox + 88.0f, oy + 188.0f, 12.0f, 12.0f});
    context.fillEllipseInRect(Rect{ox + 380.0f, oy + 188.0f, 12.0f, 12.0f});
    context.fillEllipseInRect(Rect{ox + 235.0f, oy + 98.0f, 12.0f, 12.0f});
    context.setRGBFillColor(255.0f, 0.0f, 0.0f, 1.0f);
    context.fillEllipseInRect(Rect{ox + 89.0f, oy + 189.0f, 10.0f, 10.0f});
    context.fillEllipseInRect(Rect{ox + 381.0f, oy + 189.0f, 10.0f, 10.0f});
    context.fillEllipseInRect(Rect{ox + 236.0f, oy + 99.0f, 10.0f, 10.0f});
}
