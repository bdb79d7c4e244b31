#include "sensors/InputDriver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QtDebug>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr unsigned kAxisCodes[3] = {ABS_X, ABS_Y, ABS_Z};

int axisIndex(unsigned code) {
    for (int axis = 0; axis < 3; ++axis)
        if (kAxisCodes[axis] == code)
            return axis;
    return -1;
}

class EvdevDevice final : public InputDevice {
public:
    EvdevDevice(int fd, libevdev* device) : fd_(fd), device_(device) {}
    ~EvdevDevice() override {
        libevdev_free(device_);
        ::close(fd_);
    }
    int fd() const override { return fd_; }
    QString name() const override { return QString::fromUtf8(libevdev_get_name(device_)); }
    std::optional<input_absinfo> axisInfo(unsigned code) const override {
        const input_absinfo* info = libevdev_get_abs_info(device_, code);
        if (!info)
            return std::nullopt;
        return *info;
    }
    std::optional<int> currentValue(unsigned code) override {
        input_absinfo info{};
        if (::ioctl(fd_, EVIOCGABS(code), &info) < 0)
            return std::nullopt;
        return info.value;
    }

private:
    int fd_;
    libevdev* device_;
};

std::unique_ptr<InputDevice> openEvdev(const QString& path, QString* error) {
    const QByteArray file = QFile::encodeName(path);
    const int fd = ::open(file.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int status = errno;
        *error = status == EACCES || status == EPERM
                     ? accessDeniedMessage(path)
                     : QStringLiteral("Cannot open %1: %2")
                           .arg(path, QString::fromLocal8Bit(std::strerror(status)));
        return nullptr;
    }
    libevdev* device = nullptr;
    if (const int status = libevdev_new_from_fd(fd, &device); status < 0) {
        ::close(fd);
        *error = QStringLiteral("%1 is not an input device: %2")
                     .arg(path, QString::fromLocal8Bit(std::strerror(-status)));
        return nullptr;
    }
    auto opened = std::make_unique<EvdevDevice>(fd, device);
    if (!libevdev_has_property(device, INPUT_PROP_ACCELEROMETER) ||
        !libevdev_has_event_code(device, EV_ABS, ABS_X) ||
        !libevdev_has_event_code(device, EV_ABS, ABS_Y) ||
        !libevdev_has_event_code(device, EV_ABS, ABS_Z)) {
        *error = QStringLiteral("%1 (%2) is not an accelerometer").arg(path, opened->name());
        return nullptr;
    }
    return opened;
}

// Units per g of each axis. Some drivers leave the resolution at 0; their counts could be mg,
// or anything else, so rather than show a guess the device is refused with the reason.
bool resolutions(const InputDevice& device, std::array<double, 3>* unitsPerG, QString* error) {
    for (int axis = 0; axis < 3; ++axis) {
        const std::optional<input_absinfo> info = device.axisInfo(kAxisCodes[axis]);
        if (!info) {
            *error = QStringLiteral("%1 has no %2 axis")
                         .arg(device.name())
                         .arg(QLatin1Char("XYZ"[axis]));
            return false;
        }
        if (info->resolution <= 0) {
            *error = QStringLiteral("%1 reports no resolution (units per g) for its %2 axis, so "
                                    "its readings cannot be shown in g")
                         .arg(device.name())
                         .arg(QLatin1Char("XYZ"[axis]));
            return false;
        }
        (*unitsPerG)[static_cast<size_t>(axis)] = info->resolution;
    }
    return true;
}

// The name of event device `node` when the kernel's description of it, which anyone may read,
// marks it an accelerometer (INPUT_PROP_ACCELEROMETER in its property bits).
std::optional<QString> unreadableAccelerometer(const QString& node) {
    const QString device = qEnvironmentVariable("WOBBLESTAR_SYSFS_ROOT", QStringLiteral("/sys")) +
                           QStringLiteral("/class/input/") + node + QStringLiteral("/device/");
    QFile properties(device + QStringLiteral("properties"));
    QFile name(device + QStringLiteral("name"));
    if (!properties.open(QIODevice::ReadOnly) || !name.open(QIODevice::ReadOnly))
        return std::nullopt;
    // Bitmap words in hex, the lowest bits last.
    bool ok = false;
    const quint64 bits =
        properties.readAll().simplified().split(' ').constLast().toULongLong(&ok, 16);
    if (!ok || !(bits & (quint64(1) << INPUT_PROP_ACCELEROMETER)))
        return std::nullopt;
    return QString::fromUtf8(name.readAll().trimmed());
}

} // namespace

QString InputDriver::inputRoot() {
    return qEnvironmentVariable("WOBBLESTAR_INPUT_ROOT", QStringLiteral("/dev/input"));
}

std::vector<SourceInfo> InputDriver::discover() {
    QDir root(inputRoot());
    QStringList entries = root.entryList({QStringLiteral("event*")}, QDir::System | QDir::Files);
    std::sort(entries.begin(), entries.end(), byDeviceNumber);
    std::vector<SourceInfo> found;
    for (const QString& entry : entries) {
        QString error;
        std::array<double, 3> unitsPerG{};
        const QString path = root.filePath(entry);
        const std::unique_ptr<InputDevice> device = openEvdev(path, &error);
        if (device && resolutions(*device, &unitsPerG, &error))
            found.push_back(SourceInfo{QStringLiteral("input"), device->name(), path,
                                       QStringLiteral("as the device sends")});
        else if (!device && QFile::exists(path) && !QFileInfo(path).isReadable())
            // Listed so that the user learns why it is not used; sysfs tells what it is.
            if (const std::optional<QString> name = unreadableAccelerometer(entry))
                found.push_back(SourceInfo{QStringLiteral("input"), *name, path,
                                           QStringLiteral("unreadable: permission denied")});
    }
    return found;
}

AxisMap InputDriver::defaultAxes() {
    QString unused;
    return *AxisMap::parse(QStringLiteral("-x,-y,-z"), &unused);
}

InputDeviceOpener InputDriver::openerFor(const QString& path) {
    return [path](QString* error) { return openEvdev(path, error); };
}

InputDriver::InputDriver(const QString& path, InputDeviceOpener opener, const AxisMap& axes,
                         QObject* parent)
    : AccelerometerDriver(parent), path_(path), opener_(std::move(opener)), axes_(axes) {
    lookAgainTimer_.setInterval(1000);
    connect(&lookAgainTimer_, &QTimer::timeout, this, &InputDriver::lookAgain);
}

InputDriver::~InputDriver() = default;

QString InputDriver::description() const {
    return QStringLiteral("input: %1 (%2)").arg(name_, path_);
}

bool InputDriver::start(QString* error) {
    std::unique_ptr<InputDevice> device = opener_(error);
    return device && attach(std::move(device), error);
}

bool InputDriver::attach(std::unique_ptr<InputDevice> device, QString* error) {
    if (!resolutions(*device, &unitsPerG_, error))
        return false;
    name_ = device->name();
    // The kernel sends only changes, so a device at rest may stay silent: start from its state.
    for (int axis = 0; axis < 3; ++axis)
        pending_[axis] = device->axisInfo(kAxisCodes[axis])->value;
    device_ = std::move(device);
    dropping_ = false;
    partial_.clear();
    commit();
    notifier_ = std::make_unique<QSocketNotifier>(device_->fd(), QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &InputDriver::onReadable);
    return true;
}

void InputDriver::detach() {
    // Called from the notifier's own signal: it must outlive this call.
    if (notifier_) {
        notifier_->setEnabled(false);
        notifier_.release()->deleteLater();
    }
    device_.reset();
    latest_.reset();
}

std::optional<Acceleration> InputDriver::read(double now) {
    if (!latest_)
        return std::nullopt;
    Acceleration reading = *latest_;
    reading.timestamp = now;
    return reading;
}

void InputDriver::onReadable() {
    input_event events[64];
    for (;;) {
        const ssize_t count = ::read(device_->fd(), events, sizeof events);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN)
                lose(QString::fromLocal8Bit(std::strerror(errno)));
            return;
        }
        if (count == 0) {
            lose(QStringLiteral("end of events"));
            return;
        }
        // evdev hands out whole events; a pipe in a test may split one.
        partial_.append(reinterpret_cast<const char*>(events), count);
        const qsizetype whole = partial_.size() / qsizetype(sizeof(input_event));
        for (qsizetype i = 0; i < whole; ++i) {
            input_event event;
            std::memcpy(&event, partial_.constData() + i * qsizetype(sizeof event), sizeof event);
            handle(event);
        }
        partial_.remove(0, whole * qsizetype(sizeof(input_event)));
    }
}

void InputDriver::handle(const input_event& event) {
    if (event.type == EV_ABS) {
        const int axis = axisIndex(event.code);
        if (axis >= 0 && !dropping_)
            pending_[axis] = event.value;
        return;
    }
    if (event.type != EV_SYN)
        return;
    if (event.code == SYN_DROPPED) {
        // The kernel's buffer overflowed: events up to the next SYN_REPORT are incomplete.
        dropping_ = true;
        return;
    }
    if (event.code != SYN_REPORT)
        return;
    if (dropping_) {
        dropping_ = false;
        ++resyncs_;
        for (int axis = 0; axis < 3; ++axis)
            if (const std::optional<int> value = device_->currentValue(kAxisCodes[axis]))
                pending_[axis] = *value;
    }
    commit();
}

void InputDriver::commit() {
    latest_ = axes_.apply(Acceleration{pending_[0] / unitsPerG_[0], pending_[1] / unitsPerG_[1],
                                       pending_[2] / unitsPerG_[2], 0.0});
}

void InputDriver::lose(const QString& why) {
    detach();
    emit statusMessage(QStringLiteral("Sensor %1 is gone (%2); looking for it again every second")
                           .arg(description(), why));
    lookAgainTimer_.start();
}

void InputDriver::lookAgain() {
    QString error;
    std::unique_ptr<InputDevice> device = opener_(&error);
    if (!device || !attach(std::move(device), &error))
        return;
    lookAgainTimer_.stop();
    emit statusMessage(QStringLiteral("Sensor %1 is back").arg(description()));
}

} // namespace platform
