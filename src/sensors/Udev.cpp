#include "sensors/Udev.h"

#include "sensors/SensorFiles.h"

#include <QFile>
#include <QSocketNotifier>
#include <algorithm>
#include <libudev.h>
#include <sys/stat.h>

namespace sensors {

namespace {

struct UdevDeleter {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
};
template <class T> using UdevPtr = std::unique_ptr<T, UdevDeleter>;

QString text(const char* value) {
    return value ? QString::fromUtf8(value) : QString();
}

UdevDevice describe(udev_device* device) {
    UdevDevice d;
    d.sysname = text(udev_device_get_sysname(device));
    d.syspath = text(udev_device_get_syspath(device));
    d.devnode = text(udev_device_get_devnode(device));
    for (udev_list_entry* entry = udev_device_get_properties_list_entry(device); entry;
         entry = udev_list_entry_get_next(entry))
        d.properties.insert(text(udev_list_entry_get_name(entry)),
                            text(udev_list_entry_get_value(entry)));
    // An event node's name and ids belong to the input device above it.
    udev_device* owner = device;
    if (!udev_device_get_sysattr_value(device, "name"))
        if (udev_device* parent = udev_device_get_parent(device))
            owner = parent;
    d.name = text(udev_device_get_sysattr_value(owner, "name")).trimmed();
    d.vendorId = text(udev_device_get_sysattr_value(owner, "id/vendor")).trimmed();
    return d;
}

} // namespace

namespace udevdevices {

std::vector<UdevDevice> enumerate(const char* subsystem) {
    std::vector<UdevDevice> found;
    UdevPtr<udev> context(udev_new());
    if (!context)
        return found;
    UdevPtr<udev_enumerate> listing(udev_enumerate_new(context.get()));
    udev_enumerate_add_match_subsystem(listing.get(), subsystem);
    udev_enumerate_scan_devices(listing.get());
    for (udev_list_entry* entry = udev_enumerate_get_list_entry(listing.get()); entry;
         entry = udev_list_entry_get_next(entry)) {
        UdevPtr<udev_device> device(
            udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
        if (device)
            found.push_back(describe(device.get()));
    }
    std::sort(found.begin(), found.end(), [](const UdevDevice& a, const UdevDevice& b) {
        return byDeviceNumber(a.sysname, b.sysname);
    });
    return found;
}

std::optional<UdevDevice> fromSyspath(const QString& syspath) {
    UdevPtr<udev> context(udev_new());
    if (!context)
        return std::nullopt;
    UdevPtr<udev_device> device(
        udev_device_new_from_syspath(context.get(), QFile::encodeName(syspath).constData()));
    if (!device)
        return std::nullopt;
    return describe(device.get());
}

std::optional<UdevDevice> fromNode(const QString& devnode) {
    struct stat status {};
    if (::stat(QFile::encodeName(devnode).constData(), &status) != 0 || !S_ISCHR(status.st_mode))
        return std::nullopt;
    UdevPtr<udev> context(udev_new());
    if (!context)
        return std::nullopt;
    UdevPtr<udev_device> device(udev_device_new_from_devnum(context.get(), 'c', status.st_rdev));
    if (!device)
        return std::nullopt;
    return describe(device.get());
}

} // namespace udevdevices

UdevMonitor::UdevMonitor(QObject* parent) : QObject(parent), udev_(udev_new()) {
    if (!udev_)
        return;
    monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
    if (!monitor_)
        return;
    udev_monitor_filter_add_match_subsystem_devtype(monitor_, "iio", nullptr);
    udev_monitor_filter_add_match_subsystem_devtype(monitor_, "input", nullptr);
    if (udev_monitor_enable_receiving(monitor_) < 0) {
        udev_monitor_unref(monitor_);
        monitor_ = nullptr;
        return;
    }
    notifier_ =
        std::make_unique<QSocketNotifier>(udev_monitor_get_fd(monitor_), QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &UdevMonitor::receive);
}

UdevMonitor::~UdevMonitor() {
    notifier_.reset();
    if (monitor_)
        udev_monitor_unref(monitor_);
    if (udev_)
        udev_unref(udev_);
}

void UdevMonitor::receive() {
    // Only the event's own fields are used here: reading the device's files is for the worker.
    while (udev_device* device = udev_monitor_receive_device(monitor_)) {
        const QString action = text(udev_device_get_action(device));
        const QString subsystem = text(udev_device_get_subsystem(device));
        const QString sysname = text(udev_device_get_sysname(device));
        udev_device_unref(device);
        emit deviceChanged(action, subsystem, sysname);
    }
}

} // namespace sensors
