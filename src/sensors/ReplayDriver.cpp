#include "sensors/ReplayDriver.h"

#include <QFileInfo>
#include <algorithm>
#include <cmath>

namespace platform {

namespace {

// Service time is a difference of nanosecond clock readings and recorded times are decimal
// fractions, so "at or before" allows for rounding below the clock's resolution.
constexpr double kTimeTolerance = 1e-9;

} // namespace

ReplayDriver::ReplayDriver(QString path, bool loop, QObject* parent)
    : AccelerometerDriver(parent), path_(std::move(path)), loop_(loop) {}

QString ReplayDriver::description() const {
    return QStringLiteral("replay: %1%2")
        .arg(QFileInfo(path_).fileName(), loop_ ? QStringLiteral(" (loop)") : QString());
}

bool ReplayDriver::start(QString* error) {
    QString message;
    recording_ = loadRecording(path_, &message);
    if (recording_.rows.empty()) {
        if (error)
            *error = message;
        return false;
    }
    const auto& rows = recording_.rows;
    const double last = rows.back().timestamp;
    // The last row holds for one mean row interval before the loop starts again, so that a
    // looped recording keeps its rhythm.
    period_ = rows.size() > 1 && last > 0.0 ? last + last / double(rows.size() - 1) : 0.0;
    firstRead_ = -1.0;
    lastPass_ = 0;
    return true;
}

std::optional<Acceleration> ReplayDriver::read(double now) {
    const auto& rows = recording_.rows;
    if (rows.empty())
        return std::nullopt;
    if (firstRead_ < 0.0)
        firstRead_ = now;
    double t = std::max(0.0, now - firstRead_) + kTimeTolerance;
    if (loop_ && period_ > 0.0) {
        const auto pass = static_cast<long long>(std::floor(t / period_));
        if (pass > lastPass_) {
            lastPass_ = pass;
            emit statusMessage(QStringLiteral("Replay of %1 finished; starting again")
                                   .arg(QFileInfo(path_).fileName()));
        }
        t -= double(pass) * period_;
    } else if (t >= rows.back().timestamp && lastPass_ == 0) {
        lastPass_ = 1;
        emit statusMessage(
            QStringLiteral("Replay of %1 finished").arg(QFileInfo(path_).fileName()));
    }
    // Rows at equal times: the last of them is the reading.
    const auto after =
        std::upper_bound(rows.begin(), rows.end(), t,
                         [](double time, const Acceleration& row) { return time < row.timestamp; });
    Acceleration reading = *(after - 1);
    reading.timestamp = now;
    return reading;
}

} // namespace platform

namespace platform {

SourceKind ReplayDriver::sourceKind() {
    SourceKind kind;
    kind.kind = QStringLiteral("replay");
    kind.usage = QStringLiteral("replay:FILE");
    kind.create = [](const QString& argument, const SourceRequest& request, const AxisMap&,
                     QString* error) -> std::unique_ptr<AccelerometerDriver> {
        if (argument.isEmpty()) {
            *error = QStringLiteral("Unusable source 'replay:': name the file, e.g. "
                                    "replay:ride.csv");
            return nullptr;
        }
        auto driver = std::make_unique<ReplayDriver>(argument, request.loop);
        if (!driver->start(error))
            return nullptr;
        return driver;
    };
    return kind;
}

} // namespace platform
