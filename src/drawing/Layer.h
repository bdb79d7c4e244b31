#pragma once

#include "drawing/DrawingContext.h"

#include <QImage>
#include <QPoint>
#include <QPointF>
#include <QTransform>
#include <vector>

class QPainter;

namespace drawing {

// A picture drawn once through a DrawingContext onto a transparent image in device pixels, and
// then composited instead of being drawn again. Views own their layers and hand them to
// DrawingContext::drawLayer(); the painter backend fills and composites them.
//
// The picture is made for one device scale and for where its frame's corner falls within a
// device pixel, so it is laid on the surface pixel for pixel, never resampled: compositing it
// gives the same pixels as drawing its calls directly, to within one step per channel
// (source-over is associative), at any scale, whole or not. Only the parts of the picture that
// hold anything are kept and blended: a layer of a few lines or labels costs a few small blits,
// not a full-surface blend.
class Layer {
public:
    // Whether a layer can be made for `device`, a painter's device transform: a scale, the same
    // across and down, and a move.
    static bool canBeMadeFor(const QTransform& device);
    // Whether the layer holds a picture made for this frame and bounds under `device`.
    bool isValidFor(Rect frame, Rect bounds, const QTransform& device) const;
    // Draws the picture anew: what `content` draws within `frame` (in points) under `device`,
    // from a context in its initial state.
    void draw(Rect frame, Rect bounds, const QTransform& device, const LayerContent& content);
    // Blends the picture over the painter's surface, where its frame lies under the painter's
    // transform (one the layer is valid for).
    void composite(QPainter& painter) const;
    void clear();

private:
    struct Piece {
        QPoint origin; // in device pixels from the picture's corner
        QImage image;
    };

    std::vector<Piece> pieces_;
    Rect frame_;
    Rect bounds_;
    qreal scale_ = 0.0;
    // Where the frame's corner falls within its device pixel, 0 to 1 across and down.
    QPointF fraction_;
};

} // namespace drawing
