#include "sensors/IioDriver.h"

#include "sensors/Udev.h"

#include <QFileInfo>
#include <QMetaObject>
#include <QtDebug>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <libudev.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace platform {

namespace sf = sensorfiles;

namespace {

// Without a fresh reading for this long the reader thread is taken to be stuck in the kernel.
constexpr double kStallSeconds = 1.0;

// Scans the kernel keeps for us between two readings: over half a second at 120 Hz.
constexpr int kBufferScans = 64;

const char* const kAxisNames[3] = {"x", "y", "z"};

using Matrix = std::array<std::array<double, 3>, 3>;
constexpr Matrix kIdentity{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};

QByteArray pathIn(const QString& folder, const QByteArray& file) {
    return QFile::encodeName(folder) + '/' + file;
}

// The first of `files` in `folder` that exists: 0 and its text, ENOENT when none does, or the
// error that stopped the read.
int readFirst(const QString& folder, std::initializer_list<QByteArray> files, QByteArray* text,
              QByteArray* path) {
    for (const QByteArray& file : files) {
        *path = pathIn(folder, file);
        const int error = sf::read(*path, text);
        if (error != ENOENT)
            return error;
    }
    return ENOENT;
}

QString readText(const QString& folder, const char* file) {
    QByteArray text;
    if (sf::read(pathIn(folder, file), &text) != 0)
        return QString();
    return QString::fromUtf8(text.trimmed());
}

QString deviceName(const QString& folder) {
    const QString name = readText(folder, "name");
    return name.isEmpty() ? QFileInfo(folder).fileName() : name;
}

// "m00, m01, m02; m10, m11, m12; m20, m21, m22", rows first.
bool parseMatrix(const QByteArray& text, Matrix* matrix) {
    const QList<QByteArray> rows = text.trimmed().split(';');
    if (rows.size() != 3)
        return false;
    for (int r = 0; r < 3; ++r) {
        const QList<QByteArray> cells = rows[r].split(',');
        if (cells.size() != 3)
            return false;
        for (int c = 0; c < 3; ++c)
            if (!sf::parseNumber(cells[c], &(*matrix)[r][c]))
                return false;
    }
    return true;
}

QString matrixText(const Matrix& m) {
    QStringList rows;
    for (const auto& row : m)
        rows << QStringLiteral("%1, %2, %3").arg(row[0]).arg(row[1]).arg(row[2]);
    return rows.join(QStringLiteral("; "));
}

// The udev properties of a sysfs folder; none for a folder udev does not know.
QMap<QString, QString> udevProperties(const QString& folder) {
    QMap<QString, QString> properties;
    udev* context = udev_new();
    if (!context)
        return properties;
    if (udev_device* device =
            udev_device_new_from_syspath(context, QFile::encodeName(folder).constData())) {
        for (udev_list_entry* entry = udev_device_get_properties_list_entry(device); entry;
             entry = udev_list_entry_get_next(entry))
            properties.insert(QString::fromUtf8(udev_list_entry_get_name(entry)),
                              QString::fromUtf8(udev_list_entry_get_value(entry)));
        udev_device_unref(device);
    }
    udev_unref(context);
    return properties;
}

// The mount matrix in use and where it came from. The hwdb's entry comes first: it exists to
// correct machines whose firmware states a wrong matrix (iio-sensor-proxy reads it the same way).
struct Mounting {
    Matrix matrix = kIdentity;
    QString origin = QStringLiteral("identity");
    QString error; // a kernel matrix that does not parse
};

Mounting mounting(const QString& folder, const QMap<QString, QString>& properties) {
    Mounting m;
    const QString hwdb = properties.value(QStringLiteral("ACCEL_MOUNT_MATRIX"));
    if (!hwdb.isEmpty()) {
        if (parseMatrix(hwdb.toUtf8(), &m.matrix)) {
            m.origin = QStringLiteral("udev hwdb");
            return m;
        }
        qWarning("%s: ignoring udev's ACCEL_MOUNT_MATRIX '%s', which is not a 3×3 matrix",
                 qPrintable(folder), qPrintable(hwdb));
    }
    QByteArray text, path;
    const int status = readFirst(
        folder, {"mount_matrix", "in_accel_mount_matrix", "in_mount_matrix"}, &text, &path);
    if (status != 0 && status != ENOENT)
        m.error = sf::cannotRead(path, status);
    else if (status == 0 && !parseMatrix(text, &m.matrix))
        m.error = QStringLiteral("%1 holds '%2', which is not a 3×3 matrix written "
                                 "\"m00, m01, m02; m10, m11, m12; m20, m21, m22\"")
                      .arg(QFile::decodeName(path), QString::fromUtf8(text.trimmed()));
    else if (status == 0)
        m.origin = QStringLiteral("kernel");
    if (!m.error.isEmpty())
        m.matrix = kIdentity;
    return m;
}

// The map from the chip's axes to ours. The matrix's first two rows give X and Y as the desktop
// reads them. Its third row is often arbitrary in the hwdb (only screen rotation tests it), so Z
// follows from physics: the whole map is minus a rotation for a chip, which measures the force
// that holds it up, and a rotation for a HID sensor hub, which reports gravity itself.
Matrix deviceFrame(const Matrix& m, bool reportsGravity) {
    const double sign = reportsGravity ? 1.0 : -1.0;
    const auto& a = m[0];
    const auto& b = m[1];
    return Matrix{{a,
                   b,
                   {sign * (a[1] * b[2] - a[2] * b[1]), sign * (a[2] * b[0] - a[0] * b[2]),
                    sign * (a[0] * b[1] - a[1] * b[0])}}};
}

bool reportsGravity(const QString& name) {
    return name == QLatin1String("accel_3d");
}

// The screen's sensor or the keyboard base's, from udev (ACCEL_LOCATION), the kernel's label
// ("accel-display", "accel-base") or a ChromeOS EC's location ("lid", "base").
QString locationOf(const QString& folder, const QMap<QString, QString>& properties,
                   const QString& label) {
    const QString udevLocation = properties.value(QStringLiteral("ACCEL_LOCATION"));
    if (udevLocation == u"display" || udevLocation == u"base")
        return udevLocation;
    if (label == u"accel-display")
        return QStringLiteral("display");
    if (label == u"accel-base")
        return QStringLiteral("base");
    const QString location = readText(folder, "location");
    if (location == u"lid")
        return QStringLiteral("display");
    if (location == u"base")
        return QStringLiteral("base");
    return QString();
}

// The rates a chip offers: a list ("12.5 25 50") or, in the kernel's range form, "[min step max]".
struct Rates {
    std::vector<double> list;
    bool range = false;
    double min = 0, step = 0, max = 0;
    bool empty() const { return !range && list.empty(); }

    // The slowest rate at or above `wanted` (a part in a million of rounding is not slower), else
    // the fastest.
    double choose(double wanted) const {
        const double tolerant = wanted * (1.0 - 1e-6);
        if (range) {
            if (tolerant <= min)
                return min;
            if (tolerant >= max || !(step > 0))
                return max;
            return std::min(max, min + std::ceil((tolerant - min) / step) * step);
        }
        const auto atLeast =
            std::find_if(list.begin(), list.end(), [&](double rate) { return rate >= tolerant; });
        return atLeast != list.end() ? *atLeast : list.back();
    }
};

Rates availableRates(const QString& folder) {
    QByteArray text, path;
    Rates rates;
    if (readFirst(folder, {"sampling_frequency_available", "in_accel_sampling_frequency_available"},
                  &text, &path) != 0)
        return rates;
    const QByteArray words = text.simplified();
    if (words.startsWith('[') && words.endsWith(']')) {
        const QList<QByteArray> parts = words.mid(1, words.size() - 2).simplified().split(' ');
        if (parts.size() == 3 && sf::parseNumber(parts[0], &rates.min) &&
            sf::parseNumber(parts[1], &rates.step) && sf::parseNumber(parts[2], &rates.max) &&
            rates.min > 0 && rates.max >= rates.min)
            rates.range = true;
        return rates;
    }
    for (const QByteArray& word : words.split(' ')) {
        double rate = 0.0;
        if (sf::parseNumber(word, &rate) && rate > 0.0)
            rates.list.push_back(rate);
    }
    std::sort(rates.list.begin(), rates.list.end());
    return rates;
}

QByteArray frequencyPath(const QString& folder) {
    for (const char* file : {"sampling_frequency", "in_accel_sampling_frequency"}) {
        const QByteArray path = pathIn(folder, file);
        if (QFileInfo::exists(QFile::decodeName(path)))
            return path;
    }
    return {};
}

// IIO parses a rate as a decimal with at most six places and rejects some longer ones; a rate
// cut to micro-hertz is never faster than the one chosen from the chip's own list.
QByteArray rateText(double rate) {
    const double micro = std::floor(rate * 1e6 + 1e-3);
    QByteArray text = QByteArray::number(micro / 1e6, 'f', 6);
    while (text.endsWith('0'))
        text.chop(1);
    if (text.endsWith('.'))
        text.chop(1);
    return text;
}

QString describeRates(const QString& folder) {
    const Rates rates = availableRates(folder);
    auto number = [](double rate) { return QString::number(rate, 'g', 6); };
    if (rates.range)
        return QStringLiteral("%1 to %2 Hz in steps of %3")
            .arg(number(rates.min), number(rates.max), number(rates.step));
    QStringList words;
    for (double rate : rates.list)
        words << number(rate);
    if (!words.isEmpty())
        return words.join(QLatin1Char(' ')) + QStringLiteral(" Hz");
    QByteArray text;
    double rate = 0.0;
    const QByteArray path = frequencyPath(folder);
    if (!path.isEmpty() && sf::read(path, &text) == 0 && sf::parseNumber(text, &rate))
        return QStringLiteral("%1 Hz").arg(number(rate));
    return QStringLiteral("any (polled)");
}

bool hasScanAxes(const QString& folder) {
    for (const char* axis : kAxisNames)
        if (!QFileInfo::exists(folder + QStringLiteral("/scan_elements/in_accel_%1_en").arg(axis)))
            return false;
    return true;
}

bool hasRawAxes(const QString& folder) {
    for (const char* axis : kAxisNames)
        if (!QFileInfo::exists(folder + QStringLiteral("/in_accel_%1_raw").arg(axis)))
            return false;
    return true;
}

int readNumber(const QString& folder, std::initializer_list<QByteArray> files, double* value,
               QString* error) {
    QByteArray text, path;
    const int status = readFirst(folder, files, &text, &path);
    if (status == ENOENT)
        return status;
    if (status != 0) {
        *error = sf::cannotRead(path, status);
        return status;
    }
    if (!sf::parseNumber(text, value)) {
        *error = QStringLiteral("%1 holds '%2', which is not a number")
                     .arg(QFile::decodeName(path), QString::fromUtf8(text.trimmed()));
        return EINVAL;
    }
    return 0;
}

// The layout of one scan: enabled channels in index order, each aligned to its own size, the
// whole scan to its largest channel (the kernel's iio_compute_scan_bytes).
bool scanLayout(const QString& folder, IioDriver::Calibration* calibration, QString* error) {
    struct Found {
        IioDriver::ScanChannel channel;
        int axis; // 0..2, or 3 for the timestamp
    };
    std::vector<Found> channels;
    for (int axis = 0; axis < 4; ++axis) {
        const QByteArray name =
            axis < 3 ? QByteArray("in_accel_") + kAxisNames[axis] : QByteArray("in_timestamp");
        QByteArray type, index;
        const QByteArray base = pathIn(folder, "scan_elements/" + name);
        if (sf::read(base + "_type", &type) != 0 || sf::read(base + "_index", &index) != 0) {
            if (axis == 3)
                continue; // no timestamp channel: the scans are still whole
            *error = QStringLiteral("%1 has no readable scan_elements/%2_type")
                         .arg(folder, QString::fromLatin1(name));
            return false;
        }
        Found found{{}, axis};
        bool ok = false;
        found.channel.index = index.trimmed().toInt(&ok);
        if (!ok || !IioDriver::parseScanType(type, &found.channel)) {
            *error = QStringLiteral("%1: scan_elements/%2_type holds '%3', which is not a channel "
                                    "type such as le:s16/32>>0")
                         .arg(folder, QString::fromLatin1(name), QString::fromUtf8(type.trimmed()));
            return false;
        }
        channels.push_back(found);
    }
    std::sort(channels.begin(), channels.end(),
              [](const Found& a, const Found& b) { return a.channel.index < b.channel.index; });
    int offset = 0, largest = 1;
    for (Found& found : channels) {
        const int bytes = found.channel.bytes;
        offset = (offset + bytes - 1) / bytes * bytes;
        found.channel.offset = offset;
        offset += bytes;
        largest = std::max(largest, bytes);
        if (found.axis < 3)
            calibration->axes[found.axis] = found.channel;
        else
            calibration->timestamp = found.channel;
    }
    calibration->scanBytes = (offset + largest - 1) / largest * largest;
    calibration->devnode = "/dev/" + QFile::encodeName(QFileInfo(folder).fileName());
    return QFileInfo::exists(QFile::decodeName(calibration->devnode));
}

bool loadCalibration(const QString& folder, IioDriver::Calibration* calibration, QString* error) {
    calibration->name = deviceName(folder);
    for (int axis = 0; axis < 3; ++axis) {
        const QByteArray name = kAxisNames[axis];
        calibration->rawPaths[axis] = pathIn(folder, "in_accel_" + name + "_raw");
        const QByteArray axisScale = "in_accel_" + name + "_scale";
        // A ChromeOS EC's sensors share one plain `scale` file.
        int status = readNumber(folder, {axisScale, "in_accel_scale", "scale"},
                                &calibration->scale[axis], error);
        if (status == ENOENT) {
            // Without a scale the counts have no unit; guessing 1.0 would show nonsense as g.
            *error = QStringLiteral("%1 has neither in_accel_scale nor %2, so its readings "
                                    "cannot be converted to m/s²")
                         .arg(folder, QString::fromLatin1(axisScale));
            return false;
        }
        if (status != 0)
            return false;
        calibration->offset[axis] = 0.0;
        status = readNumber(folder, {"in_accel_" + name + "_offset", "in_accel_offset"},
                            &calibration->offset[axis], error);
        if (status != 0 && status != ENOENT)
            return false;
    }
    const Mounting mount = mounting(folder, udevProperties(folder));
    if (!mount.error.isEmpty()) {
        *error = mount.error;
        return false;
    }
    calibration->toDevice = deviceFrame(mount.matrix, reportsGravity(calibration->name));
    for (auto& row : calibration->toDevice)
        for (double& cell : row)
            cell /= kStandardGravity;
    calibration->hasRawFiles = hasRawAxes(folder);
    if (hasScanAxes(folder)) {
        QString problem;
        calibration->buffered = scanLayout(folder, calibration, &problem);
        if (!calibration->buffered && !calibration->hasRawFiles) {
            *error = problem;
            return false;
        }
    }
    if (calibration->buffered)
        return true;
    QByteArray text;
    for (const QByteArray& path : calibration->rawPaths) {
        if (const int status = sf::read(path, &text); status != 0) {
            *error = sf::cannotRead(path, status);
            return false;
        }
    }
    return true;
}

struct Loaded {
    bool ok = false;
    IioDriver::Calibration calibration;
    QString error;
};

Loaded load(const QString& folder) {
    Loaded loaded;
    loaded.ok = loadCalibration(folder, &loaded.calibration, &loaded.error);
    return loaded;
}

SourceInfo describe(const UdevDevice& device) {
    const QString& folder = device.syspath;
    const QString label = readText(folder, "label");
    const Mounting mount = mounting(folder, device.properties);
    SourceInfo info;
    info.kind = QStringLiteral("iio");
    info.name = device.name.isEmpty() ? device.sysname : device.name;
    info.path = folder;
    info.rates = describeRates(folder);
    info.label = label;
    info.location = locationOf(folder, device.properties, label);
    info.matrix = matrixText(mount.matrix);
    info.matrixOrigin = mount.origin;
    return info;
}

} // namespace

std::vector<SourceInfo> IioDriver::discover() {
    std::vector<SourceInfo> found;
    for (const UdevDevice& device : udevdevices::enumerate("iio"))
        if (hasRawAxes(device.syspath) || hasScanAxes(device.syspath))
            found.push_back(describe(device));
    return found;
}

bool IioDriver::parseScanType(const QByteArray& text, ScanChannel* channel) {
    // [be|le]:[s|u]bits/storagebits[Xrepeat]>>shift
    const QList<QByteArray> parts = text.trimmed().split(':');
    if (parts.size() != 2 || (parts[0] != "le" && parts[0] != "be"))
        return false;
    QByteArray rest = parts[1];
    if (rest.isEmpty() || (rest[0] != 's' && rest[0] != 'u'))
        return false;
    channel->bigEndian = parts[0] == "be";
    channel->isSigned = rest[0] == 's';
    const qsizetype slash = rest.indexOf('/');
    const qsizetype arrows = rest.indexOf(">>");
    if (slash < 0 || arrows < slash)
        return false;
    QByteArray storage = rest.mid(slash + 1, arrows - slash - 1);
    if (const qsizetype repeat = storage.indexOf('X'); repeat >= 0)
        storage.truncate(repeat);
    bool okBits = false, okStorage = false, okShift = false;
    channel->realBits = rest.mid(1, slash - 1).toInt(&okBits);
    const int storageBits = storage.toInt(&okStorage);
    channel->shift = rest.mid(arrows + 2).toInt(&okShift);
    channel->bytes = storageBits / 8;
    return okBits && okStorage && okShift && channel->realBits > 0 &&
           (storageBits == 8 || storageBits == 16 || storageBits == 32 || storageBits == 64) &&
           channel->realBits + channel->shift <= storageBits;
}

std::int64_t IioDriver::ScanChannel::decode(const unsigned char* scan) const {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) {
        const int byte = bigEndian ? i : bytes - 1 - i;
        value = value << 8 | scan[offset + byte];
    }
    value >>= shift;
    if (realBits < 64)
        value &= (std::uint64_t(1) << realBits) - 1;
    if (isSigned && realBits < 64 && (value >> (realBits - 1)) & 1)
        value |= ~((std::uint64_t(1) << realBits) - 1);
    return static_cast<std::int64_t>(value);
}

namespace {

// Turns the device's buffer on and opens it. -1 and `why` when it cannot be had; `busy` when
// another program holds it (the kernel lets one reader have a device's buffer at a time).
int enableBuffer(const QString& folder, const IioDriver::Calibration& c, bool* busy, QString* why) {
    auto put = [&](const QByteArray& file, const QByteArray& text) {
        return sf::write(pathIn(folder, file), text);
    };
    auto fail = [&](const QByteArray& file, int status) {
        *busy = status == EBUSY;
        *why = *busy ? QStringLiteral("its buffer is busy (another program holds it)")
                     : QStringLiteral("cannot use its buffer: %1")
                           .arg(sf::cannotRead(pathIn(folder, file), status));
        return -1;
    };
    for (const char* axis : kAxisNames) {
        const QByteArray file = QByteArray("scan_elements/in_accel_") + axis + "_en";
        if (const int status = put(file, "1"); status != 0)
            return fail(file, status);
    }
    if (c.timestamp)
        put("scan_elements/in_timestamp_en", "1");
    // A buffer without a trigger never fills; the device's own is named NAME-devN.
    QByteArray current;
    if (sf::read(pathIn(folder, "trigger/current_trigger"), &current) == 0 &&
        current.trimmed().isEmpty()) {
        const QString sysname = QFileInfo(folder).fileName();
        put("trigger/current_trigger",
            c.name.toUtf8() + "-dev" +
                sysname.mid(sysname.indexOf(QLatin1String("device")) + 6).toUtf8());
    }
    put("buffer/length", QByteArray::number(kBufferScans));
    if (const int status = put("buffer/enable", "1"); status != 0)
        return fail("buffer/enable", status);
    const int fd = ::open(c.devnode.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int status = errno;
        put("buffer/enable", "0");
        return fail(c.devnode.mid(c.devnode.lastIndexOf('/') + 1), status);
    }
    return fd;
}

} // namespace

SourceKind IioDriver::sourceKind() {
    SourceKind kind;
    kind.kind = QStringLiteral("iio");
    kind.usage = QStringLiteral("iio[:NAME]");
    kind.takesAxes = true;
    kind.discover = &IioDriver::discover;
    kind.create = [](const QString& argument, const SourceRequest&, const AxisMap& axes,
                     QString* error) -> std::unique_ptr<AccelerometerDriver> {
        QString folder = argument.startsWith(QLatin1Char('/')) ? argument : QString();
        if (folder.isEmpty()) {
            const std::optional<std::vector<SourceInfo>> found =
                sf::withDeadline<std::vector<SourceInfo>>(&IioDriver::discover);
            if (!found) {
                *error = QStringLiteral("the IIO devices' files are not answering");
                return nullptr;
            }
            QStringList names;
            for (const SourceInfo& info : *found) {
                const QString sysname = QFileInfo(info.path).fileName();
                if (argument.isEmpty() || info.name == argument || info.label == argument ||
                    sysname == argument) {
                    folder = info.path;
                    break;
                }
                names << QStringLiteral("%1 (%2)").arg(info.name, sysname);
            }
            if (folder.isEmpty()) {
                *error = names.isEmpty()
                             ? QStringLiteral("no IIO accelerometer under /sys/bus/iio/devices")
                             : QStringLiteral("no IIO accelerometer of that name or label; "
                                              "found %1")
                                   .arg(names.join(QStringLiteral(", ")));
                return nullptr;
            }
        }
        auto driver = std::make_unique<IioDriver>(folder, axes);
        if (!driver->start(error))
            return nullptr;
        return driver;
    };
    return kind;
}

IioDriver::IioDriver(const QString& folder, const AxisMap& axes, QObject* parent)
    : AccelerometerDriver(parent), folder_(folder), name_(QFileInfo(folder).fileName()),
      axes_(axes), shared_(std::make_shared<Shared>()) {
    connect(&reconnector_, &Reconnector::tryAgain, this, &IioDriver::lookAgain);
}

IioDriver::~IioDriver() {
    closeBuffer();
    {
        std::lock_guard lock(shared_->mutex);
        shared_->stopping = true;
        shared_->jobs.clear();
    }
    shared_->wake.notify_one();
    // The thread holds its own share of the state, so a thread stuck in a read that never
    // returns cannot keep the program from ending.
    if (reader_.joinable())
        reader_.detach();
}

QString IioDriver::description() const {
    return QStringLiteral("iio: %1 (%2)").arg(name_, QFileInfo(folder_).fileName());
}

bool IioDriver::start(QString* error) {
    const QString folder = folder_;
    const std::optional<Loaded> loaded =
        sf::withDeadline<Loaded>([folder] { return load(folder); });
    if (!loaded) {
        *error = QStringLiteral("Sensor %1 is not answering: its files gave nothing within %2 s")
                     .arg(folder)
                     .arg(double(sf::answerDeadline().count()) / 1000.0);
        return false;
    }
    if (!loaded->ok) {
        *error = loaded->error;
        return false;
    }
    name_ = loaded->calibration.name;
    Calibration calibration = loaded->calibration;
    reader_ = std::thread(&IioDriver::readerLoop, shared_);
    QString why;
    if (calibration.buffered && !openBuffer(calibration, &why)) {
        if (!calibration.hasRawFiles) {
            *error = QStringLiteral("Sensor %1 cannot be read: %2, and it has no files to poll")
                         .arg(description(), why);
            return false;
        }
        // Said once the service holds the driver and passes its messages on.
        const QString notice =
            QStringLiteral("Sensor %1: %2; reading it by polling instead").arg(description(), why);
        QMetaObject::invokeMethod(
            this, [this, notice] { emit statusMessage(notice, MessageKind::Notice); },
            Qt::QueuedConnection);
        calibration.buffered = false;
    }
    resume(folder_, calibration);
    return true;
}

bool IioDriver::openBuffer(const Calibration& calibration, QString* why) {
    closeBuffer();
    const QString folder = folder_;
    struct Opened {
        int fd = -1;
        int scans = 0;
        bool busy = false;
        QString why;
    };
    const std::optional<Opened> opened = sf::withDeadline<Opened>([folder, calibration] {
        Opened o;
        o.fd = enableBuffer(folder, calibration, &o.busy, &o.why);
        QByteArray length;
        double scans = 0.0;
        if (sf::read(pathIn(folder, "buffer/length"), &length) == 0 &&
            sf::parseNumber(length, &scans) && scans >= 1.0)
            o.scans = static_cast<int>(std::min(scans, 1e6));
        return o;
    });
    buffered_ = opened && opened->fd >= 0;
    if (!buffered_) {
        *why = opened ? opened->why : QStringLiteral("its buffer is not answering");
        return false;
    }
    bufferFd_ = opened->fd;
    bufferScans_ = opened->scans > 0 ? opened->scans : kBufferScans;
    scan_.assign(static_cast<size_t>(calibration.scanBytes), 0);
    return true;
}

void IioDriver::closeBuffer() {
    if (bufferFd_ < 0)
        return;
    ::close(bufferFd_);
    bufferFd_ = -1;
    // Handing the buffer back lets other programs have it; a device that does not answer must
    // not hold the program up for more than the deadline.
    const QByteArray enable = pathIn(folder_, "buffer/enable");
    sf::withDeadline<int>([enable] { return sf::write(enable, "0"); });
}

// The newest whole scan in the buffer, read without waiting on the event loop's thread. Each
// read asks for one scan, and only after poll() says one is there: a read asking for more than
// the buffer holds makes the kernel flush a chip's hardware FIFO, which talks to the chip over
// its bus and can stall. Poll never does.
IioDriver::RawRead IioDriver::readBuffer() {
    RawRead read;
    const Calibration& c = calibration_;
    int taken = 0;
    for (;;) {
        pollfd ready{bufferFd_, POLLIN, 0};
        if (::poll(&ready, 1, 0) <= 0 || !(ready.revents & POLLIN))
            break;
        const ssize_t count = ::read(bufferFd_, scan_.data(), scan_.size());
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && errno != EAGAIN) {
            read.error = errno;
            read.failedPath = c.devnode;
            read.sequence = 1;
            return read;
        }
        if (count != static_cast<ssize_t>(scan_.size()))
            break; // nothing more (or the end of a file standing in for the device)
        for (size_t axis = 0; axis < 3; ++axis)
            read.counts[axis] = static_cast<double>(c.axes[axis].decode(scan_.data()));
        read.fromScan = true;
        read.sequence = 1;
        if (++taken >= bufferScans_)
            break;
    }
    // A full buffer has been dropping the newest scans since it filled (while nobody asked for
    // readings): what it held is old. The scans that follow are new.
    if (taken >= bufferScans_)
        return RawRead{};
    return read;
}

void IioDriver::post(std::function<void(Shared&)> job) {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->jobs.push_back(std::move(job));
    }
    shared_->wake.notify_one();
}

bool IioDriver::runJobs(Shared& s, std::unique_lock<std::mutex>& lock) {
    bool ran = false;
    while (!s.jobs.empty() && !s.stopping) {
        std::function<void(Shared&)> job = std::move(s.jobs.front());
        s.jobs.pop_front();
        lock.unlock();
        job(s);
        lock.lock();
        ran = true;
    }
    return ran;
}

void IioDriver::readerLoop(std::shared_ptr<Shared> shared) {
    Shared& s = *shared;
    std::unique_lock lock(s.mutex);
    for (;;) {
        s.wake.wait(lock, [&] { return s.requested || s.stopping || !s.jobs.empty(); });
        if (s.stopping)
            return;
        if (runJobs(s, lock))
            continue;
        s.requested = false;
        const std::array<QByteArray, 3> paths = s.paths;
        RawRead read;
        read.generation = s.generation;
        lock.unlock();
        for (size_t axis = 0; axis < 3; ++axis) {
            read.error = sf::read(paths[axis], &read.text[axis]);
            if (read.error != 0) {
                read.failedPath = paths[axis];
                break;
            }
        }
        lock.lock();
        read.sequence = s.result.sequence + 1;
        s.result = std::move(read);
    }
}

void IioDriver::setUpdateInterval(double seconds) {
    interval_ = seconds;
    if (running_)
        applySamplingFrequency();
}

void IioDriver::applySamplingFrequency() {
    if (!(interval_ > 0.0))
        return;
    const double wanted = 1.0 / interval_;
    const QString folder = folder_;
    const QString what = description();
    post([folder, wanted, what](Shared&) {
        const QByteArray path = frequencyPath(folder);
        QByteArray text;
        double current = 0.0;
        if (path.isEmpty() || sf::read(path, &text) != 0 || !sf::parseNumber(text, &current))
            return;
        // Rates such as 1/120 s come back as 119.99999; a part in a million is not slower.
        if (current >= wanted * (1.0 - 1e-6))
            return;
        const Rates rates = availableRates(folder);
        if (rates.empty())
            return;
        const double choice = rates.choose(wanted);
        if (choice <= current)
            return;
        if (const int status = sf::write(path, rateText(choice)); status != 0)
            qInfo("%s: cannot raise %s to %g Hz (%s); readings repeat between the chip's samples",
                  qPrintable(what), path.constData(), choice, qPrintable(sf::errorText(status)));
    });
}

std::optional<Acceleration> IioDriver::read(double now) {
    if (lookingAgain_)
        takeWhatTheLookFound();
    if (!running_)
        return std::nullopt;
    RawRead fresh;
    if (buffered_) {
        fresh = readBuffer();
    } else {
        {
            std::lock_guard lock(shared_->mutex);
            if (shared_->result.sequence != lastSequence_) {
                lastSequence_ = shared_->result.sequence;
                if (shared_->result.generation == shared_->generation)
                    fresh = shared_->result;
            }
            shared_->requested = true;
        }
        shared_->wake.notify_one();
    }

    if (fresh.sequence == 0) {
        if (latestTime_ < 0.0)
            latestTime_ = now; // the first request: the clock of an answer starts now
        // Between the reader's results the last reading holds, as a chip's output register does.
        if (now - latestTime_ > kStallSeconds && buffered_ && latest_) {
            // A sensor hub sends a scan only when a reading moves by more than its hysteresis:
            // a quiet buffer is a device lying still, unless the device has gone.
            latestTime_ = now;
            if (!QFileInfo::exists(folder_)) {
                RawRead gone;
                gone.error = ENODEV;
                gone.failedPath = calibration_.devnode;
                lose(gone);
                return std::nullopt;
            }
            return latest_;
        }
        if (now - latestTime_ > kStallSeconds) {
            if (!reportedStall_)
                emit statusMessage(QStringLiteral("Sensor %1 is not answering").arg(name_),
                                   MessageKind::Lost);
            reportedStall_ = true;
            return std::nullopt;
        }
        return latest_;
    }
    if (fresh.error != 0) {
        lose(fresh);
        return std::nullopt;
    }
    latestTime_ = now;
    if (reportedStall_)
        emit statusMessage(QStringLiteral("Sensor %1 answers again").arg(name_), MessageKind::Back);
    reportedStall_ = false;
    double raw[3] = {fresh.counts[0], fresh.counts[1], fresh.counts[2]};
    for (int axis = 0; axis < 3 && !fresh.fromScan; ++axis) {
        if (!sf::parseNumber(fresh.text[axis], &raw[axis])) {
            if (dropped_++ == 0)
                qWarning("%s: dropped a reading: %s holds '%s'", qPrintable(description()),
                         calibration_.rawPaths[axis].constData(),
                         fresh.text[axis].trimmed().constData());
            latest_.reset();
            return std::nullopt;
        }
    }
    const Calibration& c = calibration_;
    double ms2[3];
    for (int axis = 0; axis < 3; ++axis)
        ms2[axis] = (raw[axis] + c.offset[axis]) * c.scale[axis];
    double g[3];
    for (int row = 0; row < 3; ++row)
        g[row] =
            c.toDevice[row][0] * ms2[0] + c.toDevice[row][1] * ms2[1] + c.toDevice[row][2] * ms2[2];
    latest_ = axes_.apply(Acceleration{g[0], g[1], g[2], now});
    return latest_;
}

void IioDriver::lose(const RawRead& failure) {
    running_ = false;
    closeBuffer();
    latest_.reset();
    const QString why = failure.error == EACCES || failure.error == EPERM
                            ? accessDeniedMessage(QFile::decodeName(failure.failedPath))
                            : QStringLiteral("Sensor %1 is gone (%2)")
                                  .arg(description(), sf::errorText(failure.error));
    emit statusMessage(why + QStringLiteral("; waiting for it to come back"), MessageKind::Lost);
    reconnector_.start();
}

void IioDriver::lookAgain() {
    if (lookingAgain_ || running_)
        return;
    lookingAgain_ = true;
    // A device that comes back may get another number; its name stays.
    const QString folder = folder_;
    const QString name = name_;
    post([folder, name](Shared& shared) {
        QStringList candidates{folder};
        for (const UdevDevice& device : udevdevices::enumerate("iio"))
            if (device.syspath != folder && device.name == name)
                candidates << device.syspath;
        std::optional<std::pair<QString, Calibration>> found;
        for (const QString& candidate : candidates) {
            if (!(hasRawAxes(candidate) || hasScanAxes(candidate)) || deviceName(candidate) != name)
                continue;
            Loaded loaded = load(candidate);
            if (loaded.ok) {
                found.emplace(candidate, loaded.calibration);
                break;
            }
        }
        std::lock_guard lock(shared.mutex);
        shared.found = std::move(found);
        shared.lookFinished = true;
    });
}

void IioDriver::takeWhatTheLookFound() {
    std::optional<std::pair<QString, Calibration>> found;
    {
        std::lock_guard lock(shared_->mutex);
        if (!shared_->lookFinished)
            return;
        shared_->lookFinished = false;
        found = std::move(shared_->found);
        shared_->found.reset();
    }
    lookingAgain_ = false;
    if (!found)
        return;
    reconnector_.stop();
    folder_ = found->first;
    Calibration calibration = found->second;
    if (!buffered_) {
        calibration.buffered = false;                         // the polling reader goes on
    } else if (QString why; !openBuffer(calibration, &why)) { // the old one went with the device
        emit statusMessage(
            QStringLiteral("Sensor %1: %2; reading it by polling instead").arg(description(), why),
            MessageKind::Notice);
    }
    resume(found->first, calibration);
    emit statusMessage(QStringLiteral("Sensor %1 is back").arg(description()), MessageKind::Back);
}

void IioDriver::resume(const QString& folder, const Calibration& calibration) {
    folder_ = folder;
    calibration_ = calibration;
    {
        std::lock_guard lock(shared_->mutex);
        shared_->paths = calibration.rawPaths;
        ++shared_->generation; // a read of the old folder may still be in flight
        lastSequence_ = shared_->result.sequence;
    }
    running_ = true;
    reportedStall_ = false;
    latestTime_ = -1.0;
    applySamplingFrequency();
}

} // namespace platform
