#pragma once

#include "drawing/DrawingContext.h"

#include <QColor>
#include <QFont>
#include <QPen>
#include <QPointF>
#include <vector>

class QPainter;

namespace platform {

// Draws into a QPainter. Does not take ownership; the painter must outlive the context.
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

    void beginPath() override;
    void moveToPoint(float x, float y) override;
    void addLineToPoint(float x, float y) override;
    void strokePath() override;
    void fillRect(Rect rect) override;
    void fillEllipseInRect(Rect rect) override;

    Size drawAtPoint(const QString& text, Point point, Font font) override;
    Size drawInRect(const QString& text, Rect rect, Font font, LineBreakMode lineBreakMode,
                    TextAlignment alignment) override;

    // The QFont used for a system font of the given size.
    static QFont qtFont(Font font);

    Point convertPointToDeviceSpace(Point point) const override;
    Point convertPointToUserSpace(Point point) const override;

private:
    const QFont& fontFor(Font font);

    QPainter& painter_;
    // The current path: its points in points, and where each subpath begins.
    std::vector<QPointF> points_;
    std::vector<int> subpathStarts_;
    std::vector<QPointF> devicePoints_;
    QPen strokePen_;
    QColor fillColor_;
    QFont font_;
    float fontSize_ = -1.0f;
};

} // namespace platform
