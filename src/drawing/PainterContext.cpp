#include "drawing/PainterContext.h"

#include "drawing/Layer.h"
#include "drawing/SpanStroker.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace drawing {

namespace {

float clampUnit(float component) {
    // NaN clamps to 0 so a bad value can never make QColor invalid.
    if (!(component > 0.0f))
        return 0.0f;
    return std::min(component, 1.0f);
}

QColor rgba(float red, float green, float blue, float alpha) {
    return QColor::fromRgbF(clampUnit(red), clampUnit(green), clampUnit(blue), clampUnit(alpha));
}

// Coordinates (in device pixels) beyond which drawing is left to QPainter.
constexpr qreal kFarAway = 1.0e6;

// Text is laid out in a box far larger than any view so nothing is cut off.
constexpr qreal kUnbounded = 100000.0;

// Path buffers handed from one context to the next on a thread, so that a frame, which makes a
// new context, does not allocate them again.
struct SparePathBuffers {
    std::vector<QPointF> points;
    std::vector<int> subpathStarts;
    std::vector<QPointF> devicePoints;
};

SparePathBuffers& spareBuffers() {
    thread_local SparePathBuffers spare;
    return spare;
}

// The pen of the initial graphics state: flat caps and miter joins.
const QPen& initialStrokePen() {
    static const QPen pen(Qt::black, 1.0, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    return pen;
}

} // namespace

PainterContext::PainterContext(QPainter& painter)
    : painter_(painter), strokePen_(initialStrokePen()), fillColor_(Qt::black) {
    setAllowsAntialiasing(true);
    // A context made while another is alive finds the spares empty and grows its own.
    SparePathBuffers& spare = spareBuffers();
    points_.swap(spare.points);
    subpathStarts_.swap(spare.subpathStarts);
    devicePoints_.swap(spare.devicePoints);
    beginPath();
    devicePoints_.clear();
}

PainterContext::~PainterContext() {
    SparePathBuffers& spare = spareBuffers();
    points_.swap(spare.points);
    subpathStarts_.swap(spare.subpathStarts);
    devicePoints_.swap(spare.devicePoints);
}

void PainterContext::setGrayFillColor(float gray, float alpha) {
    fillColor_ = rgba(gray, gray, gray, alpha);
}

void PainterContext::setGrayStrokeColor(float gray, float alpha) {
    strokePen_.setColor(rgba(gray, gray, gray, alpha));
}

void PainterContext::setRGBFillColor(float red, float green, float blue, float alpha) {
    fillColor_ = rgba(red, green, blue, alpha);
}

void PainterContext::setRGBStrokeColor(float red, float green, float blue, float alpha) {
    strokePen_.setColor(rgba(red, green, blue, alpha));
}

void PainterContext::setColor(Color color) {
    fillColor_ = rgba(color.red, color.green, color.blue, color.alpha);
    strokePen_.setColor(fillColor_);
}

void PainterContext::setLineWidth(float width) {
    strokePen_.setWidthF(std::max(0.0f, width));
}

void PainterContext::setAllowsAntialiasing(bool allows) {
    painter_.setRenderHint(QPainter::Antialiasing, allows);
    painter_.setRenderHint(QPainter::TextAntialiasing, allows);
}

void PainterContext::setGState(const GState& state) {
    strokePen_ = state.strokePen;
    fillColor_ = state.fillColor;
    setAllowsAntialiasing(state.antialiasing);
}

void PainterContext::saveGState() {
    savedStates_.append(
        GState{strokePen_, fillColor_, painter_.testRenderHint(QPainter::Antialiasing)});
}

void PainterContext::restoreGState() {
    if (savedStates_.isEmpty())
        return;
    setGState(savedStates_.last());
    savedStates_.removeLast();
}

void PainterContext::drawLayer(Layer& layer, Rect frame, Rect bounds, const LayerContent& content) {
    // A cached layer is a picture in device pixels, laid pixel for pixel. Under a turn or a
    // shear it would be resampled and soft, so the content is drawn as vectors instead.
    const QTransform device = painter_.deviceTransform();
    if (!cachesLayers_ || !Layer::canBeMadeFor(device)) {
        const GStateSaver saved(*this);
        setGState(GState{initialStrokePen(), QColor(Qt::black), true});
        content(*this);
        return;
    }
    if (!layer.isValidFor(frame, bounds, device))
        layer.draw(frame, bounds, device, content);
    layer.composite(painter_);
}

void PainterContext::beginPath() {
    points_.clear();
    subpathStarts_.clear();
}

void PainterContext::moveToPoint(float x, float y) {
    subpathStarts_.push_back(static_cast<int>(points_.size()));
    points_.emplace_back(x, y);
}

void PainterContext::addLineToPoint(float x, float y) {
    // A line with no current point starts at the origin, as in a QPainterPath.
    if (points_.empty())
        moveToPoint(0.0f, 0.0f);
    points_.emplace_back(x, y);
}

void PainterContext::strokePath() {
    // Qt's general antialiased rasterizer is slow for long jagged polylines; straight segments
    // in a solid colour on a plain 32-bit image are stroked by our own span stroker instead.
    PixelTarget target;
    bool direct = strokePen_.widthF() > 0.0 && painter_.testRenderHint(QPainter::Antialiasing) &&
                  PixelTarget::of(painter_, &target);
    if (direct) {
        devicePoints_.clear();
        for (const QPointF& p : points_) {
            const QPointF d = target.map(p);
            // Far-off or invalid points are left to QPainter, which clips them in its own way.
            if (!(std::abs(d.x()) < kFarAway && std::abs(d.y()) < kFarAway)) {
                direct = false;
                break;
            }
            devicePoints_.push_back(d);
        }
    }
    if (direct) {
        direct = SpanStroker::forThisThread().stroke(
            target, devicePoints_, subpathStarts_, strokePen_.widthF() * target.scale,
            strokePen_.miterLimit(), qPremultiply(strokePen_.color().rgba()));
    }
    if (!direct) {
        QPainterPath path;
        for (std::size_t s = 0; s < subpathStarts_.size(); ++s) {
            const std::size_t end =
                s + 1 < subpathStarts_.size() ? std::size_t(subpathStarts_[s + 1]) : points_.size();
            path.moveTo(points_[std::size_t(subpathStarts_[s])]);
            for (std::size_t i = std::size_t(subpathStarts_[s]) + 1; i < end; ++i)
                path.lineTo(points_[i]);
        }
        painter_.strokePath(path, strokePen_);
    }
    beginPath();
}

void PainterContext::fillRect(Rect rect) {
    fillRects(std::span<const Rect>(&rect, 1));
}

void PainterContext::fillRects(std::span<const Rect> rects) {
    PixelTarget target;
    const bool direct =
        painter_.testRenderHint(QPainter::Antialiasing) && PixelTarget::of(painter_, &target);
    const QRgb premultiplied = qPremultiply(fillColor_.rgba());
    for (const Rect& rect : rects) {
        const QRectF r(rect.x, rect.y, rect.width, rect.height);
        if (direct && std::abs(r.left()) < kFarAway && std::abs(r.top()) < kFarAway &&
            std::abs(r.right()) < kFarAway && std::abs(r.bottom()) < kFarAway) {
            // Blends translucent fills about twice as fast as QPainter, with the same coverage.
            fillRectAntialiased(target,
                                QRectF(target.map(r.topLeft()), target.map(r.bottomRight())),
                                premultiplied);
        } else {
            painter_.fillRect(r, fillColor_);
        }
    }
}

void PainterContext::fillEllipseInRect(Rect rect) {
    QPainterPath ellipse;
    ellipse.addEllipse(QRectF(rect.x, rect.y, rect.width, rect.height));
    painter_.fillPath(ellipse, fillColor_);
}

QFont PainterContext::qtFont(Font font) {
    QFont qfont = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    // Sizes are in points of the drawing space, which are logical pixels here.
    qfont.setPixelSize(std::max(1, static_cast<int>(std::lround(font.pointSize))));
    return qfont;
}

const QFont& PainterContext::fontFor(Font font) {
    if (font.pointSize != fontSize_) {
        font_ = qtFont(font);
        fontSize_ = font.pointSize;
    }
    return font_;
}

Size PainterContext::drawAtPoint(const QString& text, Point point, Font font) {
    painter_.setFont(fontFor(font));
    painter_.setPen(fillColor_);
    QRectF used;
    painter_.drawText(QRectF(point.x, point.y, kUnbounded, kUnbounded),
                      Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | Qt::TextDontClip, text,
                      &used);
    return Size{static_cast<float>(used.width()), static_cast<float>(used.height())};
}

Size PainterContext::drawInRect(const QString& text, Rect rect, Font font,
                                LineBreakMode /*lineBreakMode*/, TextAlignment /*alignment*/) {
    // Word wrap and left alignment are the only modes the views use.
    painter_.setFont(fontFor(font));
    painter_.setPen(fillColor_);
    QRectF used;
    painter_.drawText(QRectF(rect.x, rect.y, rect.width, rect.height),
                      Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text, &used);
    return Size{static_cast<float>(used.width()), static_cast<float>(used.height())};
}

Point PainterContext::convertPointToDeviceSpace(Point point) const {
    const QPointF device = painter_.deviceTransform().map(QPointF(point.x, point.y));
    return Point{float(device.x()), float(device.y())};
}

Point PainterContext::convertPointToUserSpace(Point point) const {
    const QPointF user = painter_.deviceTransform().inverted().map(QPointF(point.x, point.y));
    return Point{float(user.x()), float(user.y())};
}

} // namespace drawing
