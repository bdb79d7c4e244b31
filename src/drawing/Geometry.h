#pragma once

// Drawing coordinates: 32-bit floats in points, origin at the top left, y growing downward.
namespace drawing {

struct Point {
    float x = 0.0f;
    float y = 0.0f;
};

struct Size {
    float width = 0.0f;
    float height = 0.0f;
};

struct Rect {
    float x = 0.0f;
    float y = 0.0f;
    float width = 0.0f;
    float height = 0.0f;
    friend bool operator==(const Rect&, const Rect&) = default;
};

} // namespace drawing
