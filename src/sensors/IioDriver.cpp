#include "sensors/IioDriver.h"

#include "sensors/Udev.h"

#include <QFileInfo>
#include <QtDebug>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <libudev.h>

namespace platform {

namespace sf = sensorfiles;

namespace {

// Without a fresh reading for this long the reader thread is taken to be stuck in the kernel.
constexpr double kStallSeconds = 1.0;

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
    const int status =
        readFirst(folder, {"mount_matrix", "in_accel_mount_matrix", "in_mount_matrix"}, &text,
                  &path);
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
        const auto atLeast = std::find_if(list.begin(), list.end(),
                                          [&](double rate) { return rate >= tolerant; });
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
        if (hasRawAxes(device.syspath))
            found.push_back(describe(device));
    return found;
}

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
    const std::optional<Loaded> loaded = sf::withDeadline<Loaded>([folder] { return load(folder); });
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
    reader_ = std::thread(&IioDriver::readerLoop, shared_);
    resume(folder_, loaded->calibration);
    return true;
}

void IioDriver::post(std::function<void(Shared&)> job) {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->jobs.push_back(std::move(job));
    }
    shared_->wake.notify_one();
}

void IioDriver::readerLoop(std::shared_ptr<Shared> shared) {
    Shared& s = *shared;
    std::unique_lock lock(s.mutex);
    for (;;) {
        s.wake.wait(lock, [&] { return s.requested || s.stopping || !s.jobs.empty(); });
        if (s.stopping)
            return;
        if (!s.jobs.empty()) {
            std::function<void(Shared&)> job = std::move(s.jobs.front());
            s.jobs.pop_front();
            lock.unlock();
            job(s);
            lock.lock();
            continue;
        }
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

    if (fresh.sequence == 0) {
        if (latestTime_ < 0.0)
            latestTime_ = now; // the first request: the clock of an answer starts now
        // Between the reader's results the last reading holds, as a chip's output register does.
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
        emit statusMessage(QStringLiteral("Sensor %1 answers again").arg(name_),
                           MessageKind::Back);
    reportedStall_ = false;
    double raw[3];
    for (int axis = 0; axis < 3; ++axis) {
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
        g[row] = c.toDevice[row][0] * ms2[0] + c.toDevice[row][1] * ms2[1] +
                 c.toDevice[row][2] * ms2[2];
    latest_ = axes_.apply(Acceleration{g[0], g[1], g[2], now});
    return latest_;
}

void IioDriver::lose(const RawRead& failure) {
    running_ = false;
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
            if (!hasRawAxes(candidate) || deviceName(candidate) != name)
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
    resume(found->first, found->second);
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
