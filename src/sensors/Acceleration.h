#pragma once

namespace sensors {

// One accelerometer reading in g (1 g = 9.80665 m/s²), in the device's axes: X to the right of
// the screen, Y to its top, Z out of the screen. Lying flat and face up the device reads
// (0, 0, -1); held upright in portrait it reads (0, -1, 0).
struct Acceleration {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    // Seconds since the accelerometer service started delivering.
    double timestamp = 0.0;
};

// Standard gravity, for drivers that read m/s².
inline constexpr double kStandardGravity = 9.80665;

} // namespace sensors
