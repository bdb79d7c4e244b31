#pragma once

#include "platform/DrawingContext.h"

#include <QWidget>

namespace platform {

// A widget that draws itself through a DrawingContext.
//
// setNeedsDisplay() marks the whole view for drawing; any number of requests before the next
// paint give one drawRect() call, on the main thread, with the view's bounds. Views are not
// opaque: what lies behind them (a skin image) shows through wherever they do not draw.
class View : public QWidget {
    Q_OBJECT
public:
    explicit View(QWidget* parent = nullptr);

    // Marks the whole view for drawing at the next paint.
    virtual void setNeedsDisplay();
    // The view's rectangle in its own coordinates: origin (0, 0) and its size in points.
    Rect bounds() const;
    // Draws the view. `rect` is the area to draw, in the view's coordinates.
    virtual void drawRect(DrawingContext& context, Rect rect) = 0;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace platform
