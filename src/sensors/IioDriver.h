#pragma once

#include "sensors/AccelerometerDriver.h"
#include "sensors/AxisMap.h"
#include "sensors/IioBuffer.h"
#include "sensors/IioDevice.h"
#include "sensors/RestScale.h"
#include "sensors/SensorFiles.h"
#include "sensors/Sources.h"

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace sensors {

// An accelerometer of the Linux Industrial I/O subsystem, read in one of two ways:
//
// - From its buffer (/dev/iio:deviceN) where the device offers one: the kernel keeps whole scans
//   of the three axes, each one coherent sample, and every update takes the newest. The buffer is
//   read on the event loop's thread, only as far as poll() says it holds scans, so no read ever
//   waits for the chip; between the chip's scans the last reading holds.
// - Otherwise by polling its sysfs files (in_accel_{x,y,z}_raw) once per update interval, on a
//   thread of the driver's own, so a chip that stalls its bus stalls only this sensor, which then
//   says it is not answering. read() hands that thread the next request and returns the reading
//   it finished last.
//
// The same thread does the driver's other file work (the sampling rate, turning the buffer on,
// looking for the device again). If the device vanishes, the driver says so once and looks for a
// device of the same name whenever udev announces one.
//
// Readings follow the desktop's rotation service: the mount matrix (udev's ACCEL_MOUNT_MATRIX,
// else the kernel's, else none) gives X and Y as they are; Z completes a right-handed frame from
// the matrix's first two rows, turned over for chips, which measure the force that holds them
// up (see docs/sensors.md).
class IioDriver final : public AccelerometerDriver {
    Q_OBJECT
public:
    // Every IIO device with X, Y and Z acceleration channels, in device-number order, with the
    // reason for each that cannot be used. Reads sysfs: call it off the main thread.
    static std::vector<SourceInfo> discover();
    // `iio[:NAME]`: NAME is the device's name, its label or its folder.
    static SourceKind sourceKind();

    // `folder` is the device's sysfs folder; `axes` is applied after the device's own frame.
    IioDriver(const QString& folder, const AxisMap& axes = AxisMap(), QObject* parent = nullptr);
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

    // Capture needs the buffer and a rate above the live ones; the chip is set to the capture
    // rate with a watermark of about half a live interval, and set back afterwards.
    double highestCaptureRate() const override;
    QString whyNoCapture() const override;
    bool startCapture(double wanted, double now, CaptureSink sink, double* rate,
                      QString* why) override;
    void stopCapture() override;

private:
    // What one look at the device found.
    struct Sample {
        bool fresh = false; // a reading newer than the last look's
        std::array<double, 3> counts{};
        std::optional<std::array<QByteArray, 3>> texts; // polled: the counts still as written
        int error = 0; // the look failed: the device is gone or may not be read
        QByteArray failedPath;
    };

    // The texts of the three raw files as one poll read them, or the error that stopped it.
    struct PolledTexts {
        std::uint64_t generation = 0; // which paths it read
        std::array<QByteArray, 3> text;
        int error = 0;
        QByteArray failedPath;
    };

    // Everything the reader thread touches. It outlives the driver when the thread is stuck in
    // a file that never answers: the driver then leaves the thread behind instead of waiting.
    struct Shared {
        std::mutex mutex;
        std::condition_variable wake;
        std::array<QByteArray, 3> paths;
        std::uint64_t generation = 0; // counts the folders read so far
        bool requested = false;
        bool stopping = false;
        std::deque<std::function<void(Shared&)>> jobs;
        PolledTexts polled;
        std::uint64_t pollsDone = 0;
        // What the last look for a vanished device found: its folder and description.
        bool lookFinished = false;
        std::optional<std::pair<QString, IioDevice>> found;
    };

    static void readerLoop(std::shared_ptr<Shared> shared);
    static bool runJobs(Shared& shared, std::unique_lock<std::mutex>& lock);
    void post(std::function<void(Shared&)> job);
    void resume(const QString& folder, const IioDevice& device);
    Sample takePolled();
    Sample takeScan();
    std::optional<Acceleration> whileQuiet(double now);
    bool parseTexts(Sample* sample);
    std::optional<Acceleration> deliver(const std::array<double, 3>& counts, double now);
    std::optional<Acceleration> scaleAtRest(const std::array<double, 3>& g, double now);
    void warnOfRejectedMatrices();
    void lose(int error, const QByteArray& failedPath);
    void lookAgain();
    void takeWhatTheLookFound();
    void applySamplingFrequency();
    std::optional<Acceleration> readCaptured(double now, bool drain = false);
    void endCapture();

    QString folder_;
    QString name_;
    AxisMap axes_;
    IioDevice device_;
    double interval_ = 0.0;
    bool running_ = false;
    bool reportedStall_ = false;
    bool lookingAgain_ = false;
    int dropped_ = 0;
    std::uint64_t pollsSeen_ = 0;
    std::optional<Acceleration> latest_;
    double latestTime_ = 0.0;
    RestScale restScale_;
    Reconnector reconnector_;
    std::shared_ptr<Shared> shared_;
    std::thread reader_;
    IioBuffer buffer_;
    double lastNow_ = 0.0;

    struct Capture {
        bool on = false;
        CaptureSink sink;
        double rate = 0.0;
        QByteArray rateBefore;  // the chip's rate to put back
        double startedAt = 0.0; // on the service's clock
        bool anchored = false;
        double origin = 0.0; // service time of the first scan
        std::int64_t firstTime = 0;
        std::int64_t lastTime = 0;
        std::int64_t count = 0;
        std::int64_t lost = 0;
        bool lossSaid = false;
    };
    Capture capture_;
    std::vector<IioBuffer::Scan> scans_;
};

} // namespace sensors
