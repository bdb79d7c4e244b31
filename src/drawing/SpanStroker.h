#pragma once

#include <QPointF>
#include <QRect>
#include <QRegion>
#include <QRgb>
#include <cstdint>
#include <vector>

class QPainter;

namespace drawing {

// The 32-bit premultiplied pixels a QPainter draws on, for painter states in which plain
// source-over blending gives what the painter itself would give: the raster engine on a QImage
// (or a raster backing store) of format ARGB32_Premultiplied or RGB32, source-over at full
// opacity, no clip set through the painter, and a transform that only scales uniformly and
// translates.
struct PixelTarget {
    uchar* bits = nullptr;
    qsizetype bytesPerLine = 0;
    // The device pixels that may be written: the image, cut to the painter's system clip.
    QRect clip;
    // The system clip when it is more than one rectangle (a view redrawing a few bands): `clip`
    // is then its bounding rectangle, and only the pixels within these rectangles are written.
    // Empty when `clip` is all there is.
    QRegion region;
    // Logical to device coordinates: device = logical * scale + offset.
    qreal scale = 1.0;
    QPointF offset;

    // Fills `target` and returns true when the painter's current state allows direct drawing.
    static bool of(QPainter& painter, PixelTarget* target);
    QPointF map(QPointF point) const { return point * scale + offset; }
};

// Blends `premultiplied` over the rectangle (device pixels), edge pixels by the share of their
// area the rectangle covers, as an antialiased QPainter::fillRect does.
void fillRectAntialiased(const PixelTarget& target, const QRectF& rect, QRgb premultiplied);

// An antialiased stroker for polylines of straight segments in one solid colour, with flat caps
// and miter joins (longer miters cut off as QPainter cuts them).
//
// Each segment, and each join's outer wedge, is scanned row by row over only the pixels within
// reach of the thick line; a pixel's coverage is clamp(distance to the outline inside + 0.5, 0,
// 1). Pieces are combined per pixel: neighbours near their shared vertex overlap along the same
// outline, so the larger coverage counts; elsewhere two pieces in one pixel come from different
// sides (the flanks of a narrow spike), so their coverages add up, to at most 1. Either way a
// pixel is blended once. Edges shared by two pieces (a segment's end and the wedge beside it)
// are sharp, so joins have no seam. The colour is blended into the image once, at the end.
class SpanStroker {
public:
    // Strokes the subpaths of `points` (device pixels). `subpathStarts` holds the index of each
    // subpath's first point, ascending. `width` is in device pixels; `miterLimit` in widths,
    // as QPen::miterLimit().
    //
    // Taking the largest coverage is exact where pieces of one polyline overlap along the same
    // edge, but too light where two separate lines each cover part of a pixel. So separate
    // subpaths must keep apart; if they might come within reach of each other, nothing is drawn
    // and false is returned (draw with QPainter instead).
    bool stroke(const PixelTarget& target, const std::vector<QPointF>& points,
                const std::vector<int>& subpathStarts, qreal width, qreal miterLimit,
                QRgb premultiplied);

    // One stroker per thread, so its buffers are reused from frame to frame.
    static SpanStroker& forThisThread();

private:
    struct Join;
    // The box around each subpath, reach included, into `whole`; false when two overlap.
    bool boundSubpaths(const std::vector<QPointF>& points, const std::vector<int>& subpathStarts,
                       QRectF* whole);
    void addSubpath(std::vector<QPointF>::const_iterator first,
                    std::vector<QPointF>::const_iterator last);
    void addSegment(QPointF from, QPointF to, bool capStart, bool capEnd);
    void addJoin(QPointF at, QPointF inDirection, QPointF outDirection);
    // The miter's bisector, cut and tips of a join whose directions and normals are set.
    void shapeMiter(Join& join) const;
    void coverJoin(const Join& join);
    // Drops the coverage of the cells outside `region`, which may not be written.
    void clearOutside(const QRegion& region);
    void blend(const PixelTarget& target, QRgb premultiplied);
    // Widens row y's touched range to [first, last] and returns the cell index of pixel 0 on it.
    std::size_t markRow(int y, int first, int last);
    // Marks the coverage (0..1) of pixel (x, y), whose cell is `index`, keeping the largest.
    void cover(std::size_t index, int x, int y, float coverage);
    // Whether the piece being added and piece `other` may cover the same part of pixel (x, y).
    bool sharesAnEdgeNear(int other, int x, int y) const;

    // Coverage in 1/255 steps over the box `area_` (device pixels), zero outside the stroke.
    // Only the pixels between rowFirst_ and rowLast_ of a row may have been touched, and they are
    // zeroed again as they are blended.
    std::vector<std::uint8_t> coverage_;
    std::vector<int> rowFirst_;
    std::vector<int> rowLast_;
    QRect area_;
    std::vector<QRectF> boxes_;
    // Per cell, the piece that last covered it; and the path's vertices, without repeats.
    std::vector<int> pieces_;
    std::vector<QPointF> vertices_;
    int piece_ = 0;
    float halfWidth_ = 0.5f;
    float miterLength_ = 2.0f;
};

} // namespace drawing
