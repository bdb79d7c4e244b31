#pragma once

#include "drawing/DrawingContext.h"

#include <vector>

namespace drawing {

// One drawing operation as it was called: its name, its numeric arguments in the order of
// the call (rectangles as x, y, width, height; fonts as their size) and its text, if any.
struct DrawingCall {
    QString operation;
    std::vector<double> arguments;
    QString text;
};

// Keeps every call with its arguments instead of drawing. For tests that check positions,
// colours and order exactly. A layer is recorded as "beginLayer" (frame, then bounds), every
// call of its content, and "endLayer"; its content is recorded at every drawing, never cached.
class RecordingContext final : public DrawingContext {
public:
    const std::vector<DrawingCall>& calls() const { return calls_; }
    std::vector<DrawingCall> callsNamed(const QString& operation) const;
    void clear() { calls_.clear(); }

    void setGrayFillColor(float gray, float alpha) override;
    void setGrayStrokeColor(float gray, float alpha) override;
    void setRGBFillColor(float red, float green, float blue, float alpha) override;
    void setRGBStrokeColor(float red, float green, float blue, float alpha) override;
    void setColor(Color color) override;
    void setLineWidth(float width) override;
    void setAllowsAntialiasing(bool allows) override;
    void saveGState() override;
    void restoreGState() override;

    void beginPath() override;
    void moveToPoint(float x, float y) override;
    void addLineToPoint(float x, float y) override;
    void strokePath() override;
    void fillRect(Rect rect) override;
    void fillEllipseInRect(Rect rect) override;

    Size drawAtPoint(const QString& text, Point point, Font font) override;
    Size drawInRect(const QString& text, Rect rect, Font font, LineBreakMode lineBreakMode,
                    TextAlignment alignment) override;
    void drawLayer(Layer& layer, Rect frame, Rect bounds, const LayerContent& content) override;

private:
    void record(const char* operation, std::vector<double> arguments, const QString& text = {});

    std::vector<DrawingCall> calls_;
};

} // namespace drawing
