#include "platform/accel/IntervalTimer.h"

#include <QSocketNotifier>
#include <QtDebug>

#include <cerrno>
#include <cmath>
#include <sys/timerfd.h>
#include <unistd.h>

namespace platform {

IntervalTimer::IntervalTimer(QObject* parent) : QObject(parent) {
    fd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd_ < 0) {
        qFatal("IntervalTimer: timerfd_create failed: %s", strerror(errno));
    }
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &IntervalTimer::onReadable);
}

IntervalTimer::~IntervalTimer() {
    notifier_.reset();
    if (fd_ >= 0)
        ::close(fd_);
}

void IntervalTimer::start(double seconds) {
    if (!(seconds > 0.0) || !std::isfinite(seconds)) {
        stop();
        return;
    }
    const auto nanoseconds = static_cast<long long>(std::llround(seconds * 1e9));
    itimerspec spec{};
    spec.it_interval.tv_sec = static_cast<time_t>(nanoseconds / 1000000000LL);
    spec.it_interval.tv_nsec = static_cast<long>(nanoseconds % 1000000000LL);
    spec.it_value = spec.it_interval;
    if (::timerfd_settime(fd_, 0, &spec, nullptr) != 0) {
        qWarning("IntervalTimer: timerfd_settime failed: %s", strerror(errno));
        return;
    }
    active_ = true;
}

void IntervalTimer::stop() {
    itimerspec spec{};
    ::timerfd_settime(fd_, 0, &spec, nullptr);
    active_ = false;
}

void IntervalTimer::onReadable() {
    quint64 expirations = 0;
    const ssize_t n = ::read(fd_, &expirations, sizeof expirations);
    if (n != sizeof expirations || expirations == 0)
        return; // EAGAIN after a restart, or a spurious wake-up
    emit timeout(expirations);
}

} // namespace platform
