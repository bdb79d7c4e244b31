#pragma once

#include "drawing/DrawingContext.h"

#include <QImage>
#include <QPointF>
#include <vector>

class QPainter;

namespace drawing {

// A picture drawn once through a DrawingContext onto a transparent image at the surface's
// device pixel ratio, and then composited instead of being drawn again. Views own their layers
// and hand them to DrawingContext::drawLayer(); the painter backend fills and composites them.
//
// Compositing a layer gives the same pixels as drawing its calls directly, to within one step
// per channel (source-over is associative), as long as it is drawn at the device pixel ratio it
// was made for and its frame's corner falls on a whole device pixel. Only the parts of the picture
// that hold anything are kept and blended: a layer of a few lines or labels costs a few small
// blits, not a full-surface blend.
class Layer {
public:
    // Whether the layer holds a picture made for this frame, bounds and pixel ratio.
    bool isValidFor(Rect frame, Rect bounds, qreal devicePixelRatio) const;
    // Draws the picture anew: what `content` draws within `frame` (in points) at
    // `devicePixelRatio`, from a context in its initial state.
    void draw(Rect frame, Rect bounds, qreal devicePixelRatio, const LayerContent& content);
    // Blends the picture over the painter's surface, in the painter's coordinates.
    void composite(QPainter& painter) const;
    void clear();

private:
    struct Piece {
        QPointF origin; // in points
        QImage image;
    };

    std::vector<Piece> pieces_;
    Rect frame_;
    Rect bounds_;
    qreal devicePixelRatio_ = 0.0;
};

} // namespace drawing
