#pragma once

#include "drawing/DrawingContext.h"

#include <QColor>
#include <QFont>
#include <QPen>
#include <QPointF>
#include <QVarLengthArray>
#include <vector>

class QPainter;

namespace drawing {

// Draws into a QPainter. Does not take ownership; the painter must outlive the context.
//
// Layers are kept as pictures at the painter's device pixel ratio and composited while their
// key holds, which gives the same pixels as drawing them (to within one step per channel). The
// painter's transform must be a translation; the views never scale or turn it.
class PainterContext final : public DrawingContext {
public:
    explicit PainterContext(QPainter& painter);
    ~PainterContext() override;
    PainterContext(const PainterContext&) = delete;
    PainterContext& operator=(const PainterContext&) = delete;

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
    void fillRects(std::span<const Rect> rects) override;
    void fillEllipseInRect(Rect rect) override;

    Size drawAtPoint(const QString& text, Point point, Font font) override;
    Size drawInRect(const QString& text, Rect rect, Font font, LineBreakMode lineBreakMode,
                    TextAlignment alignment) override;
    void drawLayer(Layer& layer, Rect frame, Rect bounds, const LayerContent& content) override;

    // Whether layers are cached (the default) or their content is drawn every time, to compare
    // the two or to measure what the cache saves.
    void setCachesLayers(bool caches) { cachesLayers_ = caches; }

    // The QFont used for a system font of the given size.
    static QFont qtFont(Font font);

    Point convertPointToDeviceSpace(Point point) const override;
    Point convertPointToUserSpace(Point point) const override;

private:
    struct GState {
        QPen strokePen;
        QColor fillColor;
        bool antialiasing;
    };

    const QFont& fontFor(Font font);
    void setGState(const GState& state);

    QPainter& painter_;
    // The current path: its points in points, and where each subpath begins.
    std::vector<QPointF> points_;
    std::vector<int> subpathStarts_;
    std::vector<QPointF> devicePoints_;
    QPen strokePen_;
    QColor fillColor_;
    QFont font_;
    float fontSize_ = -1.0f;
    // Views nest a scope or two; deeper nesting spills to the heap.
    QVarLengthArray<GState, 4> savedStates_;
    bool cachesLayers_ = true;
};

} // namespace drawing
