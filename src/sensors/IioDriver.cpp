#include "sensors/IioDriver.h"

#include <QDir>
#include <QFileInfo>
#include <QtDebug>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {

// Without a fresh reading for this long the reader thread is taken to be stuck in the kernel.
constexpr double kStallSeconds = 1.0;

const char* const kAxisNames[3] = {"x", "y", "z"};

// Reads a small sysfs file in one read(2), as the kernel fills it; returns 0 or an errno value.
int readFile(const QByteArray& path, QByteArray* text) {
    int fd;
    do
        fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return errno;
    char buffer[512];
    ssize_t count;
    do
        count = ::read(fd, buffer, sizeof buffer);
    while (count < 0 && errno == EINTR);
    const int error = count < 0 ? errno : 0;
    ::close(fd);
    if (count >= 0)
        *text = QByteArray(buffer, static_cast<qsizetype>(count));
    return error;
}

int writeFile(const QByteArray& path, const QByteArray& text) {
    const int fd = ::open(path.constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const ssize_t count = ::write(fd, text.constData(), static_cast<size_t>(text.size()));
    const int error = count < 0 ? errno : 0;
    ::close(fd);
    return error;
}

// sysfs writes numbers in the C locale whatever the user's locale; QByteArray parses that way.
bool parseNumber(const QByteArray& text, double* value) {
    bool ok = false;
    const double parsed = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(parsed))
        return false;
    *value = parsed;
    return true;
}

QByteArray pathIn(const QString& folder, const char* file) {
    return QFile::encodeName(folder) + '/' + file;
}

QString errorText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

QString cannotRead(const QByteArray& path, int error) {
    if (error == EACCES || error == EPERM)
        return accessDeniedMessage(QFile::decodeName(path));
    return QStringLiteral("Cannot read %1: %2").arg(QFile::decodeName(path), errorText(error));
}

// The first of `files` in `folder` that exists: 0 and its text, ENOENT when none does, or the
// error that stopped the read.
int readFirst(const QString& folder, std::initializer_list<const char*> files, QByteArray* text,
              QByteArray* path) {
    for (const char* file : files) {
        *path = pathIn(folder, file);
        const int error = readFile(*path, text);
        if (error != ENOENT)
            return error;
    }
    return ENOENT;
}

QString deviceName(const QString& folder) {
    QByteArray name;
    if (readFile(pathIn(folder, "name"), &name) == 0 && !name.trimmed().isEmpty())
        return QString::fromUtf8(name.trimmed());
    return QFileInfo(folder).fileName();
}

QByteArray frequencyPath(const QString& folder) {
    for (const char* file : {"sampling_frequency", "in_accel_sampling_frequency"}) {
        const QByteArray path = pathIn(folder, file);
        if (QFileInfo::exists(QFile::decodeName(path)))
            return path;
    }
    return {};
}

std::vector<double> availableFrequencies(const QString& folder) {
    QByteArray text, path;
    std::vector<double> rates;
    if (readFirst(folder, {"sampling_frequency_available", "in_accel_sampling_frequency_available"},
                  &text, &path) != 0)
        return rates;
    for (const QByteArray& word : text.simplified().split(' ')) {
        double rate = 0.0;
        if (parseNumber(word, &rate) && rate > 0.0)
            rates.push_back(rate);
    }
    std::sort(rates.begin(), rates.end());
    return rates;
}

QString describeRates(const QString& folder) {
    const std::vector<double> rates = availableFrequencies(folder);
    QStringList words;
    for (double rate : rates)
        words << QString::number(rate, 'g', 6);
    if (!words.isEmpty())
        return words.join(QLatin1Char(' ')) + QStringLiteral(" Hz");
    QByteArray text;
    double rate = 0.0;
    const QByteArray path = frequencyPath(folder);
    if (!path.isEmpty() && readFile(path, &text) == 0 && parseNumber(text, &rate))
        return QStringLiteral("%1 Hz").arg(rate, 0, 'g', 6);
    return QStringLiteral("any (polled)");
}

bool hasRawAxes(const QString& folder) {
    for (const char* axis : kAxisNames)
        if (!QFileInfo::exists(folder + QStringLiteral("/in_accel_%1_raw").arg(axis)))
            return false;
    return true;
}

// "m00, m01, m02; m10, m11, m12; m20, m21, m22", rows first.
bool parseMatrix(const QByteArray& text, std::array<std::array<double, 3>, 3>* matrix) {
    const QList<QByteArray> rows = text.trimmed().split(';');
    if (rows.size() != 3)
        return false;
    for (int r = 0; r < 3; ++r) {
        const QList<QByteArray> cells = rows[r].split(',');
        if (cells.size() != 3)
            return false;
        for (int c = 0; c < 3; ++c)
            if (!parseNumber(cells[c], &(*matrix)[r][c]))
                return false;
    }
    return true;
}

} // namespace

QString IioDriver::sysfsRoot() {
    return qEnvironmentVariable("WOBBLESTAR_SYSFS_ROOT", QStringLiteral("/sys"));
}

std::vector<SourceInfo> IioDriver::discover() {
    QDir devices(sysfsRoot() + QStringLiteral("/bus/iio/devices"));
    QStringList entries = devices.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(entries.begin(), entries.end(), byDeviceNumber);
    std::vector<SourceInfo> found;
    for (const QString& entry : entries) {
        const QString folder = devices.filePath(entry);
        if (hasRawAxes(folder))
            found.push_back(SourceInfo{QStringLiteral("iio"), deviceName(folder), folder,
                                       describeRates(folder)});
    }
    return found;
}

AxisMap IioDriver::defaultAxes(const QString& name) {
    QString unused;
    if (name == QLatin1String("accel_3d"))
        return *AxisMap::parse(QStringLiteral("x,y,z"), &unused);
    return *AxisMap::parse(QStringLiteral("-x,-y,-z"), &unused);
}

IioDriver::IioDriver(const QString& folder, const AxisMap& axes, QObject* parent)
    : AccelerometerDriver(parent), folder_(folder), name_(deviceName(folder)), axes_(axes) {
    lookAgainTimer_.setInterval(1000);
    connect(&lookAgainTimer_, &QTimer::timeout, this, &IioDriver::lookAgain);
}

IioDriver::~IioDriver() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    if (reader_.joinable())
        reader_.join();
}

QString IioDriver::description() const {
    return QStringLiteral("iio: %1 (%2)").arg(name_, QFileInfo(folder_).fileName());
}

bool IioDriver::loadCalibration(const QString& folder, Calibration* calibration, QString* error) {
    QByteArray text, path;
    for (int axis = 0; axis < 3; ++axis) {
        const char* name = kAxisNames[axis];
        calibration->rawPaths[axis] = pathIn(folder, QByteArray("in_accel_") + name + "_raw");
        const QByteArray axisScale = QByteArray("in_accel_") + name + "_scale";
        int status = readFirst(folder, {axisScale.constData(), "in_accel_scale"}, &text, &path);
        if (status == ENOENT) {
            // Without a scale the counts have no unit; guessing 1.0 would show nonsense as g.
            *error = QStringLiteral("%1 has neither in_accel_scale nor %2, so its readings "
                                    "cannot be converted to m/s²")
                         .arg(folder, QString::fromLatin1(axisScale));
            return false;
        }
        if (status != 0) {
            *error = cannotRead(path, status);
            return false;
        }
        if (!parseNumber(text, &calibration->scale[axis])) {
            *error = QStringLiteral("%1 holds '%2', which is not a number")
                         .arg(QFile::decodeName(path), QString::fromUtf8(text.trimmed()));
            return false;
        }
        const QByteArray axisOffset = QByteArray("in_accel_") + name + "_offset";
        status = readFirst(folder, {axisOffset.constData(), "in_accel_offset"}, &text, &path);
        calibration->offset[axis] = 0.0;
        if (status != 0 && status != ENOENT) {
            *error = cannotRead(path, status);
            return false;
        }
        if (status == 0 && !parseNumber(text, &calibration->offset[axis])) {
            *error = QStringLiteral("%1 holds '%2', which is not a number")
                         .arg(QFile::decodeName(path), QString::fromUtf8(text.trimmed()));
            return false;
        }
    }
    const int status = readFirst(
        folder, {"mount_matrix", "in_accel_mount_matrix", "in_mount_matrix"}, &text, &path);
    if (status != 0 && status != ENOENT) {
        *error = cannotRead(path, status);
        return false;
    }
    if (status == 0 && !parseMatrix(text, &calibration->matrix)) {
        *error = QStringLiteral("%1 holds '%2', which is not a 3×3 matrix written "
                                "\"m00, m01, m02; m10, m11, m12; m20, m21, m22\"")
                     .arg(QFile::decodeName(path), QString::fromUtf8(text.trimmed()));
        return false;
    }
    return true;
}

bool IioDriver::start(QString* error) {
    Calibration calibration;
    if (!loadCalibration(folder_, &calibration, error))
        return false;
    QByteArray text;
    for (const QByteArray& path : calibration.rawPaths) {
        if (const int status = readFile(path, &text); status != 0) {
            *error = cannotRead(path, status);
            return false;
        }
    }
    resume(folder_, calibration);
    reader_ = std::thread([this] { readerLoop(); });
    return true;
}

void IioDriver::readerLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return requested_ || stopping_; });
        if (stopping_)
            return;
        requested_ = false;
        const std::array<QByteArray, 3> paths = paths_;
        RawRead read;
        read.generation = generation_;
        lock.unlock();
        for (size_t axis = 0; axis < 3; ++axis) {
            read.error = readFile(paths[axis], &read.text[axis]);
            if (read.error != 0) {
                read.failedPath = paths[axis];
                break;
            }
        }
        lock.lock();
        read.sequence = result_.sequence + 1;
        result_ = std::move(read);
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
    const QByteArray path = frequencyPath(folder_);
    QByteArray text;
    double current = 0.0;
    if (path.isEmpty() || readFile(path, &text) != 0 || !parseNumber(text, &current))
        return;
    const double wanted = 1.0 / interval_;
    // Rates such as 1/120 s come back as 119.99999; a part in a million is not slower.
    if (current >= wanted * (1.0 - 1e-6))
        return;
    const std::vector<double> rates = availableFrequencies(folder_);
    if (rates.empty())
        return;
    const auto atLeast = std::find_if(rates.begin(), rates.end(),
                                      [&](double rate) { return rate >= wanted * (1.0 - 1e-6); });
    const double choice = atLeast != rates.end() ? *atLeast : rates.back();
    if (choice <= current)
        return;
    if (const int status = writeFile(path, QByteArray::number(choice, 'g', 10)); status != 0)
        qInfo("%s: cannot raise %s to %g Hz (%s); readings repeat between the chip's samples",
              qPrintable(description()), path.constData(), choice, qPrintable(errorText(status)));
}

std::optional<Acceleration> IioDriver::read(double now) {
    if (!running_)
        return std::nullopt;
    RawRead fresh;
    {
        std::lock_guard lock(mutex_);
        if (result_.sequence != lastSequence_) {
            lastSequence_ = result_.sequence;
            if (result_.generation == generation_)
                fresh = result_;
        }
        requested_ = true;
    }
    wake_.notify_one();

    if (fresh.sequence == 0) {
        // Between the reader's results the last reading holds, as a chip's output register does.
        if (latest_ && now - latestTime_ > kStallSeconds) {
            if (!reportedStall_)
                emit statusMessage(QStringLiteral("Sensor %1 is not answering").arg(name_));
            reportedStall_ = true;
            return std::nullopt;
        }
        return latest_;
    }
    if (fresh.error != 0) {
        lose(fresh);
        return std::nullopt;
    }
    double raw[3];
    for (int axis = 0; axis < 3; ++axis) {
        if (!parseNumber(fresh.text[axis], &raw[axis])) {
            if (dropped_++ == 0)
                qWarning("%s: dropped a reading: %s holds '%s'", qPrintable(description()),
                         calibration_.rawPaths[axis].constData(),
                         fresh.text[axis].trimmed().constData());
            return std::nullopt;
        }
    }
    const Calibration& c = calibration_;
    double ms2[3];
    for (int axis = 0; axis < 3; ++axis)
        ms2[axis] = (raw[axis] + c.offset[axis]) * c.scale[axis];
    double mounted[3];
    for (int row = 0; row < 3; ++row)
        mounted[row] =
            (c.matrix[row][0] * ms2[0] + c.matrix[row][1] * ms2[1] + c.matrix[row][2] * ms2[2]) /
            kStandardGravity;
    if (reportedStall_)
        emit statusMessage(QStringLiteral("Sensor %1 answers again").arg(name_));
    reportedStall_ = false;
    latest_ = axes_.apply(Acceleration{mounted[0], mounted[1], mounted[2], now});
    latestTime_ = now;
    return latest_;
}

void IioDriver::lose(const RawRead& failure) {
    running_ = false;
    latest_.reset();
    const QString why =
        failure.error == EACCES || failure.error == EPERM
            ? accessDeniedMessage(QFile::decodeName(failure.failedPath))
            : QStringLiteral("Sensor %1 is gone (%2)").arg(description(), errorText(failure.error));
    emit statusMessage(why + QStringLiteral("; looking for it again every second"));
    lookAgainTimer_.start();
}

void IioDriver::lookAgain() {
    // A device that comes back may get another number; its name stays.
    QStringList candidates{folder_};
    for (const SourceInfo& info : discover())
        if (info.name == name_ && info.path != folder_)
            candidates << info.path;
    for (const QString& folder : candidates) {
        Calibration calibration;
        QString error;
        QByteArray text;
        if (!hasRawAxes(folder) || deviceName(folder) != name_ ||
            !loadCalibration(folder, &calibration, &error) ||
            readFile(calibration.rawPaths[0], &text) != 0)
            continue;
        lookAgainTimer_.stop();
        resume(folder, calibration);
        emit statusMessage(QStringLiteral("Sensor %1 is back").arg(description()));
        return;
    }
}

void IioDriver::resume(const QString& folder, const Calibration& calibration) {
    folder_ = folder;
    calibration_ = calibration;
    {
        std::lock_guard lock(mutex_);
        paths_ = calibration.rawPaths;
        ++generation_; // a read of the old folder may still be in flight
        lastSequence_ = result_.sequence;
    }
    running_ = true;
    applySamplingFrequency();
}

} // namespace platform
