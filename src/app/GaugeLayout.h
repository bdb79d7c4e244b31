#pragma once

// Where the meters screen's gauges are, in points of its 480 × 320 view. MeterView draws the
// needles and pivot caps from these numbers and tools/skingen paints the dials under them, so
// a needle points at the right mark only while both read them from here.
namespace app::gauge {

struct Pivot {
    float x;
    float y;
};

// X upper middle, Y lower left, Z lower right.
inline constexpr Pivot kPivots[3] = {{241.0f, 104.0f}, {94.0f, 194.0f}, {386.0f, 194.0f}};

// From the pivot to the tip.
inline constexpr float kNeedleLength = 50.0f;

// The needle turns clockwise for positive readings, from straight up at 0 g, without limit:
// ±3 g lie horizontal.
inline constexpr float kDegreesPerG = 30.0f;

// The cap over each pivot: a white disc with a red disc inside, leaving a 1-point ring.
inline constexpr float kCapDiameter = 12.0f;
inline constexpr float kInnerCapDiameter = 10.0f;

} // namespace app::gauge
