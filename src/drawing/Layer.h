#pragma once

#include "drawing/DrawingContext.h"

#include <QImage>
#include <QPoint>
#include <QSize>
#include <functional>
#include <vector>

class QPainter;

namespace platform {

// A picture drawn once through a DrawingContext onto a transparent image at the surface's
// device pixel ratio, and then composited instead of being drawn again.
//
// Compositing a layer gives the same pixels as drawing its calls directly, to within one step
// per channel (source-over is associative), as long as it is drawn at the device pixel ratio it
// was made for. Only the parts of the picture that hold anything are kept and blended: a layer
// of a few lines or labels costs a few small blits, not a full-surface blend.
class Layer {
public:
    // Whether the layer holds a picture made for this size (in points) and pixel ratio.
    bool isValidFor(QSize size, qreal devicePixelRatio) const;
    // Draws the picture anew for a surface of `size` points at `devicePixelRatio`.
    void draw(QSize size, qreal devicePixelRatio,
              const std::function<void(DrawingContext&)>& paint);
    // Blends the picture over the painter's surface at the view's origin.
    void composite(QPainter& painter) const;
    void clear();

    // The number of pieces the picture was cut into (for tests and benchmarks).
    std::size_t pieceCount() const { return pieces_.size(); }

private:
    struct Piece {
        QPointF origin; // in points
        QImage image;
    };

    std::vector<Piece> pieces_;
    QSize size_;
    qreal devicePixelRatio_ = 0.0;
};

} // namespace platform
