#pragma once

#include "sensors/AccelerometerDriver.h"
#include "sensors/AxisMap.h"
#include "sensors/MountMatrix.h"
#include "sensors/RestScale.h"
#include "sensors/SensorFiles.h"
#include "sensors/Sources.h"

#include <array>
#include <functional>
#include <linux/input.h>
#include <memory>

class QSocketNotifier;

namespace sensors {

// What the input driver needs of an open event device.
class InputDevice {
public:
    virtual ~InputDevice() = default;
    // Becomes readable when events arrive.
    virtual int fd() const = 0;
    virtual QString name() const = 0;
    // Range, resolution (units per g) and value of ABS_X, ABS_Y or ABS_Z; nothing when absent.
    virtual std::optional<input_absinfo> axisInfo(unsigned code) const = 0;
    // The next event, as libevdev_next_event gives it: LIBEVDEV_READ_STATUS_SUCCESS, or
    // LIBEVDEV_READ_STATUS_SYNC for SYN_DROPPED and then, asked with LIBEVDEV_READ_FLAG_SYNC,
    // for each event that brings the state up to date; -EAGAIN when there is none; another
    // negative errno when the device is gone.
    virtual int nextEvent(unsigned flags, input_event* event) = 0;
    // The USB or Bluetooth vendor id (0x054c Sony, 0x057e Nintendo); 0 when unknown.
    virtual int vendor() const { return 0; }
};

// Opens the device (again, after it vanished). On failure returns null and sets `error`.
using InputDeviceOpener = std::function<std::unique_ptr<InputDevice>(QString* error)>;

// An accelerometer that the kernel exposes as an input device, marked by udev
// (ID_INPUT_ACCELEROMETER) or by the kernel (INPUT_PROP_ACCELEROMETER): game controllers' motion
// sensors, handhelds, older laptops' free-fall sensors.
//
// Events are read as they arrive through a socket notifier; a report becomes the newest reading
// at its SYN_REPORT, and read() returns that reading once per update interval.
//
// Input accelerometers report the force that holds them up (+1 g on Z lying face up). X and Y
// are read as the desktop's rotation service reads them: the device's axes after udev's
// ACCEL_MOUNT_MATRIX, and Z completes the frame as for IIO chips. Sony's and Nintendo's
// controllers keep their makers' documented frames. A device that states no unit (resolution
// 0) and is not in the table of known ones is scaled so that it reads 1 g at rest.
class InputDriver final : public AccelerometerDriver {
    Q_OBJECT
public:
    // Every event device that udev marks as an accelerometer, in device-number order; one
    // that cannot be used is listed with the reason.
    static std::vector<SourceInfo> discover();
    // `input[:PATH]`: PATH is an event node, "/dev/input/event5" or "event5".
    static SourceKind sourceKind();
    // The frame of a game controller of this name and vendor, as an axis map into ours;
    // nothing for other devices, which follow the mount matrix.
    static std::optional<AxisMap> controllerFrame(const QString& name, int vendor);
    // Units per g for a device that states no resolution, from a table of known drivers.
    static std::optional<double> knownUnitsPerG(const QString& name);
    // Opens the event node at `path` with libevdev; `requireProperty`: refuse a device the
    // kernel does not mark as an accelerometer.
    static InputDeviceOpener openerFor(const QString& path, bool requireProperty = false);

    // `mount`: udev's matrix for the device (identity when it has none).
    InputDriver(const QString& path, InputDeviceOpener opener, const AxisMap& axes = AxisMap(),
                const MountMatrix& mount = MountMatrix(), QObject* parent = nullptr);
    ~InputDriver() override;

    QString description() const override;
    std::optional<AxisMap> axisMap() const override { return axes_; }
    void setAxisMap(const AxisMap& map) override { axes_ = map; }
    QString axisSettingKey() const override { return QStringLiteral("axes/input"); }
    bool start(QString* error) override;
    std::optional<Acceleration> read(double now) override;

    // Times the kernel's buffer overflowed (SYN_DROPPED) and the state was fetched afresh.
    int resyncs() const { return resyncs_; }

private:
    bool attach(std::unique_ptr<InputDevice> device, QString* error);
    void detach();
    void onReadable();
    void handle(const input_event& event);
    void commit();
    void lose(const QString& why);
    void lookAgain();

    QString path_;
    QString name_;
    InputDeviceOpener opener_;
    AxisMap axes_;
    MountMatrix mount_;
    Matrix3 frame_{};
    std::unique_ptr<InputDevice> device_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::array<double, 3> unitsPerG_{};
    bool scaleKnown_ = true;
    RestScale restScale_;
    std::array<int, 3> pending_{};
    int resyncs_ = 0;
    std::optional<Acceleration> latest_;
    Reconnector reconnector_;
};

} // namespace sensors
