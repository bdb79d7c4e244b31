#pragma once

#include "sensors/AccelerometerDriver.h"
#include "sensors/AxisMap.h"
#include "sensors/Sources.h"

#include <QTimer>
#include <array>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace platform {

// An accelerometer of the Linux Industrial I/O subsystem, read by polling its sysfs files
// (<root>/bus/iio/devices/iio:deviceN/in_accel_{x,y,z}_raw) once per update interval.
//
// The three files are read on a thread of the driver's own, so a chip that stalls its bus never
// stalls the event loop; read() hands that thread the next request and returns the reading it
// finished last. If the device vanishes, the driver says so once, looks for a device of the same
// name every second and resumes when it returns.
class IioDriver final : public AccelerometerDriver {
    Q_OBJECT
public:
    // `/sys`, or the folder named by WOBBLESTAR_SYSFS_ROOT.
    static QString sysfsRoot();
    // Every IIO device with raw X, Y and Z acceleration files, in device-number order.
    static std::vector<SourceInfo> discover();
    // The map that makes device `name` read (0, 0, -1) lying face up. IIO chips report the
    // force that holds them up, +1 g face up; HID sensor hubs ("accel_3d") report gravity.
    static AxisMap defaultAxes(const QString& name);

    // `folder` is the device's sysfs folder.
    IioDriver(const QString& folder, const AxisMap& axes, QObject* parent = nullptr);
    ~IioDriver() override;

    QString description() const override;
    std::optional<AxisMap> axisMap() const override { return axes_; }
    void setAxisMap(const AxisMap& map) override { axes_ = map; }
    QString axisSettingKey() const override { return QStringLiteral("axes/iio"); }
    bool start(QString* error) override;
    void setUpdateInterval(double seconds) override;
    std::optional<Acceleration> read(double now) override;

    // Readings dropped because a value did not parse or was not finite.
    int droppedReadings() const { return dropped_; }

private:
    // How the device's raw counts become m/s² in its mounting.
    struct Calibration {
        std::array<QByteArray, 3> rawPaths;
        std::array<double, 3> scale{};
        std::array<double, 3> offset{};
        std::array<std::array<double, 3>, 3> matrix{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
    };
    // The texts of the three raw files as one read saw them, or the error that stopped it.
    struct RawRead {
        std::uint64_t sequence = 0;
        std::uint64_t generation = 0; // which paths_ it read
        std::array<QByteArray, 3> text;
        int error = 0;
        QByteArray failedPath;
    };

    static bool loadCalibration(const QString& folder, Calibration* calibration, QString* error);
    void readerLoop();
    void resume(const QString& folder, const Calibration& calibration);
    void lose(const RawRead& failure);
    void lookAgain();
    void applySamplingFrequency();

    QString folder_;
    QString name_;
    AxisMap axes_;
    Calibration calibration_;
    double interval_ = 0.0;
    bool running_ = false;
    bool reportedStall_ = false;
    int dropped_ = 0;
    std::uint64_t lastSequence_ = 0;
    std::optional<Acceleration> latest_;
    double latestTime_ = 0.0;
    QTimer lookAgainTimer_;

    // Shared with the reader thread.
    std::mutex mutex_;
    std::condition_variable wake_;
    std::array<QByteArray, 3> paths_;
    std::uint64_t generation_ = 0;
    bool requested_ = false;
    bool stopping_ = false;
    RawRead result_;
    std::thread reader_;
};

} // namespace platform
