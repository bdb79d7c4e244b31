#include "drawing/RecordingContext.h"

namespace drawing {

std::vector<DrawingCall> RecordingContext::callsNamed(const QString& operation) const {
    std::vector<DrawingCall> named;
    for (const DrawingCall& call : calls_) {
        if (call.operation == operation)
            named.push_back(call);
    }
    return named;
}

void RecordingContext::record(const char* operation, std::vector<double> arguments,
                              const QString& text) {
    calls_.push_back(DrawingCall{QString::fromLatin1(operation), std::move(arguments), text});
}

void RecordingContext::setGrayFillColor(float gray, float alpha) {
    record("setGrayFillColor", {gray, alpha});
}

void RecordingContext::setGrayStrokeColor(float gray, float alpha) {
    record("setGrayStrokeColor", {gray, alpha});
}

void RecordingContext::setRGBFillColor(float red, float green, float blue, float alpha) {
    record("setRGBFillColor", {red, green, blue, alpha});
}

void RecordingContext::setRGBStrokeColor(float red, float green, float blue, float alpha) {
    record("setRGBStrokeColor", {red, green, blue, alpha});
}

void RecordingContext::setColor(Color color) {
    record("setColor", {color.red, color.green, color.blue, color.alpha});
}

void RecordingContext::setLineWidth(float width) {
    record("setLineWidth", {width});
}

void RecordingContext::setAllowsAntialiasing(bool allows) {
    record("setAllowsAntialiasing", {allows ? 1.0 : 0.0});
}

void RecordingContext::saveGState() {
    record("saveGState", {});
}

void RecordingContext::restoreGState() {
    record("restoreGState", {});
}

void RecordingContext::beginPath() {
    record("beginPath", {});
}

void RecordingContext::moveToPoint(float x, float y) {
    record("moveToPoint", {x, y});
}

void RecordingContext::addLineToPoint(float x, float y) {
    record("addLineToPoint", {x, y});
}

void RecordingContext::strokePath() {
    record("strokePath", {});
}

void RecordingContext::fillRect(Rect rect) {
    record("fillRect", {rect.x, rect.y, rect.width, rect.height});
}

void RecordingContext::fillEllipseInRect(Rect rect) {
    record("fillEllipseInRect", {rect.x, rect.y, rect.width, rect.height});
}

Size RecordingContext::drawAtPoint(const QString& text, Point point, Font font) {
    record("drawAtPoint", {point.x, point.y, font.pointSize}, text);
    // A rough single-line size; the views ignore it.
    return Size{0.6f * font.pointSize * static_cast<float>(text.size()), 1.2f * font.pointSize};
}

Size RecordingContext::drawInRect(const QString& text, Rect rect, Font font,
                                  LineBreakMode lineBreakMode, TextAlignment alignment) {
    record("drawInRect",
           {rect.x, rect.y, rect.width, rect.height, font.pointSize,
            static_cast<double>(lineBreakMode), static_cast<double>(alignment)},
           text);
    return Size{rect.width, 1.2f * font.pointSize};
}

void RecordingContext::drawLayer(Layer& /*layer*/, Rect frame, Rect bounds,
                                 const LayerContent& content) {
    record("beginLayer", {frame.x, frame.y, frame.width, frame.height, bounds.x, bounds.y,
                          bounds.width, bounds.height});
    content(*this);
    record("endLayer", {});
}

} // namespace drawing
