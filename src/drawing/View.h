#pragma once

#include "drawing/DrawingContext.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

namespace drawing {

// A widget that draws itself through a DrawingContext.
//
// setNeedsDisplay() marks the view for drawing; any number of requests before the next display
// frame give one drawRect() call, on the main thread, with the view's bounds. What reaches the
// screen is the part regionToRedraw() names, the whole view unless a view knows better. Samples
// can arrive at 120 Hz, faster than most screens refresh, so paints are held to one per frame
// of the view's screen. Views are not opaque: the widgets behind them (a skin image) are
// repainted under them before every paint, so wherever a view does not draw, the skin shows.
class View : public QWidget {
    Q_OBJECT
public:
    explicit View(QWidget* parent = nullptr);

    // Marks the whole view for drawing at the next display frame.
    virtual void setNeedsDisplay();
    // The view's rectangle in its own coordinates: origin (0, 0) and its size in points.
    Rect bounds() const;
    // Draws the view. `rect` is the area to draw, in the view's coordinates. On screen this is
    // called with a PainterContext on the view's surface; tests call it with a recorder.
    virtual void drawRect(DrawingContext& context, Rect rect) = 0;

protected:
    void paintEvent(QPaintEvent* event) override;
    // The part of the view, in its coordinates, that differs from what was last drawn; asked
    // when a frame is due.
    virtual QRegion regionToRedraw() const;
    // What frames asked to redraw since the last paint. Shown through a scene, a view's paint
    // event names the rectangle around what is repainted; this is what surely is.
    const QRegion& requestedRegion() const { return requested_; }

private:
    // Repaints `region` of the view, in its coordinates.
    void redraw(const QRegion& region);
    // The time between display frames of the view's screen, in milliseconds.
    int frameInterval() const;

    QRegion requested_;
    QTimer frameTimer_;
    QElapsedTimer sinceLastPaint_;
};

} // namespace drawing
