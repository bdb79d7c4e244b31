#pragma once

#include <QString>
#include <array>
#include <optional>

namespace sensors {

// The unit of a sensor that does not state its own (an IIO chip without a scale file, an input
// device with resolution 0), found the way a person would: at rest a sensor feels 1 g, so the
// mean length of its readings over a still second is what 1 g reads in its units.
class RestScale {
public:
    enum class Step {
        Measuring, // the second is not over yet
        Moved,     // the readings changed too much to be at rest: measuring again
        Done,      // factor() is known
    };

    // Feeds one reading in the sensor's own units at time `seconds`.
    Step add(const std::array<double, 3>& reading, double seconds);
    bool known() const { return factor_ > 0.0; }
    // Feeds `reading` and returns it in g once the unit is known; nullopt while measuring. A
    // reading that shows the sensor moved sets `moved`.
    std::optional<std::array<double, 3>> inG(const std::array<double, 3>& reading, double seconds,
                                             bool* moved);
    // What a driver says when its sensor moved while being calibrated.
    static QString movedMessage(const QString& sensor);
    // What to multiply a reading by to have it in g.
    double factor() const { return factor_; }

private:
    void restart(double seconds);

    double start_ = -1.0;
    double sum_ = 0.0;
    double least_ = 0.0;
    double most_ = 0.0;
    int count_ = 0;
    double factor_ = 0.0;
};

} // namespace sensors
