#include "drawing/SpanStroker.h"

#include <QImage>
#include <QPaintEngine>
#include <QPainter>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

// Blending loops get a wider vector unit where the processor has one; the rest is scalar.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define WOBBLESTAR_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define WOBBLESTAR_VECTOR_CLONES
#endif

namespace drawing {

namespace {

// x * a / 255 on each of the four 8-bit channels at once, rounded as Qt's raster engine rounds,
// so a fully covered pixel comes out exactly as QPainter would draw it.
inline std::uint32_t byteMul(std::uint32_t x, std::uint32_t a) {
    std::uint32_t t = (x & 0xff00ff) * a;
    t = (t + ((t >> 8) & 0xff00ff) + 0x800080) >> 8;
    t &= 0xff00ff;
    x = ((x >> 8) & 0xff00ff) * a;
    x = (x + ((x >> 8) & 0xff00ff) + 0x800080);
    x &= 0xff00ff00;
    return x | t;
}

// Source-over of one premultiplied colour onto a run of pixels.
WOBBLESTAR_VECTOR_CLONES
void blendSolid(std::uint32_t* __restrict pixels, int count, std::uint32_t source) {
    const std::uint32_t inverseAlpha = 255 - qAlpha(source);
    if (inverseAlpha == 0) {
        std::fill(pixels, pixels + count, source);
        return;
    }
    int i = 0;
#if defined(__GNUC__)
    // Eight pixels at a time, each channel widened to 16 bits: c * a and the rounding below stay
    // under 65 536, so this is byteMul() exactly, with twice the channels per multiply.
    using Bytes = std::uint8_t __attribute__((vector_size(32)));
    using Words = std::uint16_t __attribute__((vector_size(64)));
    Bytes sourceBytes;
    for (int k = 0; k < 8; ++k)
        std::memcpy(reinterpret_cast<char*>(&sourceBytes) + 4 * k, &source, 4);
    const auto a = static_cast<std::uint16_t>(inverseAlpha);
    for (; i + 8 <= count; i += 8) {
        Bytes bytes;
        std::memcpy(&bytes, pixels + i, sizeof bytes);
        Words t = __builtin_convertvector(bytes, Words) * a;
        t = (t + (t >> 8) + 0x80) >> 8;
        // Premultiplied channels never exceed alpha, so the sum stays within a byte.
        bytes = __builtin_convertvector(t, Bytes) + sourceBytes;
        std::memcpy(pixels + i, &bytes, sizeof bytes);
    }
#endif
    for (; i < count; ++i)
        pixels[i] = source + byteMul(pixels[i], inverseAlpha);
}

inline void blendPixel(std::uint32_t& pixel, std::uint32_t colour, int coverage) {
    const std::uint32_t source =
        coverage >= 255 ? colour : byteMul(colour, static_cast<std::uint32_t>(coverage));
    pixel = source + byteMul(pixel, 255 - qAlpha(source));
}

// blendSolid() for runs of any length. The plot's bars are one pixel wide and hundreds tall:
// a call per row through the vector clones' dispatch would cost more than the pixel itself.
inline void blendRun(std::uint32_t* pixels, int count, std::uint32_t source) {
    if (qAlpha(source) == 255) {
        if (count == 1)
            *pixels = source;
        else
            std::fill(pixels, pixels + count, source);
    } else if (count < 8) {
        const std::uint32_t inverseAlpha = 255 - qAlpha(source);
        for (int i = 0; i < count; ++i)
            pixels[i] = source + byteMul(pixels[i], inverseAlpha);
    } else {
        blendSolid(pixels, count, source);
    }
}

inline float clampUnit(float v) {
    return v <= 0.0f ? 0.0f : (v >= 1.0f ? 1.0f : v);
}

inline int toCoverage(float unit) {
    return static_cast<int>(unit * 255.0f + 0.5f);
}

// Converts to int within [lo, hi]; NaN and out-of-range values land on the bounds.
inline int clampToInt(double v, int lo, int hi) {
    if (!(v >= lo))
        return lo;
    if (!(v <= hi))
        return hi;
    return static_cast<int>(v);
}

// The signed distance of (x, y) from `origin` along the unit vector (dx, dy). Every caller that
// must agree with another on which side of a line a pixel lies uses this one expression.
inline float along(float x, float y, QPointF origin, float dx, float dy) {
    return (x - static_cast<float>(origin.x())) * dx + (y - static_cast<float>(origin.y())) * dy;
}

// clampToInt(std::floor(v), lo, hi) and clampToInt(std::ceil(v), lo, hi) without the library
// calls that plain x86-64 (no SSE4.1 rounding instruction) makes for floor and ceil.
inline int floorToInt(double v, int lo, int hi) {
    if (!(v >= lo))
        return lo;
    if (!(v <= hi))
        return hi;
    const int i = static_cast<int>(v); // truncates towards zero
    return i - (static_cast<double>(i) > v ? 1 : 0);
}
inline int ceilToInt(double v, int lo, int hi) {
    if (!(v >= lo))
        return lo;
    if (!(v <= hi))
        return hi;
    const int i = static_cast<int>(v);
    return i + (static_cast<double>(i) < v ? 1 : 0);
}

// Pixels are addressed by their centres: pixel p spans [p, p + 1) and is sampled at p + 0.5.
inline int firstPixel(double from, int lo, int hi) {
    return ceilToInt(from - 0.5, lo, hi + 1);
}
inline int lastPixel(double to, int lo, int hi) {
    return floorToInt(to - 0.5, lo - 1, hi);
}

// QRect's intersection, inline: boxes are cut to the drawing area once per segment and join.
inline QRect intersected(const QRect& a, const QRect& b) {
    return QRect(QPoint(std::max(a.left(), b.left()), std::max(a.top(), b.top())),
                 QPoint(std::min(a.right(), b.right()), std::min(a.bottom(), b.bottom())));
}

// A linear function a * x + b of a pixel centre's x on one row, with 1 / a kept so that rows
// cost no division.
struct Linear {
    float a = 0.0f;
    float inverse = 0.0f; // 0 when a is too small to divide by
    explicit Linear(float slope)
        : a(slope), inverse(std::abs(slope) < 1e-6f ? 0.0f : 1.0f / slope) {}
};

// Narrows [lo, hi] to the x where lower <= f.a * x + b <= upper.
inline bool narrow(const Linear& f, float b, float lower, float upper, float& lo, float& hi) {
    if (f.inverse == 0.0f)
        return b >= lower - 1e-4f && b <= upper + 1e-4f;
    float x0 = (lower - b) * f.inverse;
    float x1 = (upper - b) * f.inverse;
    if (x0 > x1)
        std::swap(x0, x1);
    lo = std::max(lo, x0 - 1e-3f);
    hi = std::min(hi, x1 + 1e-3f);
    return lo <= hi;
}

inline QRect boundsOf(std::initializer_list<QPointF> points, double margin) {
    double x0 = INFINITY, y0 = INFINITY, x1 = -INFINITY, y1 = -INFINITY;
    for (const QPointF& p : points) {
        x0 = std::min(x0, p.x());
        y0 = std::min(y0, p.y());
        x1 = std::max(x1, p.x());
        y1 = std::max(y1, p.y());
    }
    const int left = floorToInt(x0 - margin, INT_MIN / 4, INT_MAX / 4);
    const int top = floorToInt(y0 - margin, INT_MIN / 4, INT_MAX / 4);
    const int right = ceilToInt(x1 + margin, INT_MIN / 4, INT_MAX / 4);
    const int bottom = ceilToInt(y1 + margin, INT_MIN / 4, INT_MAX / 4);
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

} // namespace

bool PixelTarget::of(QPainter& painter, PixelTarget* target) {
    if (!painter.isActive())
        return false;
    QPaintEngine* engine = painter.paintEngine();
    if (engine == nullptr || engine->type() != QPaintEngine::Raster)
        return false;
    // For a widget this is the window's backing store image, not the widget.
    QPaintDevice* device = engine->paintDevice();
    if (device == nullptr || device->devType() != QInternal::Image)
        return false;
    auto* image = static_cast<QImage*>(device);
    if (image->format() != QImage::Format_ARGB32_Premultiplied &&
        image->format() != QImage::Format_RGB32)
        return false;
    if (painter.compositionMode() != QPainter::CompositionMode_SourceOver ||
        painter.opacity() != 1.0 || painter.hasClipping())
        return false;
    const QTransform transform = painter.deviceTransform();
    if (transform.type() > QTransform::TxScale || !(transform.m11() > 0.0) ||
        transform.m11() != transform.m22())
        return false;
    QRect clip = image->rect();
    QRegion region;
    const QRegion systemClip = engine->systemClip();
    if (!systemClip.isEmpty()) {
        if (systemClip.rectCount() != 1) {
            region = systemClip & clip;
            clip = region.boundingRect();
            if (region.rectCount() == 1)
                region = QRegion();
        } else {
            clip &= systemClip.boundingRect();
        }
    }
    // The engine draws into the buffer it found when painting began; write to that same one
    // (bits() would detach a shared image and draw somewhere the painter does not).
    target->bits = const_cast<uchar*>(image->constBits());
    target->bytesPerLine = image->bytesPerLine();
    target->clip = clip;
    target->region = region;
    target->scale = transform.m11();
    target->offset = QPointF(transform.dx(), transform.dy());
    return true;
}

void fillRectAntialiased(const PixelTarget& target, const QRectF& rect, QRgb premultiplied) {
    if (!target.region.isEmpty()) {
        // Each pixel lies in one of the rectangles, and its coverage does not depend on which.
        PixelTarget part = target;
        part.region = QRegion();
        for (const QRect& inside : target.region) {
            part.clip = inside;
            fillRectAntialiased(part, rect, premultiplied);
        }
        return;
    }
    const QRectF r = rect.normalized();
    if (!(r.width() > 0.0 && r.height() > 0.0) || target.clip.isEmpty())
        return;
    const QRect& clip = target.clip;
    const int top = clampToInt(std::floor(r.top()), clip.top(), clip.bottom() + 1);
    const int bottom = clampToInt(std::ceil(r.bottom()) - 1, clip.top() - 1, clip.bottom());
    const int left = clampToInt(std::floor(r.left()), clip.left(), clip.right() + 1);
    const int right = clampToInt(std::ceil(r.right()) - 1, clip.left() - 1, clip.right());
    if (top > bottom || left > right)
        return;
    // The share of pixel p inside [from, to).
    const auto share = [](double from, double to, int p) {
        return std::max(0.0, std::min(to, p + 1.0) - std::max(from, double(p)));
    };
    const double leftShare = share(r.left(), r.right(), left);
    const double rightShare = share(r.left(), r.right(), right);
    const int innerLeft = leftShare >= 1.0 ? left : left + 1;
    const int innerRight = rightShare >= 1.0 ? right : right - 1;
    const auto blendRow = [&](std::uint32_t* row, double rowShare) {
        const int rowCoverage = toCoverage(static_cast<float>(rowShare));
        if (rowCoverage <= 0)
            return;
        if (innerLeft <= innerRight) {
            const std::uint32_t source =
                rowCoverage >= 255
                    ? premultiplied
                    : byteMul(premultiplied, static_cast<std::uint32_t>(rowCoverage));
            blendRun(row + innerLeft, innerRight - innerLeft + 1, source);
        }
        if (innerLeft != left)
            blendPixel(row[left], premultiplied, toCoverage(float(rowShare * leftShare)));
        if (innerRight != right && right != left)
            blendPixel(row[right], premultiplied, toCoverage(float(rowShare * rightShare)));
    };
    const auto rowAt = [&](int y) {
        return reinterpret_cast<std::uint32_t*>(target.bits + y * target.bytesPerLine);
    };
    // Only the first and last rows can be partly covered; every row between is covered whole,
    // so its edge pixels' colours are the same on each of them.
    blendRow(rowAt(top), share(r.top(), r.bottom(), top));
    if (bottom > top + 1) {
        const auto edgeSource = [&](double edgeShare) {
            const int coverage = toCoverage(float(edgeShare));
            return coverage >= 255 ? premultiplied
                                   : byteMul(premultiplied, static_cast<std::uint32_t>(coverage));
        };
        const std::uint32_t leftSource = edgeSource(leftShare);
        const std::uint32_t rightSource = edgeSource(rightShare);
        const bool blendsLeft = innerLeft != left;
        const bool blendsRight = innerRight != right && right != left;
        const int count = innerRight - innerLeft + 1;
        if (count == 1 && !blendsLeft && !blendsRight && qAlpha(premultiplied) == 255) {
            // An opaque bar one pixel wide, as the recordings plot draws per column: one store
            // per row.
            std::uint32_t* pixel = rowAt(top + 1) + innerLeft;
            const qsizetype stride = target.bytesPerLine / qsizetype(sizeof(std::uint32_t));
            for (int y = top + 1; y < bottom; ++y, pixel += stride)
                *pixel = premultiplied;
        } else {
            for (int y = top + 1; y < bottom; ++y) {
                std::uint32_t* row = rowAt(y);
                if (count > 0)
                    blendRun(row + innerLeft, count, premultiplied);
                if (blendsLeft)
                    row[left] = leftSource + byteMul(row[left], 255 - qAlpha(leftSource));
                if (blendsRight)
                    row[right] = rightSource + byteMul(row[right], 255 - qAlpha(rightSource));
            }
        }
    }
    if (bottom > top)
        blendRow(rowAt(bottom), share(r.top(), r.bottom(), bottom));
}

SpanStroker& SpanStroker::forThisThread() {
    thread_local SpanStroker stroker;
    return stroker;
}

bool SpanStroker::stroke(const PixelTarget& target, const std::vector<QPointF>& points,
                         const std::vector<int>& subpathStarts, qreal width, qreal miterLimit,
                         QRgb premultiplied) {
    if (points.empty() || !(width > 0.0) || target.clip.isEmpty())
        return true;
    halfWidth_ = static_cast<float>(width * 0.5);
    miterLength_ = static_cast<float>(width * std::max<qreal>(0.0, miterLimit));

    QRectF whole;
    if (!boundSubpaths(points, subpathStarts, &whole))
        return false;
    area_ = boundsOf({whole.topLeft(), whole.bottomRight()}, 0.0) & target.clip;
    if (area_.isEmpty())
        return true;
    const std::size_t cells = std::size_t(area_.width()) * std::size_t(area_.height());
    if (coverage_.size() < cells)
        coverage_.resize(cells, 0);
    if (pieces_.size() < cells)
        pieces_.resize(cells, 0);
    vertices_.clear();
    rowFirst_.assign(std::size_t(area_.height()), INT_MAX);
    rowLast_.assign(std::size_t(area_.height()), INT_MIN);

    for (std::size_t s = 0; s < subpathStarts.size(); ++s) {
        const int begin = subpathStarts[s];
        const int end = s + 1 < subpathStarts.size() ? subpathStarts[s + 1] : int(points.size());
        addSubpath(points.begin() + begin, points.begin() + end);
    }
    if (!target.region.isEmpty())
        clearOutside(target.region);
    blend(target, premultiplied);
    return true;
}

void SpanStroker::clearOutside(const QRegion& region) {
    // The region's rectangles come in bands from top to bottom, each band's from left to right:
    // per row, the cells between and beside the rectangles of its band are cleared.
    const int width = area_.width();
    auto next = region.begin();
    for (int row = 0; row < area_.height(); ++row) {
        const int first = rowFirst_[row];
        const int last = rowLast_[row];
        if (first > last)
            continue;
        const int y = area_.top() + row;
        while (next != region.end() && next->bottom() < y)
            ++next;
        std::uint8_t* cells = coverage_.data() + std::size_t(row) * std::size_t(width);
        int from = first;
        for (auto inside = next; inside != region.end() && inside->top() <= y; ++inside) {
            if (inside->bottom() < y)
                continue;
            const int to = std::min(last + 1, inside->left());
            if (to > from)
                std::fill(cells + (from - area_.left()), cells + (to - area_.left()), 0);
            from = std::max(from, inside->right() + 1);
        }
        if (from <= last)
            std::fill(cells + (from - area_.left()), cells + (last + 1 - area_.left()), 0);
    }
}

bool SpanStroker::boundSubpaths(const std::vector<QPointF>& points,
                                const std::vector<int>& subpathStarts, QRectF* whole) {
    // Nothing reaches further from the path than a miter cut at its limit.
    const double reach = std::hypot(double(halfWidth_), double(miterLength_)) + 1.0;
    boxes_.clear();
    for (std::size_t s = 0; s < subpathStarts.size(); ++s) {
        const int begin = subpathStarts[s];
        const int end = s + 1 < subpathStarts.size() ? subpathStarts[s + 1] : int(points.size());
        double x0 = INFINITY, y0 = INFINITY, x1 = -INFINITY, y1 = -INFINITY;
        for (int i = begin; i < end; ++i) {
            x0 = std::min(x0, points[i].x());
            y0 = std::min(y0, points[i].y());
            x1 = std::max(x1, points[i].x());
            y1 = std::max(y1, points[i].y());
        }
        const QRectF box =
            QRectF(QPointF(x0, y0), QPointF(x1, y1)).adjusted(-reach, -reach, reach, reach);
        // Subpaths are few (a handful of grid lines), so every pair is checked.
        for (const QRectF& other : boxes_) {
            if (other.intersects(box))
                return false;
        }
        boxes_.push_back(box);
        *whole = s == 0 ? box : whole->united(box);
    }
    return true;
}

void SpanStroker::addSubpath(std::vector<QPointF>::const_iterator first,
                             std::vector<QPointF>::const_iterator last) {
    // Segments of no length are dropped, as QPainter drops them.
    QPointF previous = *first;
    QPointF previousDirection;
    // Each segment is added once the next is known, so its end can be capped or joined.
    QPointF pendingFrom, pendingTo;
    int pendingPiece = 0;
    bool pendingCapStart = false;
    bool havePending = false;
    for (auto it = first + 1; it < last; ++it) {
        if (*it == previous)
            continue;
        const QPointF delta = *it - previous;
        const double length = std::sqrt(delta.x() * delta.x() + delta.y() * delta.y());
        const QPointF direction = delta / length;
        if (!havePending)
            vertices_.push_back(previous);
        const int vertex = int(vertices_.size()) - 1;
        vertices_.push_back(*it);
        if (havePending) {
            piece_ = pendingPiece;
            addSegment(pendingFrom, pendingTo, pendingCapStart, false);
            piece_ = 2 * vertex - 1;
            addJoin(previous, previousDirection, direction);
        }
        pendingFrom = previous;
        pendingTo = *it;
        pendingPiece = 2 * vertex;
        pendingCapStart = !havePending;
        havePending = true;
        previousDirection = direction;
        previous = *it;
    }
    if (havePending) {
        piece_ = pendingPiece;
        addSegment(pendingFrom, pendingTo, pendingCapStart, true);
    }
}

inline std::size_t SpanStroker::markRow(int y, int first, int last) {
    const int row = y - area_.top();
    rowFirst_[row] = std::min(rowFirst_[row], first);
    rowLast_[row] = std::max(rowLast_[row], last);
    return std::size_t(row) * std::size_t(area_.width()) - std::size_t(area_.left());
}

inline void SpanStroker::cover(std::size_t index, int x, int y, float coverage) {
    const int value = toCoverage(coverage);
    if (value <= 0)
        return;
    std::uint8_t& cell = coverage_[index];
    int& owner = pieces_[index];
    if (cell == 0) {
        // The common case: the first piece to reach this pixel.
        cell = static_cast<std::uint8_t>(value);
        owner = piece_;
        return;
    }
    if (value == 255 || cell == 255) {
        cell = 255; // fully covered, however the pieces combine
    } else if (cell != 0 && !sharesAnEdgeNear(owner, x, y)) {
        // Two pieces that meet here from different sides, as the two flanks of a narrow spike
        // do: each covers its own part of the pixel, so their shares add up.
        cell = static_cast<std::uint8_t>(std::min(255, cell + value));
    } else if (value > cell) {
        cell = static_cast<std::uint8_t>(value);
    }
    owner = piece_;
}

bool SpanStroker::sharesAnEdgeNear(int other, int x, int y) const {
    // Pieces are numbered along the path: segment from vertex v is 2v, the join at vertex v is
    // 2v - 1. Neighbours overlap along the same outline only close to the vertex they share;
    // there the larger coverage is the right one.
    if (std::abs(other - piece_) > 2)
        return false;
    const std::size_t vertex = std::size_t((std::max(other, piece_) + 1) / 2);
    if (vertex >= vertices_.size())
        return false;
    const QPointF& shared = vertices_[vertex];
    const double dx = x + 0.5 - shared.x();
    const double dy = y + 0.5 - shared.y();
    const double near = halfWidth_ + 1.5;
    return dx * dx + dy * dy <= near * near;
}

void SpanStroker::addSegment(QPointF from, QPointF to, bool capStart, bool capEnd) {
    const QPointF delta = to - from;
    const double length = std::sqrt(delta.x() * delta.x() + delta.y() * delta.y());
    const float dx = static_cast<float>(delta.x() / length);
    const float dy = static_cast<float>(delta.y() / length);
    // The normal (-dy, dx); a pixel's distance across the line is measured along it.
    const float nx = -dy;
    const float ny = dx;
    const float hw = halfWidth_;
    const float across = hw + 0.5f;
    const float len = static_cast<float>(length);

    const QPointF n(nx * across, ny * across);
    const QPointF d(dx * 0.5, dy * 0.5);
    const QRect box =
        intersected(boundsOf({from + n - d, from - n - d, to + n + d, to - n + d}, 0.0), area_);
    const float fx = static_cast<float>(from.x());
    const float fy = static_cast<float>(from.y());
    const Linear acrossOfX(nx);
    const Linear alongOfX(dx);
    // Near a sharp end the exact expression decides, the same one the join beside it uses.
    constexpr float kUnsure = 0.01f;
    for (int py = box.top(); py <= box.bottom(); ++py) {
        const float yc = static_cast<float>(py) + 0.5f;
        // The pixel centres of this row within reach: |across| <= hw + 0.5 and
        // -0.5 <= along <= len + 0.5, each linear in x.
        float lo = -INFINITY, hi = INFINITY;
        if (!narrow(acrossOfX, (yc - fy) * ny - fx * nx, -across, across, lo, hi))
            continue;
        if (!narrow(alongOfX, (yc - fy) * dy - fx * dx, -0.5f, len + 0.5f, lo, hi))
            continue;
        const int pxFirst = firstPixel(lo, box.left(), box.right());
        const int pxLast = lastPixel(hi, box.left(), box.right());
        if (pxFirst > pxLast)
            continue;
        // The cell of pixel px on this row is rowBase + px (unsigned wrap-around, as area_ may
        // start left of zero).
        const std::size_t rowBase = markRow(py, pxFirst, pxLast);
        const float x0 = static_cast<float>(pxFirst) + 0.5f;
        float v = along(x0, yc, from, nx, ny);
        float uStart = along(x0, yc, from, dx, dy);
        float uEnd = along(x0, yc, to, dx, dy);
        for (int px = pxFirst; px <= pxLast; ++px, v += nx, uStart += dx, uEnd += dx) {
            float c = clampUnit(across - std::abs(v));
            if (c <= 0.0f)
                continue;
            // Free ends are flat caps, antialiased; ends at a join are cut sharply where the
            // join's wedge begins, so the two meet without a seam.
            if (capStart) {
                c *= clampUnit(uStart + 0.5f);
            } else if (uStart < kUnsure) {
                const float xc = static_cast<float>(px) + 0.5f;
                if (along(xc, yc, from, dx, dy) < 0.0f)
                    continue;
            }
            if (capEnd) {
                c *= clampUnit(0.5f - uEnd);
            } else if (uEnd > -kUnsure) {
                const float xc = static_cast<float>(px) + 0.5f;
                if (along(xc, yc, to, dx, dy) > 0.0f)
                    continue;
            }
            cover(rowBase + std::size_t(px), px, py, c);
        }
    }
}

// A join's shape: the two directions, the outer normals, the outer bisector (mx, my), the
// distance `cut` along it where a miter beyond the limit is cut off, and the miter's two tips.
struct SpanStroker::Join {
    QPointF at;
    float d1x, d1y, d2x, d2y;
    float n1x, n1y, n2x, n2y;
    float mx = 0.0f, my = 0.0f, cut = INFINITY;
    bool reversal = false;
    QPointF tip[2] = {};
};

void SpanStroker::addJoin(QPointF at, QPointF inDirection, QPointF outDirection) {
    const float d1x = static_cast<float>(inDirection.x());
    const float d1y = static_cast<float>(inDirection.y());
    const float d2x = static_cast<float>(outDirection.x());
    const float d2y = static_cast<float>(outDirection.y());
    const float cross = d1x * d2y - d1y * d2x;
    const float dot = d1x * d2x + d1y * d2y;
    if (std::abs(cross) < 1e-6f && dot > 0.0f)
        return; // straight on: the two segments meet edge to edge
    // The outer side is the one away from the turn.
    const float side = cross > 0.0f ? -1.0f : 1.0f;
    const bool reversal = std::abs(cross) < 1e-6f;
    Join join{.at = at,
              .d1x = d1x,
              .d1y = d1y,
              .d2x = d2x,
              .d2y = d2y,
              .n1x = -d1y * side,
              .n1y = d1x * side,
              .n2x = -d2y * side,
              .n2y = d2x * side,
              .reversal = reversal};
    shapeMiter(join);
    coverJoin(join);
}

void SpanStroker::shapeMiter(Join& j) const {
    const float hw = halfWidth_;
    // The cut across a miter longer than the limit, at distance `cut` from the join along the
    // outer bisector (mx, my); QPainter cuts where the offset edges have run on for the limit.
    if (j.reversal) {
        // Turning straight back: the miter is the square end the limit allows.
        j.mx = j.d1x;
        j.my = j.d1y;
        j.cut = miterLength_;
        const QPointF end = j.at + QPointF(j.d1x, j.d1y) * miterLength_;
        j.tip[0] = end + QPointF(j.n1x, j.n1y) * hw;
        j.tip[1] = end - QPointF(j.n1x, j.n1y) * hw;
        return;
    }
    const float bx = j.n1x + j.n2x, by = j.n1y + j.n2y;
    const float bl = std::hypot(bx, by);
    j.mx = bx / bl;
    j.my = by / bl;
    const float cosHalf = j.mx * j.n1x + j.my * j.n1y;
    const float miterBeyondCorner =
        hw * std::sqrt(std::max(0.0f, 1.0f - cosHalf * cosHalf)) / std::max(cosHalf, 1e-6f);
    if (miterBeyondCorner > miterLength_) {
        j.cut = hw * cosHalf + miterLength_ * (j.d1x * j.mx + j.d1y * j.my);
        j.tip[0] = j.at + QPointF(j.n1x, j.n1y) * hw + QPointF(j.d1x, j.d1y) * miterLength_;
        j.tip[1] = j.at + QPointF(j.n2x, j.n2y) * hw - QPointF(j.d2x, j.d2y) * miterLength_;
    } else {
        j.tip[0] = j.tip[1] = j.at + QPointF(j.mx, j.my) * (hw / cosHalf);
    }
}

void SpanStroker::coverJoin(const Join& j) {
    const float hw = halfWidth_;
    const QPointF at = j.at;
    const float d1x = j.d1x, d1y = j.d1y, d2x = j.d2x, d2y = j.d2y;
    const float n1x = j.n1x, n1y = j.n1y, n2x = j.n2x, n2y = j.n2y;
    const float mx = j.mx, my = j.my, cut = j.cut;
    const bool reversal = j.reversal;
    const QRect box =
        intersected(boundsOf({at, at + QPointF(n1x, n1y) * hw, at + QPointF(n2x, n2y) * hw,
                              at - QPointF(n1x, n1y) * (reversal ? hw : 0.0f), j.tip[0], j.tip[1]},
                             1.0),
                    area_);
    const float ax = static_cast<float>(at.x());
    const float ay = static_cast<float>(at.y());
    const Linear in(d1x), out(d2x), bisector(mx), outer1(n1x), outer2(n2x);
    for (int py = box.top(); py <= box.bottom(); ++py) {
        const float yc = static_cast<float>(py) + 0.5f;
        // Within reach: past the incoming segment's end, before the outgoing one's start, and
        // within half a pixel of the outer edges (each linear in x).
        float lo = -INFINITY, hi = INFINITY;
        const auto within = [&](const Linear& f, float uy, float lower, float upper) {
            return narrow(f, (yc - ay) * uy - ax * f.a, lower, upper, lo, hi);
        };
        if (!within(in, d1y, -0.01f, INFINITY) || !within(out, d2y, -INFINITY, 0.01f) ||
            !within(bisector, my, -INFINITY, cut + 0.5f))
            continue;
        if (reversal ? !within(outer1, n1y, -hw - 0.5f, hw + 0.5f)
                     : (!within(outer1, n1y, -INFINITY, hw + 0.5f) ||
                        !within(outer2, n2y, -INFINITY, hw + 0.5f)))
            continue;
        const int pxFirst = firstPixel(lo, box.left(), box.right());
        const int pxLast = lastPixel(hi, box.left(), box.right());
        if (pxFirst > pxLast)
            continue;
        const std::size_t rowBase = markRow(py, pxFirst, pxLast);
        for (int px = pxFirst; px <= pxLast; ++px) {
            const float xc = static_cast<float>(px) + 0.5f;
            // Only the wedge between the two segments' cut ends: past the end of the one coming
            // in, before the start of the one going out (the same expressions as theirs).
            if (!(along(xc, yc, at, d1x, d1y) > 0.0f) || !(along(xc, yc, at, d2x, d2y) < 0.0f))
                continue;
            float outside = along(xc, yc, at, mx, my) - cut;
            if (reversal) {
                outside = std::max(outside, std::abs(along(xc, yc, at, n1x, n1y)) - hw);
            } else {
                outside = std::max(outside, along(xc, yc, at, n1x, n1y) - hw);
                outside = std::max(outside, along(xc, yc, at, n2x, n2y) - hw);
            }
            const float c = clampUnit(0.5f - outside);
            if (c > 0.0f)
                cover(rowBase + std::size_t(px), px, py, c);
        }
    }
}

void SpanStroker::blend(const PixelTarget& target, QRgb premultiplied) {
    const int width = area_.width();
    const bool opaque = qAlpha(premultiplied) == 255;
    for (int row = 0; row < area_.height(); ++row) {
        const int first = rowFirst_[row];
        const int last = rowLast_[row];
        if (first > last)
            continue;
        std::uint8_t* cells = coverage_.data() + std::size_t(row) * std::size_t(width);
        auto* pixels = reinterpret_cast<std::uint32_t*>(target.bits +
                                                        (area_.top() + row) * target.bytesPerLine);
        // A trace crosses a row in a few places far apart; whole words of empty cells between
        // them are skipped eight at a time, and busy words are blended cell by cell.
        int x = first;
        while (x <= last) {
            const int column = x - area_.left();
            const int count = std::min(8, last + 1 - x);
            if (count == 8) {
                std::uint64_t word;
                std::memcpy(&word, cells + column, sizeof word);
                if (word == 0) {
                    x += 8;
                    continue;
                }
            }
            for (int k = 0; k < count; ++k) {
                std::uint8_t& cell = cells[column + k];
                if (cell == 0)
                    continue;
                if (cell == 255 && opaque)
                    pixels[x + k] = premultiplied;
                else
                    blendPixel(pixels[x + k], premultiplied, cell);
                cell = 0;
            }
            x += count;
        }
    }
}

} // namespace drawing
