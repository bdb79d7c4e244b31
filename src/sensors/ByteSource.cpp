#include "sensors/ByteSource.h"

#include <QElapsedTimer>
#include <QFile>
#include <QIODevice>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sensors {

namespace {

// A file, FIFO or device by path, or standard input for "-". Anything that may wait (a FIFO,
// a pipe, a terminal) is polled together with a wake-up pipe, so interrupt() ends the wait.
class DescriptorSource final : public ByteSource {
public:
    explicit DescriptorSource(QString path) : path_(std::move(path)) {
        if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0)
            wake_[0] = wake_[1] = -1;
    }
    ~DescriptorSource() override {
        for (int fd : {fd_, wake_[0], wake_[1]})
            if (fd >= 0)
                ::close(fd);
    }

    bool open(QString* reason) override {
        if (path_ == QLatin1String("-")) {
            fd_ = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0);
        } else {
            // Without O_NONBLOCK, opening a FIFO waits for its writer before anything else runs.
            fd_ = ::open(QFile::encodeName(path_).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        }
        if (fd_ < 0) {
            *reason = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        struct stat status {};
        if (::fstat(fd_, &status) == 0) {
            if (S_ISDIR(status.st_mode)) {
                *reason = QStringLiteral("it is a folder");
                return false;
            }
            regular_ = S_ISREG(status.st_mode);
        }
        return true;
    }

    qint64 read(char* data, qint64 size) override {
        for (;;) {
            if (!regular_ && !waitForInput())
                return -1;
            const ssize_t n = ::read(fd_, data, std::size_t(size));
            if (n >= 0)
                return n;
            if (errno == EINTR || errno == EAGAIN)
                continue;
            error = QString::fromLocal8Bit(std::strerror(errno));
            return -1;
        }
    }

    bool mayWait() const override { return !regular_; }

    void interrupt() override {
        if (wake_[1] >= 0) {
            const char byte = 1;
            [[maybe_unused]] const ssize_t written = ::write(wake_[1], &byte, 1);
        }
    }

private:
    bool waitForInput() {
        pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        for (;;) {
            const int ready = ::poll(fds, wake_[0] >= 0 ? 2 : 1, -1);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready < 0) {
                error = QString::fromLocal8Bit(std::strerror(errno));
                return false;
            }
            if (fds[1].revents != 0) {
                error = QStringLiteral("reading was interrupted");
                return false;
            }
            return true;
        }
    }

    QString path_;
    int fd_ = -1;
    int wake_[2] = {-1, -1};
    bool regular_ = false;
};

class DeviceSource final : public ByteSource {
public:
    explicit DeviceSource(QIODevice* device) : device_(device) {}
    qint64 read(char* data, qint64 size) override {
        for (;;) {
            const qint64 n = device_->read(data, size);
            if (n < 0) {
                error = device_->errorString();
                return -1;
            }
            if (n > 0 || !device_->isSequential())
                return n;
            if (interrupted_) {
                error = QStringLiteral("reading was interrupted");
                return -1;
            }
            // A sequential device that can no longer deliver (a finished process, a closed
            // socket) refuses the wait at once; one that is only quiet uses up the slice.
            QElapsedTimer waited;
            waited.start();
            if (!device_->waitForReadyRead(100) && (!device_->isOpen() || waited.elapsed() < 50))
                return 0;
        }
    }
    void interrupt() override { interrupted_ = true; }

private:
    QIODevice* device_;
    std::atomic<bool> interrupted_{false};
};

class TextSource final : public ByteSource {
public:
    explicit TextSource(std::string_view text) : text_(text) {}
    std::size_t capacity() const override { return std::min(text_.size() + 1, kLongestLine); }
    qint64 read(char* data, qint64 size) override {
        const std::size_t n = std::min(text_.size(), std::size_t(size));
        std::memcpy(data, text_.data(), n);
        text_.remove_prefix(n);
        return qint64(n);
    }

private:
    std::string_view text_;
};

} // namespace

std::unique_ptr<ByteSource> fileSource(QString path) {
    return std::make_unique<DescriptorSource>(std::move(path));
}

std::unique_ptr<ByteSource> deviceSource(QIODevice* device) {
    return std::make_unique<DeviceSource>(device);
}

std::unique_ptr<ByteSource> textSource(std::string_view text) {
    return std::make_unique<TextSource>(text);
}

} // namespace sensors
