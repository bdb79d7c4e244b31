#pragma once

#include "sensors/AccelerometerDriver.h"
#include "sensors/AxisMap.h"
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
#include <vector>

namespace platform {

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
    // Every IIO device with X, Y and Z acceleration channels, in device-number order. Reads sysfs:
    // call it off the main thread.
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

    // One channel of a buffered scan, from scan_elements/in_*_type ("le:s16/32>>0").
    struct ScanChannel {
        int index = 0;
        int offset = 0; // bytes from the start of the scan
        int bytes = 0;  // storage
        int realBits = 0;
        int shift = 0;
        bool isSigned = true;
        bool bigEndian = false;
        // The value of this channel in `scan`.
        std::int64_t decode(const unsigned char* scan) const;
    };
    // Parses a channel type; false when it is not of the kernel's form.
    static bool parseScanType(const QByteArray& text, ScanChannel* channel);

    // How the device's raw counts become g in the device's axes.
    struct Calibration {
        QString name;
        std::array<QByteArray, 3> rawPaths;
        std::array<double, 3> scale{};
        std::array<double, 3> offset{};
        // Rows: device X, Y, Z from the chip's m/s²; already divided by standard gravity.
        std::array<std::array<double, 3>, 3> toDevice{};
        bool hasRawFiles = false;
        // Whole scans of the three axes (and the kernel's timestamp) from /dev/iio:deviceN, where
        // the device offers them.
        bool buffered = false;
        QByteArray devnode;
        std::array<ScanChannel, 3> axes{};
        // Only its place in the scan matters: readings are stamped when they are delivered.
        std::optional<ScanChannel> timestamp;
        int scanBytes = 0;
    };

private:
    // The texts of the three raw files as one read saw them, or the error that stopped it.
    struct RawRead {
        std::uint64_t sequence = 0;
        std::uint64_t generation = 0; // which paths_ it read
        std::array<QByteArray, 3> text;
        bool fromScan = false; // a whole scan from the buffer: `counts` instead of `text`
        std::array<double, 3> counts{};
        int error = 0;
        QByteArray failedPath;
    };

    // Everything the reader thread touches. It outlives the driver when the thread is stuck in
    // a file that never answers: the driver then leaves the thread behind instead of waiting.
    struct Shared {
        std::mutex mutex;
        std::condition_variable wake;
        std::array<QByteArray, 3> paths;
        std::uint64_t generation = 0;
        bool requested = false;
        bool stopping = false;
        std::deque<std::function<void(Shared&)>> jobs;
        RawRead result;
        // What the last look for a vanished device found: its folder and calibration.
        bool lookFinished = false;
        std::optional<std::pair<QString, Calibration>> found;
    };

    static void readerLoop(std::shared_ptr<Shared> shared);
    static bool runJobs(Shared& shared, std::unique_lock<std::mutex>& lock);
    void post(std::function<void(Shared&)> job);
    void resume(const QString& folder, const Calibration& calibration);
    // False and why not when the buffer cannot be had.
    bool openBuffer(const Calibration& calibration, QString* why);
    void closeBuffer();
    RawRead readBuffer();
    void lose(const RawRead& failure);
    void lookAgain();
    void takeWhatTheLookFound();
    void applySamplingFrequency();

    QString folder_;
    QString name_;
    AxisMap axes_;
    Calibration calibration_;
    double interval_ = 0.0;
    bool running_ = false;
    bool reportedStall_ = false;
    bool lookingAgain_ = false;
    int dropped_ = 0;
    std::uint64_t lastSequence_ = 0;
    std::optional<Acceleration> latest_;
    double latestTime_ = 0.0;
    Reconnector reconnector_;
    std::shared_ptr<Shared> shared_;
    std::thread reader_;
    // The device's buffer, read on the event loop's thread: a read never waits (see readBuffer).
    bool buffered_ = false;
    int bufferFd_ = -1;
    int bufferScans_ = 0;
    std::vector<unsigned char> scan_;
};

} // namespace platform
