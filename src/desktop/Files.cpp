#include "desktop/Files.h"

#include <QFile>
#include <QSaveFile>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace desktop {

bool writeAll(QFileDevice& file, const QByteArray& bytes, QString* error) {
    qint64 written = 0;
    while (written < bytes.size()) {
        const qint64 n = file.write(bytes.constData() + written, bytes.size() - written);
        if (n <= 0) {
            *error = file.errorString();
            return false;
        }
        written += n;
    }
    return true;
}

bool saveFile(const QString& path, const QByteArray& bytes, QString* error) {
    if (path.startsWith(QLatin1String("/proc/self/fd/"))) {
        // A name that is not text, opened by descriptor at start-up: the descriptor names the
        // file itself, and there is no folder name to put a temporary file beside it.
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
            *error = file.errorString();
            return false;
        }
        return writeAll(file, bytes, error);
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        *error = file.errorString();
        return false;
    }
    if (!writeAll(file, bytes, error)) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

QString whyCannotWrite(const QString& folder, qint64 bytes) {
    QByteArray name = QFile::encodeName(folder) + "/.wobblestar-probe-XXXXXX";
    const int fd = ::mkstemp(name.data());
    if (fd < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    int failure = 0;
    const QByteArray block(qsizetype(qMin<qint64>(bytes, 65536)), ' ');
    for (qint64 left = bytes; left > 0 && failure == 0;) {
        const ssize_t n = ::write(fd, block.constData(), size_t(qMin<qint64>(left, block.size())));
        if (n < 0)
            failure = errno == EINTR ? 0 : errno;
        else
            left -= n;
    }
    // Blocks a file system reserves lazily are claimed here at the latest.
    if (failure == 0 && ::fsync(fd) != 0)
        failure = errno;
    ::close(fd);
    ::unlink(name.constData());
    return failure == 0 ? QString() : QString::fromLocal8Bit(std::strerror(failure));
}

} // namespace desktop
