#pragma once

#include "sensors/Acceleration.h"
#include "sensors/AxisMap.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <optional>
#include <vector>

namespace sensors {
class Accelerometer;
class AccelerometerDriver;
} // namespace sensors

// The guided axis check: the user lays the device face up, then holds it upright in portrait,
// and the check works out which axis map makes these read (0, 0, -1) and (0, -1, 0). It settles
// any device whose mounting no table knows.
//
// Each pose is measured over kPoseSeconds from the newest readings; a pose during which the
// device moved is asked for again.
//
//   AxisCheck check([&] { return latestReading; });
//   check.capture();            // face up, after the user says it lies so
//   ...                         // stepChanged(): now upright
//   check.capture();
//   ...                         // stepChanged(): Done, check.correction() is the answer
class AxisCheck : public QObject {
    Q_OBJECT
public:
    enum class Step { FaceUp, Upright, Done };
    Q_ENUM(Step)

    // How long each pose is measured, and how far a reading may stray from the pose's mean
    // before the device counts as moved (in g).
    static constexpr double kPoseSeconds = 1.0;
    // Readings right after Measure is pressed are left out: the press itself shakes the device.
    static constexpr double kSettleSeconds = 0.25;
    static constexpr double kStillness = 0.15;

    // `latest` gives the newest reading, or nothing while the source has none.
    explicit AxisCheck(std::function<std::optional<sensors::Acceleration>()> latest,
                       QObject* parent = nullptr);

    Step step() const { return step_; }
    bool isCapturing() const { return timer_.isActive(); }
    // What the user is to do now, in one or two sentences.
    QString instruction() const;
    // Why the last capture was not taken; empty after a good one.
    QString problem() const { return problem_; }
    // At Done: the map to apply after the source's present one.
    std::optional<sensors::AxisMap> correction() const { return correction_; }

    // Measures the pose of the present step; stepChanged() follows when it is measured.
    void capture();
    // Back to the first pose.
    void restart();

    // The source's new map (its present map followed by the correction), applied to `driver`
    // and stored in its setting. False with `error` set when the source's axes cannot be turned.
    static bool apply(sensors::AccelerometerDriver& driver, const sensors::AxisMap& correction,
                      sensors::AxisMap* stored, QString* error);

signals:
    // A pose was measured (step() moved on) or refused (problem() says why).
    void stepChanged();

private:
    void sample();
    void finishPose();

    std::function<std::optional<sensors::Acceleration>()> latest_;
    Step step_ = Step::FaceUp;
    QTimer timer_;
    std::vector<sensors::Acceleration> samples_;
    int ticks_ = 0;
    sensors::Acceleration faceUp_;
    std::optional<sensors::AxisMap> correction_;
    QString problem_;
};

// `wobblestar --check-axes`: the same check on a terminal, prompting on standard output and
// waiting for Enter on standard input; a pose that fails is asked for again. Returns the exit
// status: 0 with the map stored, 1 when the source's axes cannot be turned or standard input
// ends first.
int runAxisCheckOnTerminal(sensors::Accelerometer& accelerometer);
