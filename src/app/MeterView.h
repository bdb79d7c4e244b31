#pragma once

#include "drawing/View.h"

#include <cstdint>

namespace app {

// The meters screen's view: three needles (X upper middle, Y lower left, Z lower right) turning
// 30 degrees per g over the gauge faces of the skin behind it, where app/GaugeLayout.h puts
// them. It draws only the needles and their caps.
//
// Every sample is stored through X(); while updating is enabled each one requests a redraw.
// A new view has every field zero: the needles point straight up.
class MeterView : public drawing::View {
    Q_OBJECT
public:
    explicit MeterView(QWidget* parent = nullptr);

    // Stores the newest triple in g; requests a redraw while updating is enabled.
    void X(float x, float y, float z);

    // Setting the flag only stores it; the next sample requests the redraw. Turning it off
    // freezes the needles where they are: any later repaint (a button's hover or focus over the
    // gauges, the window uncovered) draws the same picture until updating is on again.
    void setUpdatingIsEnabled(std::int8_t flag);
    bool updatingIsEnabled() const { return updatingIsEnabled_ != 0; }

    double storedAcceleration(unsigned axis) const { return acceleration[axis]; }

    // Draws the needles; every position is an offset from the origin of `rect`.
    void drawRect(drawing::DrawingContext& context, drawing::Rect rect) override;

private:
    double acceleration[3] = {};
    // The reading shown while paused; frozen_ only after updating was on and turned off.
    double frozenAt_[3] = {};
    bool frozen_ = false;
    // Needle values, the negated readings, recomputed at every draw.
    float accX = 0.0f;
    float accY = 0.0f;
    float accZ = 0.0f;
    // One-byte flag: any non-zero value counts as enabled.
    std::int8_t updatingIsEnabled_ = 0;
};

} // namespace app
