#pragma once

#include "drawing/Geometry.h"

#include <QString>
#include <functional>
#include <span>

namespace drawing {

// The system font at a size in points (one point is one logical pixel).
struct Font {
    float pointSize = 12.0f;
    static constexpr Font systemFontOfSize(float size) { return Font{size}; }
};

// Colours are float components with an alpha, 0..1; backends clamp components outside that range.
struct Color {
    float red = 0.0f;
    float green = 0.0f;
    float blue = 0.0f;
    float alpha = 1.0f;
    static constexpr Color whiteColor() { return Color{1.0f, 1.0f, 1.0f, 1.0f}; }
};

enum class LineBreakMode { WordWrap = 0 };
enum class TextAlignment { Left = 0 };

class DrawingContext;
class Layer;
// What a layer holds: it draws into the context it is given.
using LayerContent = std::function<void(DrawingContext&)>;

// The drawing operations the views use, under the names the views call them by.
//
// A context starts with an empty path and the initial graphics state: line width 1.0, black
// fill and stroke colours and antialiasing allowed. Backends: PainterContext (pixels) and
// RecordingContext (a list of calls, for tests). Both take the same calls from the views, so
// what the tests record is what the screen shows.
class DrawingContext {
public:
    virtual ~DrawingContext() = default;

    virtual void setGrayFillColor(float gray, float alpha) = 0;
    virtual void setGrayStrokeColor(float gray, float alpha) = 0;
    virtual void setRGBFillColor(float red, float green, float blue, float alpha) = 0;
    virtual void setRGBStrokeColor(float red, float green, float blue, float alpha) = 0;
    // Makes the colour both the fill and the stroke colour (a UI colour's `set`).
    virtual void setColor(Color color) = 0;
    // Stroke width in points, centred on the path.
    virtual void setLineWidth(float width) = 0;
    // Whether later drawing may be antialiased.
    virtual void setAllowsAntialiasing(bool allows) = 0;

    // The graphics state is the colours, the line width and antialiasing; the path is not part
    // of it. saveGState() pushes a copy of it; restoreGState() pops the latest copy back and
    // does nothing when none is left. Prefer GStateSaver, which cannot leave them unbalanced.
    virtual void saveGState() = 0;
    virtual void restoreGState() = 0;

    // Discards the current path.
    virtual void beginPath() = 0;
    // Starts a new subpath.
    virtual void moveToPoint(float x, float y) = 0;
    // A straight segment from the current point.
    virtual void addLineToPoint(float x, float y) = 0;
    // Strokes the path in the stroke colour and width, then empties it.
    virtual void strokePath() = 0;
    virtual void fillRect(Rect rect) = 0;
    // Fills each rectangle in turn, as fillRect() would; a backend may save per-call work.
    virtual void fillRects(std::span<const Rect> rects) {
        for (const Rect& rect : rects)
            fillRect(rect);
    }
    // Fills the ellipse inscribed in the rectangle.
    virtual void fillEllipseInRect(Rect rect) = 0;

    // One line of text with its top-left corner at the point, in the fill colour.
    // Returns the size the text took.
    virtual Size drawAtPoint(const QString& text, Point point, Font font) = 0;
    // Text inside the rectangle from its top-left corner, wrapped at word boundaries.
    virtual Size drawInRect(const QString& text, Rect rect, Font font,
                            LineBreakMode lineBreakMode = LineBreakMode::WordWrap,
                            TextAlignment alignment = TextAlignment::Left) = 0;

    // Draws what `content` draws, as a layer over `frame` (the area it may cover; anything
    // beyond may be cut off). The content must draw the same picture for the same `bounds`,
    // the rectangle it is drawn for: a backend may keep the picture in `layer` and composite
    // it again, without calling `content`, while frame, bounds and the surface's pixel density
    // stay the same. The content starts from the initial graphics state; the state afterwards
    // is as it was before. Call it with no path under construction.
    //
    //   context.drawLayer(gridLayer_, bounds(), strip,
    //                     [&](DrawingContext& layer) { drawGrid(layer, strip); });
    virtual void drawLayer(Layer& layer, Rect frame, Rect bounds, const LayerContent& content) = 0;

    // Between points and the pixels of the surface drawn on (device space). A context without
    // pixels, such as the recorder, has the two spaces coincide.
    virtual Point convertPointToDeviceSpace(Point point) const { return point; }
    virtual Point convertPointToUserSpace(Point point) const { return point; }
};

// Saves the graphics state for the lifetime of the scope:
//
//   {
//       const GStateSaver saved(context);
//       context.setLineWidth(2.0f);
//       context.strokePath();
//   } // back to the width before
class GStateSaver {
public:
    explicit GStateSaver(DrawingContext& context) : context_(context) { context_.saveGState(); }
    ~GStateSaver() { context_.restoreGState(); }
    GStateSaver(const GStateSaver&) = delete;
    GStateSaver& operator=(const GStateSaver&) = delete;

private:
    DrawingContext& context_;
};

} // namespace drawing
