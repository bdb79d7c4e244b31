#include "platform/PainterContext.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace platform {

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

// Text is laid out in a box far larger than any view so nothing is cut off.
constexpr qreal kUnbounded = 100000.0;

} // namespace

PainterContext::PainterContext(QPainter& painter)
    : painter_(painter), strokePen_(Qt::black, 1.0, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin),
      fillColor_(Qt::black) {
    painter_.setRenderHint(QPainter::Antialiasing, true);
    painter_.setRenderHint(QPainter::TextAntialiasing, true);
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

void PainterContext::beginPath() {
    path_.clear();
}

void PainterContext::moveToPoint(float x, float y) {
    path_.moveTo(x, y);
}

void PainterContext::addLineToPoint(float x, float y) {
    path_.lineTo(x, y);
}

void PainterContext::strokePath() {
    painter_.strokePath(path_, strokePen_);
    path_.clear();
}

void PainterContext::fillRect(Rect rect) {
    painter_.fillRect(QRectF(rect.x, rect.y, rect.width, rect.height), fillColor_);
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

} // namespace platform
