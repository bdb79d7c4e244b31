#pragma once

#include "sensors/Acceleration.h"

#include <QString>
#include <array>
#include <optional>

namespace sensors {

// Which sensor axis, with which sign, becomes the device's X, Y and Z.
//
// Written as three comma-separated terms, one per device axis: "x,y,-z" keeps X and Y and turns
// Z over; "-y,x,z" makes the device's X the sensor's negated Y and its Y the sensor's X (a chip
// mounted a quarter turn off). Each sensor axis is used exactly once.
class AxisMap {
public:
    // The identity map, "x,y,z".
    AxisMap() = default;

    // Parses `text` (case and spaces ignored). On failure returns nothing and sets `error` to one
    // sentence saying what was wrong.
    static std::optional<AxisMap> parse(const QString& text, QString* error);

    Acceleration apply(const Acceleration& reading) const;
    QString toString() const;

    // The map that applies this one first, then `outer`.
    AxisMap then(const AxisMap& outer) const;
    // +1 when the map turns a right-handed frame into a right-handed one, -1 when it mirrors.
    int handedness() const;

    // The correction that makes two poses of a device read as they should: lying face up
    // (0, 0, -1) and upright in portrait (0, -1, 0). `faceUp` and `upright` are the mean
    // readings of the two poses in the axes to be corrected. Two poses fix two axes; the third
    // completes a right-handed frame, so the correction only turns, never mirrors. On failure
    // (a pose not near 1 g along one axis, or both poses along the same axis) returns nothing
    // and sets `error` to one sentence telling the user what to do.
    static std::optional<AxisMap> fromPoses(const Acceleration& faceUp, const Acceleration& upright,
                                            QString* error);

    bool operator==(const AxisMap&) const = default;

private:
    struct Term {
        int axis = 0;      // 0 = x, 1 = y, 2 = z of the sensor
        double sign = 1.0; // +1 or -1
        bool operator==(const Term&) const = default;
    };
    std::array<Term, 3> terms_{Term{0, 1.0}, Term{1, 1.0}, Term{2, 1.0}};
};

} // namespace sensors
