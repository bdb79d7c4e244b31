#pragma once

#include <QMap>
#include <QObject>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

class QSocketNotifier;
struct udev;
struct udev_monitor;

namespace sensors {

// One device as udev describes it: its sysfs folder, device node and the properties udev's
// rules and hwdb gave it (ACCEL_MOUNT_MATRIX, ACCEL_LOCATION, ID_INPUT_ACCELEROMETER, ...).
struct UdevDevice {
    QString sysname; // "iio:device0", "event5"
    QString syspath; // "/sys/devices/.../iio:device0"
    QString devnode; // "/dev/iio:device0", or empty
    QMap<QString, QString> properties;
    // The `name` attribute of the device, else of its parent (input devices keep it there).
    QString name;
    QString vendorId; // the input device's id/vendor, e.g. "054c"; empty if unknown
};

namespace udevdevices {

// The devices of `subsystem` ("iio", "input") that udev knows, in the kernel's numbering order.
// Reads sysfs: call it off the main thread.
std::vector<UdevDevice> enumerate(const char* subsystem);

// The device whose sysfs folder is `syspath`, if udev knows it.
std::optional<UdevDevice> fromSyspath(const QString& syspath);

// The device whose node is `devnode` (e.g. "/dev/input/event5"), if udev knows it.
std::optional<UdevDevice> fromNode(const QString& devnode);

} // namespace udevdevices

// Tells when a device of the watched subsystems is added or removed, from udev's own event
// stream (which umockdev feeds in tests).
class UdevMonitor : public QObject {
    Q_OBJECT
public:
    explicit UdevMonitor(QObject* parent = nullptr);
    ~UdevMonitor() override;
    // False when udev's event stream is not available (no netlink socket): then nothing is heard.
    bool isListening() const { return monitor_ != nullptr; }

signals:
    void deviceChanged(const QString& action, const QString& subsystem, const QString& sysname);

private:
    void receive();

    udev* udev_ = nullptr;
    udev_monitor* monitor_ = nullptr;
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace sensors
