#include "features/AxisCheck.h"

#include "sensors/Accelerometer.h"

#include <QCoreApplication>
#include <QSettings>
#include <QSocketNotifier>
#include <cmath>
#include <cstdio>
#include <unistd.h>

using sensors::Acceleration;
using sensors::AxisMap;

namespace {
constexpr int kTickMs = 20;
} // namespace

AxisCheck::AxisCheck(std::function<std::optional<Acceleration>()> latest, QObject* parent)
    : QObject(parent), latest_(std::move(latest)) {
    timer_.setInterval(kTickMs);
    connect(&timer_, &QTimer::timeout, this, &AxisCheck::sample);
}

QString AxisCheck::instruction() const {
    switch (step_) {
    case Step::FaceUp:
        return QStringLiteral("Lay the device flat on a table, screen up, and let go of it.");
    case Step::Upright:
        return QStringLiteral("Hold the device straight up in portrait, screen towards you, "
                              "top edge up, and keep it still.");
    case Step::Done:
        return QStringLiteral("The axes are checked.");
    }
    return QString();
}

void AxisCheck::capture() {
    if (step_ == Step::Done || timer_.isActive())
        return;
    samples_.clear();
    ticks_ = 0;
    timer_.start();
}

void AxisCheck::restart() {
    timer_.stop();
    step_ = Step::FaceUp;
    correction_.reset();
    problem_.clear();
}

void AxisCheck::sample() {
    const double elapsed = ++ticks_ * kTickMs / 1000.0;
    if (elapsed > kSettleSeconds)
        if (const std::optional<Acceleration> reading = latest_())
            samples_.push_back(*reading);
    if (elapsed >= kSettleSeconds + kPoseSeconds) {
        timer_.stop();
        finishPose();
    }
}

void AxisCheck::finishPose() {
    problem_.clear();
    if (samples_.size() < 5) {
        problem_ = QStringLiteral("The sensor gave no readings; check that it is connected.");
        emit stepChanged();
        return;
    }
    Acceleration mean;
    for (const Acceleration& s : samples_) {
        mean.x += s.x / double(samples_.size());
        mean.y += s.y / double(samples_.size());
        mean.z += s.z / double(samples_.size());
    }
    for (const Acceleration& s : samples_) {
        const double d =
            std::max({std::abs(s.x - mean.x), std::abs(s.y - mean.y), std::abs(s.z - mean.z)});
        if (!(d <= kStillness)) {
            problem_ = QStringLiteral("The device moved; hold it still and try again.");
            emit stepChanged();
            return;
        }
    }
    if (step_ == Step::FaceUp) {
        faceUp_ = mean;
        step_ = Step::Upright;
    } else {
        QString error;
        correction_ = AxisMap::fromPoses(faceUp_, mean, &error);
        if (correction_) {
            step_ = Step::Done;
        } else {
            // Which pose was wrong cannot always be told apart: start over.
            problem_ = error;
            step_ = Step::FaceUp;
        }
    }
    emit stepChanged();
}

bool AxisCheck::apply(sensors::AccelerometerDriver& driver, const AxisMap& correction,
                      AxisMap* stored, QString* error) {
    const std::optional<AxisMap> present = driver.axisMap();
    if (!present || driver.axisSettingKey().isEmpty()) {
        *error = QStringLiteral("The axes of %1 cannot be turned: it reports in the device's "
                                "axes already.")
                     .arg(driver.description());
        return false;
    }
    *stored = present->then(correction);
    driver.setAxisMap(*stored);
    QSettings().setValue(driver.axisSettingKey(), stored->toString());
    return true;
}

namespace {

// Keeps the newest reading for the terminal check, which has no window to hand them to.
class LatestReading final : public sensors::AccelerometerDelegate {
public:
    void accelerometer(sensors::Accelerometer&, const Acceleration& acceleration) override {
        latest = acceleration;
    }
    std::optional<Acceleration> latest;
};

void say(const QString& text) {
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
}

} // namespace

int runAxisCheckOnTerminal(sensors::Accelerometer& accelerometer) {
    sensors::AccelerometerDriver* driver = accelerometer.driver();
    if (!driver || !driver->axisMap()) {
        std::fprintf(stderr,
                     "wobblestar: the axes of %s cannot be turned: it reports in the "
                     "device's axes already\n",
                     driver ? qPrintable(driver->description()) : "this source");
        return 1;
    }
    say(QStringLiteral("Checking the axes of %1 (now %2).")
            .arg(driver->description(), driver->axisMap()->toString()));

    LatestReading readings;
    accelerometer.setUpdateInterval(1.0 / 80);
    accelerometer.setDelegate(&readings);
    AxisCheck check([&] { return readings.latest; });

    int status = 1;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    auto prompt = [&] { say(check.instruction() + QStringLiteral(" Then press Enter.")); };
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[256];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            std::fprintf(stderr, "wobblestar: standard input ended before the check was done; "
                                 "nothing was changed\n");
            QCoreApplication::quit();
            return;
        }
        if (!check.isCapturing() && memchr(buffer, '\n', size_t(n))) {
            say(QStringLiteral("Measuring…"));
            input.setEnabled(false);
            check.capture();
        }
    });
    QObject::connect(&check, &AxisCheck::stepChanged, [&] {
        if (!check.problem().isEmpty())
            say(check.problem());
        if (check.step() != AxisCheck::Step::Done) {
            prompt();
            input.setEnabled(true);
            return;
        }
        sensors::AxisMap stored;
        QString error;
        if (AxisCheck::apply(*driver, *check.correction(), &stored, &error)) {
            say(QStringLiteral("Axis map %1 stored as %2; --axes overrides it.")
                    .arg(stored.toString(), driver->axisSettingKey()));
            status = 0;
        } else {
            std::fprintf(stderr, "wobblestar: %s\n", qPrintable(error));
        }
        QCoreApplication::quit();
    });
    prompt();
    QCoreApplication::exec();
    accelerometer.setDelegate(nullptr);
    return status;
}
