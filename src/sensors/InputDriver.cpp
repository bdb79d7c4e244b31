#include "sensors/InputDriver.h"

#include "sensors/Udev.h"

#include <QFile>
#include <QMetaObject>
#include <QSocketNotifier>
#include <QtDebug>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <unistd.h>

namespace sensors {

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
    int nextEvent(unsigned flags, input_event* event) override {
        return libevdev_next_event(device_, flags, event);
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
        *error =
            status == EACCES || status == EPERM
                ? accessDeniedMessage(path)
                : QStringLiteral("Cannot open %1: %2").arg(path, sensorfiles::errorText(status));
        return nullptr;
    }
    libevdev* device = nullptr;
    if (const int status = libevdev_new_from_fd(fd, &device); status < 0) {
        ::close(fd);
        *error = QStringLiteral("%1 is not an input device: %2")
                     .arg(path, sensorfiles::errorText(-status));
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

// Units per g of each axis. Some drivers leave the resolution at 0: a known driver's unit comes
// from a table; any other device is read in its own units and scaled at rest.
bool resolutions(const InputDevice& device, std::array<double, 3>* unitsPerG, bool* scaleKnown,
                 QString* error) {
    *scaleKnown = true;
    for (size_t axis = 0; axis < 3; ++axis) {
        const std::optional<input_absinfo> info = device.axisInfo(kAxisCodes[axis]);
        if (!info) {
            *error = QStringLiteral("%1 has no %2 axis")
                         .arg(device.name())
                         .arg(QLatin1Char("XYZ"[axis]));
            return false;
        }
        if (info->resolution > 0) {
            (*unitsPerG)[axis] = info->resolution;
        } else if (const std::optional<double> known = InputDriver::knownUnitsPerG(device.name())) {
            (*unitsPerG)[axis] = *known;
        } else {
            (*unitsPerG)[axis] = 1.0;
            *scaleKnown = false;
        }
    }
    return true;
}

bool markedAccelerometer(const UdevDevice& device) {
    return device.properties.value(QStringLiteral("ID_INPUT_ACCELEROMETER")) == u"1" &&
           device.devnode.startsWith(QLatin1String("/dev/input/event"));
}

// Input devices have no kernel matrix: udev's hwdb, else none.
MountMatrix mountOf(const std::optional<UdevDevice>& device) {
    const QString hwdb =
        device ? device->properties.value(QStringLiteral("ACCEL_MOUNT_MATRIX")) : QString();
    if (hwdb.isEmpty())
        return MountMatrix();
    return MountMatrix::choose({{QStringLiteral("udev hwdb"), hwdb.toUtf8(),
                                 QStringLiteral("udev's ACCEL_MOUNT_MATRIX"), QString()}});
}

// The rows of an axis map, to be used as a matrix.
Matrix3 matrixOf(const AxisMap& map) {
    Matrix3 rows{};
    for (size_t column = 0; column < 3; ++column) {
        double unit[3] = {0, 0, 0};
        unit[column] = 1.0;
        const Acceleration image = map.apply(Acceleration{unit[0], unit[1], unit[2], 0.0});
        rows[0][column] = image.x;
        rows[1][column] = image.y;
        rows[2][column] = image.z;
    }
    return rows;
}

QString scaleUnknownNotice(const QString& description) {
    return QStringLiteral(
               "Sensor %1: scale unknown: calibrated at rest; keep it still for a second")
        .arg(description);
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
        bool scaleKnown = true;
        std::unique_ptr<InputDevice> opened;
        if (::access(QFile::encodeName(device.devnode).constData(), R_OK) != 0) {
            const int status = errno;
            info.problem =
                status == EACCES || status == EPERM
                    ? QStringLiteral("unreadable: permission denied")
                    : QStringLiteral("unreadable: %1").arg(sensorfiles::errorText(status));
        } else if (opened = openEvdev(device.devnode, false, &error); !opened) {
            info.problem = error;
        } else if (!resolutions(*opened, &unitsPerG, &scaleKnown, &error)) {
            info.problem = error;
        } else if (!controllerFrame(opened->name(), opened->vendor())) {
            const MountMatrix mount = mountOf(device);
            info.matrix = MountMatrix::text(mount.rows);
            info.matrixOrigin = mount.origin;
            for (const MountMatrix::Rejected& rejected : mount.rejected)
                info.matrixRejected
                    << QStringLiteral("%1's rejected: %2").arg(rejected.origin, rejected.why);
        }
        if (opened && info.problem.isEmpty() && !scaleKnown)
            info.note = QStringLiteral("scale unknown: calibrated at rest");
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
                for (const UdevDevice& device : udevdevices::enumerate("input"))
                    if (device.devnode == path)
                        return std::optional(device);
                return udevdevices::fromNode(path);
            }).value_or(std::nullopt);
        const bool marked = described && markedAccelerometer(*described);
        auto driver =
            std::make_unique<InputDriver>(path, openerFor(path, !marked), axes, mountOf(described));
        if (!driver->start(error))
            return nullptr;
        return driver;
    };
    return kind;
}

std::optional<AxisMap> InputDriver::controllerFrame(const QString& name, int vendor) {
    QString unused;
    // Sony's motion sensors: X right, Y out of the face, Z toward the player. Nintendo's IMU:
    // X toward the top, Y left, Z out of the face. Both read the force that holds them up.
    const bool sony =
        vendor == 0x054c || name.contains(QLatin1String("Wireless Controller Motion"));
    const bool nintendo = vendor == 0x057e || (name.startsWith(QLatin1String("Nintendo")) &&
                                               name.contains(QLatin1String("IMU")));
    if (sony)
        return AxisMap::parse(QStringLiteral("-x,z,-y"), &unused);
    if (nintendo)
        return AxisMap::parse(QStringLiteral("y,-x,-z"), &unused);
    return std::nullopt;
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
        [path, requireProperty](QString* error) { return openEvdev(path, requireProperty, error); };
}

InputDriver::InputDriver(const QString& path, InputDeviceOpener opener, const AxisMap& axes,
                         const MountMatrix& mount, QObject* parent)
    : AccelerometerDriver(parent), path_(path), opener_(std::move(opener)), axes_(axes),
      mount_(mount) {
    connect(&reconnector_, &Reconnector::tryAgain, this, &InputDriver::lookAgain);
}

InputDriver::~InputDriver() = default;

QString InputDriver::description() const {
    return QStringLiteral("input: %1 (%2)").arg(name_, path_);
}

bool InputDriver::start(QString* error) {
    std::unique_ptr<InputDevice> device = opener_(error);
    if (!device || !attach(std::move(device), error))
        return false;
    for (const MountMatrix::Rejected& rejected : mount_.rejected)
        qWarning("Sensor %s: ignoring the %s mount matrix in %s: %s; using the %s matrix",
                 qPrintable(description()), qPrintable(rejected.origin),
                 qPrintable(rejected.location), qPrintable(rejected.why),
                 qPrintable(mount_.origin));
    if (!scaleKnown_) {
        // Said once the service holds the driver and passes its messages on.
        const QString notice = scaleUnknownNotice(description());
        QMetaObject::invokeMethod(
            this, [this, notice] { emit statusMessage(notice, MessageKind::Notice); },
            Qt::QueuedConnection);
    }
    return true;
}

bool InputDriver::attach(std::unique_ptr<InputDevice> device, QString* error) {
    if (!resolutions(*device, &unitsPerG_, &scaleKnown_, error))
        return false;
    name_ = device->name();
    const std::optional<AxisMap> controller = controllerFrame(name_, device->vendor());
    frame_ = controller ? matrixOf(*controller) : mount_.frame(false);
    // The kernel sends only changes, so a device at rest may stay silent: start from its state.
    for (size_t axis = 0; axis < 3; ++axis)
        pending_[axis] = device->axisInfo(kAxisCodes[axis])->value;
    device_ = std::move(device);
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
    if (scaleKnown_)
        return reading;
    bool moved = false;
    const std::optional<std::array<double, 3>> inG =
        restScale_.inG({reading.x, reading.y, reading.z}, now, &moved);
    if (moved)
        emit statusMessage(RestScale::movedMessage(description()), MessageKind::Notice);
    if (!inG)
        return std::nullopt;
    return Acceleration{(*inG)[0], (*inG)[1], (*inG)[2], now};
}

// After SYN_DROPPED libevdev hands the events that bring the state up to date, ending with a
// SYN_REPORT, before the stream goes on.
void InputDriver::onReadable() {
    unsigned flags = LIBEVDEV_READ_FLAG_NORMAL;
    for (;;) {
        input_event event{};
        const int status = device_->nextEvent(flags, &event);
        if (status == -EAGAIN && flags == LIBEVDEV_READ_FLAG_SYNC) {
            flags = LIBEVDEV_READ_FLAG_NORMAL;
            continue;
        }
        if (status == -EAGAIN || status == -EINTR)
            return;
        if (status < 0) {
            lose(sensorfiles::errorText(-status));
            return;
        }
        if (status == LIBEVDEV_READ_STATUS_SYNC && flags == LIBEVDEV_READ_FLAG_NORMAL) {
            ++resyncs_;
            flags = LIBEVDEV_READ_FLAG_SYNC;
            continue;
        }
        handle(event);
    }
}

void InputDriver::handle(const input_event& event) {
    if (event.type == EV_ABS) {
        if (const int axis = axisIndex(event.code); axis >= 0)
            pending_[static_cast<size_t>(axis)] = event.value;
    } else if (event.type == EV_SYN && event.code == SYN_REPORT) {
        commit();
    }
}

void InputDriver::commit() {
    double raw[3];
    for (size_t axis = 0; axis < 3; ++axis)
        raw[axis] = pending_[axis] / unitsPerG_[axis];
    double device[3];
    for (size_t row = 0; row < 3; ++row)
        device[row] = frame_[row][0] * raw[0] + frame_[row][1] * raw[1] + frame_[row][2] * raw[2];
    latest_ = axes_.apply(Acceleration{device[0], device[1], device[2], 0.0});
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
            if ((device = openerFor(info.path)(&error))) {
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

} // namespace sensors
