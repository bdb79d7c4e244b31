#pragma once

#include "sensors/AccelerometerDriver.h"
#include "sensors/AxisMap.h"
#include "sensors/SensorFiles.h"
#include "sensors/Sources.h"

#include <array>
#include <functional>
#include <linux/input.h>
#include <memory>

class QSocketNotifier;

namespace platform {

// What the input driver needs of an open event device besides its stream of events.
class InputDevice {
public:
    virtual ~InputDevice() = default;
    // Non-blocking descriptor that reads as a stream of struct input_event.
    virtual int fd() const = 0;
    virtual QString name() const = 0;
    // Range, resolution (units per g) and value of ABS_X, ABS_Y or ABS_Z; nothing when absent.
    virtual std::optional<input_absinfo> axisInfo(unsigned code) const = 0;
    // The axis's value now, asked of the kernel; needed after the kernel dropped events.
    virtual std::optional<int> currentValue(unsigned code) = 0;
    // The USB or Bluetooth vendor id (0x054c Sony, 0x057e Nintendo); 0 when unknown.
    virtual int vendor() const { return 0; }
};

// Opens the device (again, after it vanished). On failure returns null and sets `error`.
using InputDeviceOpener = std::function<std::unique_ptr<InputDevice>(QString* error)>;
// Opens the event node at a path; the program's own opens it with libevdev.
using InputNodeOpener =
    std::function<std::unique_ptr<InputDevice>(const QString& path, QString* error)>;

// An accelerometer that the kernel exposes as an input device, marked by udev
// (ID_INPUT_ACCELEROMETER) or by the kernel (INPUT_PROP_ACCELEROMETER): game controllers' motion
// sensors, handhelds, older laptops' free-fall sensors.
//
// Events are read as they arrive through a socket notifier; a report becomes the newest reading
// at its SYN_REPORT, and read() returns that reading once per update interval.
//
// Input accelerometers report the force that holds them up (+1 g on Z lying face up), each
// maker in its own frame: the driver turns Sony's and Nintendo's controller frames and everyone
// else's into ours (X right, Y to the top, Z out of the face, gravity -1 g) before `axes`.
class InputDriver final : public AccelerometerDriver {
    Q_OBJECT
public:
    // Every event device that udev marks as an accelerometer, in device-number order; one
    // that cannot be used is listed with the reason.
    static std::vector<SourceInfo> discover();
    // `input[:PATH]`: PATH is an event node, "/dev/input/event5" or "event5".
    static SourceKind sourceKind();
    // The frame of a device of this name and vendor, as an axis map into ours.
    static AxisMap deviceFrame(const QString& name, int vendor);
    // Units per g for a device that states no resolution, from a table of known drivers.
    static std::optional<double> knownUnitsPerG(const QString& name);
    // Opens the event node at `path`; `requireProperty`: refuse a device the kernel does not
    // mark as an accelerometer.
    static InputDeviceOpener openerFor(const QString& path, bool requireProperty = false);
    // Replaces how event nodes are opened (tests stand in for the kernel); null restores libevdev.
    static void setNodeOpener(InputNodeOpener opener);

    InputDriver(const QString& path, InputDeviceOpener opener, const AxisMap& axes = AxisMap(),
                QObject* parent = nullptr);
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
    AxisMap frame_;
    std::unique_ptr<InputDevice> device_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::array<double, 3> unitsPerG_{};
    std::array<int, 3> pending_{};
    bool dropping_ = false;
    int resyncs_ = 0;
    QByteArray partial_;
    std::optional<Acceleration> latest_;
    Reconnector reconnector_;
};

} // namespace platform
