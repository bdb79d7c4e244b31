#include "sensors/SensorFiles.h"

#include "sensors/Udev.h"

#include <QFile>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sensors {

namespace {

std::atomic<long long> deadlineMs{1000};
std::atomic<long long> retryMs{5000};

} // namespace

namespace sensorfiles {

int read(const QByteArray& path, QByteArray* text) {
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

int write(const QByteArray& path, const QByteArray& text) {
    const int fd = ::open(path.constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const ssize_t count = ::write(fd, text.constData(), static_cast<size_t>(text.size()));
    const int error = count < 0 ? errno : 0;
    ::close(fd);
    return error;
}

bool parseNumber(const QByteArray& text, double* value) {
    bool ok = false;
    const double parsed = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(parsed))
        return false;
    *value = parsed;
    return true;
}

QString errorText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

QString cannotRead(const QByteArray& path, int error) {
    if (error == EACCES || error == EPERM)
        return accessDeniedMessage(QFile::decodeName(path));
    return QStringLiteral("Cannot read %1: %2").arg(QFile::decodeName(path), errorText(error));
}

std::chrono::milliseconds answerDeadline() {
    return std::chrono::milliseconds(deadlineMs.load());
}

void setAnswerDeadline(std::chrono::milliseconds deadline) {
    deadlineMs = deadline.count();
}

} // namespace sensorfiles

bool byDeviceNumber(const QString& a, const QString& b) {
    auto split = [](const QString& name) {
        qsizetype digits = name.size();
        while (digits > 0 && name.at(digits - 1).isDigit())
            --digits;
        return std::pair(name.left(digits), name.mid(digits).toULongLong());
    };
    return split(a) < split(b);
}

QString accessDeniedMessage(const QString& path) {
    struct stat status {};
    QString group;
    if (::stat(QFile::encodeName(path).constData(), &status) == 0)
        if (const struct group* entry = ::getgrgid(status.st_gid))
            group = QString::fromLocal8Bit(entry->gr_name);
    if (group.isEmpty() || group == QLatin1String("root"))
        return QStringLiteral("Permission denied reading %1: give your user access with a udev "
                              "rule (see docs/sensors.md)")
            .arg(path);
    return QStringLiteral("Permission denied reading %1: join its group with 'sudo usermod -aG "
                          "%2 $USER' and log in again, or add a udev rule (see docs/sensors.md)")
        .arg(path, group);
}

Reconnector::Reconnector(QObject* parent) : QObject(parent) {
    connect(&retry_, &QTimer::timeout, this, &Reconnector::tryAgain);
}

Reconnector::~Reconnector() = default;

void Reconnector::start() {
    waiting_ = true;
    if (!monitor_) {
        monitor_ = std::make_unique<UdevMonitor>();
        connect(monitor_.get(), &UdevMonitor::deviceChanged, this, [this](const QString& action) {
            if (waiting_ && (action == u"add" || action == u"change"))
                emit tryAgain();
        });
    }
    retry_.start(retryInterval());
}

void Reconnector::stop() {
    waiting_ = false;
    retry_.stop();
    monitor_.reset();
}

std::chrono::milliseconds Reconnector::retryInterval() {
    return std::chrono::milliseconds(retryMs.load());
}

void Reconnector::setRetryInterval(std::chrono::milliseconds interval) {
    retryMs = interval.count();
}

} // namespace sensors
