#include "sensors/IntervalTimer.h"

#include <QSocketNotifier>
#include <QtDebug>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <sys/timerfd.h>
#include <unistd.h>

namespace sensors {

IntervalTimer::IntervalTimer(QObject* parent) : QObject(parent) {
    fd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd_ < 0) {
        // Out of file descriptors, or a kernel without timerfd: whole milliseconds will do.
        qWarning("IntervalTimer: timerfd_create failed (%s); using a millisecond timer",
                 strerror(errno));
        fallback_.setTimerType(Qt::PreciseTimer);
        connect(&fallback_, &QTimer::timeout, this, [this] { emit timeout(1); });
        return;
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
    if (fd_ < 0) {
        fallback_.start(std::max(1, static_cast<int>(std::lround(seconds * 1e3))));
        active_ = true;
        return;
    }
    const auto nanoseconds = static_cast<long long>(std::llround(seconds * 1e9));
    itimerspec period{};
    period.it_interval.tv_sec = static_cast<time_t>(nanoseconds / 1000000000LL);
    period.it_interval.tv_nsec = static_cast<long>(nanoseconds % 1000000000LL);
    period.it_value = period.it_interval;
    if (::timerfd_settime(fd_, 0, &period, nullptr) != 0) {
        qWarning("IntervalTimer: timerfd_settime failed: %s", strerror(errno));
        return;
    }
    active_ = true;
}

void IntervalTimer::stop() {
    fallback_.stop();
    itimerspec period{};
    if (fd_ >= 0)
        ::timerfd_settime(fd_, 0, &period, nullptr);
    active_ = false;
}

void IntervalTimer::onReadable() {
    quint64 expirations = 0;
    const ssize_t n = ::read(fd_, &expirations, sizeof expirations);
    if (n != sizeof expirations || expirations == 0)
        return; // EAGAIN after a restart, or a spurious wake-up
    emit timeout(expirations);
}

} // namespace sensors
