#include "sensors/InputDriver.h"

#include "sensors/Udev.h"

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
#include <mutex>
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
    int vendor() const override { return libevdev_get_id_vendor(device_); }
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

std::unique_ptr<InputDevice> openEvdev(const QString& path, bool requireProperty, QString* error) {
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
    if ((requireProperty && !libevdev_has_property(device, INPUT_PROP_ACCELEROMETER)) ||
        !libevdev_has_event_code(device, EV_ABS, ABS_X) ||
        !libevdev_has_event_code(device, EV_ABS, ABS_Y) ||
        !libevdev_has_event_code(device, EV_ABS, ABS_Z)) {
        *error = QStringLiteral("%1 (%2) is not an accelerometer").arg(path, opened->name());
        return nullptr;
    }
    return opened;
}

// Units per g of each axis. Some drivers leave the resolution at 0; a known driver's unit comes
// from a table, any other device is refused with the reason rather than shown in a guessed unit.
bool resolutions(const InputDevice& device, std::array<double, 3>* unitsPerG, QString* error) {
    for (int axis = 0; axis < 3; ++axis) {
        const std::optional<input_absinfo> info = device.axisInfo(kAxisCodes[axis]);
        if (!info) {
            *error = QStringLiteral("%1 has no %2 axis")
                         .arg(device.name())
                         .arg(QLatin1Char("XYZ"[axis]));
            return false;
        }
        if (info->resolution > 0) {
            (*unitsPerG)[static_cast<size_t>(axis)] = info->resolution;
            continue;
        }
        const std::optional<double> known = InputDriver::knownUnitsPerG(device.name());
        if (!known) {
            *error = QStringLiteral("%1 reports no resolution (units per g) for its %2 axis, so "
                                    "its readings cannot be shown in g")
                         .arg(device.name())
                         .arg(QLatin1Char("XYZ"[axis]));
            return false;
        }
        (*unitsPerG)[static_cast<size_t>(axis)] = *known;
    }
    return true;
}

std::mutex nodeOpenerMutex;
InputNodeOpener& nodeOpener() {
    static InputNodeOpener opener;
    return opener;
}

std::unique_ptr<InputDevice> openNode(const QString& path, bool requireProperty, QString* error) {
    InputNodeOpener custom;
    {
        std::lock_guard lock(nodeOpenerMutex);
        custom = nodeOpener();
    }
    if (custom)
        return custom(path, error);
    return openEvdev(path, requireProperty, error);
}

bool markedAccelerometer(const UdevDevice& device) {
    return device.properties.value(QStringLiteral("ID_INPUT_ACCELEROMETER")) == u"1" &&
           device.devnode.startsWith(QLatin1String("/dev/input/event"));
}

} // namespace

std::vector<SourceInfo> InputDriver::discover() {
    std::vector<SourceInfo> found;
    for (const UdevDevice& device : udevdevices::enumerate("input")) {
        if (!markedAccelerometer(device))
            continue;
        SourceInfo info;
        info.kind = QStringLiteral("input");
        info.name = device.name;
        info.path = device.devnode;
        info.rates = QStringLiteral("as the device sends");
        QString error;
        std::array<double, 3> unitsPerG{};
        if (::access(QFile::encodeName(device.devnode).constData(), R_OK) != 0) {
            const int status = errno;
            info.problem =
                status == EACCES || status == EPERM
                    ? QStringLiteral("unreadable: permission denied")
                    : QStringLiteral("unreadable: %1").arg(sensorfiles::errorText(status));
        } else if (const auto opened = openNode(device.devnode, false, &error); !opened) {
            info.problem = error;
        } else if (!resolutions(*opened, &unitsPerG, &error)) {
            info.problem = error;
        }
        found.push_back(info);
    }
    return found;
}

SourceKind InputDriver::sourceKind() {
    SourceKind kind;
    kind.kind = QStringLiteral("input");
    kind.usage = QStringLiteral("input[:PATH]");
    kind.takesAxes = true;
    kind.discover = &InputDriver::discover;
    kind.create = [](const QString& argument, const SourceRequest&, const AxisMap& axes,
                     QString* error) -> std::unique_ptr<AccelerometerDriver> {
        QString path = argument;
        if (path.isEmpty()) {
            const std::optional<std::vector<SourceInfo>> found =
                sensorfiles::withDeadline<std::vector<SourceInfo>>(&InputDriver::discover);
            const auto usable =
                found ? std::find_if(found->begin(), found->end(),
                                     [](const SourceInfo& info) { return info.problem.isEmpty(); })
                      : std::vector<SourceInfo>::const_iterator();
            if (!found || usable == found->end()) {
                *error = QStringLiteral("no readable input accelerometer in /dev/input");
                return nullptr;
            }
            path = usable->path;
        } else if (!path.contains(QLatin1Char('/'))) {
            path = QStringLiteral("/dev/input/") + path; // "event5"
        }
        // A node named by the user must be an accelerometer to udev or to the kernel.
        const std::optional<UdevDevice> described =
            sensorfiles::withDeadline<std::optional<UdevDevice>>([path] {
                return udevdevices::fromNode(path);
            }).value_or(std::nullopt);
        const bool marked = described && markedAccelerometer(*described);
        auto driver = std::make_unique<InputDriver>(path, openerFor(path, !marked), axes);
        if (!driver->start(error))
            return nullptr;
        return driver;
    };
    return kind;
}

AxisMap InputDriver::deviceFrame(const QString& name, int vendor) {
    QString unused;
    // Sony's motion sensors: X right, Y out of the face, Z toward the player. Nintendo's IMU:
    // X toward the top, Y left, Z out of the face. Both read the force that holds them up.
    const bool sony =
        vendor == 0x054c || name.contains(QLatin1String("Wireless Controller Motion"));
    const bool nintendo = vendor == 0x057e || (name.startsWith(QLatin1String("Nintendo")) &&
                                               name.contains(QLatin1String("IMU")));
    if (sony)
        return *AxisMap::parse(QStringLiteral("-x,z,-y"), &unused);
    if (nintendo)
        return *AxisMap::parse(QStringLiteral("y,-x,-z"), &unused);
    return *AxisMap::parse(QStringLiteral("-x,-y,-z"), &unused);
}

std::optional<double> InputDriver::knownUnitsPerG(const QString& name) {
    // The lis3lv02d driver (HP laptops' free-fall sensor) reports milli-g without saying so.
    static const std::pair<const char*, double> kKnown[] = {
        {"ST LIS3LV02DL Accelerometer", 1000.0},
    };
    for (const auto& [known, units] : kKnown)
        if (name == QLatin1String(known))
            return units;
    return std::nullopt;
}

InputDeviceOpener InputDriver::openerFor(const QString& path, bool requireProperty) {
    return
        [path, requireProperty](QString* error) { return openNode(path, requireProperty, error); };
}

void InputDriver::setNodeOpener(InputNodeOpener opener) {
    std::lock_guard lock(nodeOpenerMutex);
    nodeOpener() = std::move(opener);
}

InputDriver::InputDriver(const QString& path, InputDeviceOpener opener, const AxisMap& axes,
                         QObject* parent)
    : AccelerometerDriver(parent), path_(path), opener_(std::move(opener)), axes_(axes) {
    connect(&reconnector_, &Reconnector::tryAgain, this, &InputDriver::lookAgain);
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
    frame_ = deviceFrame(name_, device->vendor());
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
    latest_ = axes_.apply(
        frame_.apply(Acceleration{pending_[0] / unitsPerG_[0], pending_[1] / unitsPerG_[1],
                                  pending_[2] / unitsPerG_[2], 0.0}));
}

void InputDriver::lose(const QString& why) {
    detach();
    emit statusMessage(QStringLiteral("Sensor %1 is gone (%2); waiting for it to come back")
                           .arg(description(), why),
                       MessageKind::Lost);
    reconnector_.start();
}

void InputDriver::lookAgain() {
    QString error;
    std::unique_ptr<InputDevice> device = opener_(&error);
    if (!device) {
        // Plugged in again, a controller may get another event number; its name stays.
        const QString name = name_;
        const std::vector<SourceInfo> found =
            sensorfiles::withDeadline<std::vector<SourceInfo>>(&InputDriver::discover)
                .value_or(std::vector<SourceInfo>());
        for (const SourceInfo& info : found) {
            if (info.name != name || info.path == path_ || !info.problem.isEmpty())
                continue;
            if ((device = openNode(info.path, false, &error))) {
                path_ = info.path;
                opener_ = openerFor(path_);
                break;
            }
        }
    }
    if (!device || !attach(std::move(device), &error))
        return;
    reconnector_.stop();
    emit statusMessage(QStringLiteral("Sensor %1 is back").arg(description()), MessageKind::Back);
}

} // namespace platform
