#include "sensors/RestScale.h"

#include <algorithm>
#include <cmath>

namespace sensors {

namespace {

// How long the sensor must lie still, and how much its length may vary meanwhile: a hand that
// holds a device feels more than 5 % of 1 g, a table's vibration less.
constexpr double kRestSeconds = 1.0;
constexpr double kRestSpread = 0.05;

} // namespace

void RestScale::restart(double seconds) {
    start_ = seconds;
    sum_ = 0.0;
    count_ = 0;
}

RestScale::Step RestScale::add(const std::array<double, 3>& reading, double seconds) {
    if (known())
        return Step::Done;
    if (start_ < 0.0)
        restart(seconds);
    const double length =
        std::sqrt(reading[0] * reading[0] + reading[1] * reading[1] + reading[2] * reading[2]);
    least_ = count_ == 0 ? length : std::min(least_, length);
    most_ = count_ == 0 ? length : std::max(most_, length);
    sum_ += length;
    ++count_;
    if (seconds - start_ < kRestSeconds)
        return Step::Measuring;
    const double mean = sum_ / count_;
    if (!(mean > 0.0) || most_ - least_ > kRestSpread * mean) {
        restart(seconds);
        return Step::Moved;
    }
    factor_ = 1.0 / mean;
    return Step::Done;
}

std::optional<std::array<double, 3>> RestScale::inG(const std::array<double, 3>& reading,
                                                    double seconds, bool* moved) {
    const Step step = add(reading, seconds);
    *moved = step == Step::Moved;
    if (step != Step::Done)
        return std::nullopt;
    return std::array<double, 3>{reading[0] * factor_, reading[1] * factor_, reading[2] * factor_};
}

QString RestScale::movedMessage(const QString& sensor) {
    return QStringLiteral("Sensor %1: scale unknown: it moved while being calibrated at rest; "
                          "keep it still for a second")
        .arg(sensor);
}

} // namespace sensors
