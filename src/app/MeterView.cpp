#include "app/MeterView.h"

#include "app/GaugeLayout.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <numbers>

namespace app {

using drawing::DrawingContext;
using drawing::Rect;

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

// `value` is the needle value, the negated reading, so a positive reading turns the needle
// clockwise; 6 g points straight down.
Tip needleTip(float value, float cx, float cy) {
    const double pi = std::numbers::pi;
    const double perG = gauge::kDegreesPerG;
    const double length = gauge::kNeedleLength;
    const double theta = static_cast<double>(static_cast<float>(((value * pi) * perG) / 180.0));
    return Tip{static_cast<float>(static_cast<double>(cx) + std::sin(theta) * -length),
               static_cast<float>(static_cast<double>(cy) + std::cos(theta) * -length)};
}

// A disc of `diameter` centred on the pivot.
Rect capRect(gauge::Pivot pivot, float ox, float oy, float diameter) {
    const float radius = diameter / 2.0f;
    return Rect{ox + (pivot.x - radius), oy + (pivot.y - radius), diameter, diameter};
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
    const float values[3] = {accX, accY, accZ};
    Gauge gauges[3];
    for (unsigned i = 0; i < 3; ++i) {
        const float cx = ox + gauge::kPivots[i].x;
        const float cy = oy + gauge::kPivots[i].y;
        gauges[i] = Gauge{cx, cy, needleTip(values[i], cx, cy)};
    }

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

    // Pivot caps, Y, Z, then X. The components of 255 are clamped to 1 by the context.
    static constexpr unsigned kCapOrder[3] = {1, 2, 0};
    context.setRGBFillColor(255.0f, 255.0f, 255.0f, 1.0f);
    for (unsigned i : kCapOrder)
        context.fillEllipseInRect(capRect(gauge::kPivots[i], ox, oy, gauge::kCapDiameter));
    context.setRGBFillColor(255.0f, 0.0f, 0.0f, 1.0f);
    for (unsigned i : kCapOrder)
        context.fillEllipseInRect(capRect(gauge::kPivots[i], ox, oy, gauge::kInnerCapDiameter));
}

} // namespace app
