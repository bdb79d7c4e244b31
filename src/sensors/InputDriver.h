#pragma once

#include "sensors/AccelerometerDriver.h"
#include "sensors/AxisMap.h"
#include "sensors/Sources.h"

#include <QTimer>
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
};

// Opens the device (again, after it vanished). On failure returns null and sets `error`.
using InputDeviceOpener = std::function<std::unique_ptr<InputDevice>(QString* error)>;

// An accelerometer that the kernel exposes as an input device (INPUT_PROP_ACCELEROMETER): game
// controllers' motion sensors, handhelds, older laptops' free-fall sensors.
//
// Events are read as they arrive through a socket notifier; a report becomes the newest reading
// at its SYN_REPORT, and read() returns that reading once per update interval.
class InputDriver final : public AccelerometerDriver {
    Q_OBJECT
public:
    // `/dev/input`, or the folder named by WOBBLESTAR_INPUT_ROOT.
    static QString inputRoot();
    // Every event device there that is a usable accelerometer, in device-number order.
    static std::vector<SourceInfo> discover();
    // Input accelerometers report the force that holds them up, +1 g on Z face up.
    static AxisMap defaultAxes();
    // Opens an evdev node with libevdev and checks that it is an accelerometer.
    static InputDeviceOpener openerFor(const QString& path);

    InputDriver(const QString& path, InputDeviceOpener opener, const AxisMap& axes,
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
    std::unique_ptr<InputDevice> device_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::array<double, 3> unitsPerG_{};
    std::array<int, 3> pending_{};
    bool dropping_ = false;
    int resyncs_ = 0;
    QByteArray partial_;
    std::optional<Acceleration> latest_;
    QTimer lookAgainTimer_;
};

} // namespace platform
