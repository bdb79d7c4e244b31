#pragma once

#include <QObject>
#include <QTimer>
#include <memory>

class QSocketNotifier;

namespace sensors {

// A repeating timer with nanosecond resolution on the main thread.
//
// QTimer takes whole milliseconds, which turns 1/120 s into 8 ms (125 Hz). This timer uses a
// Linux timerfd with an absolute period, so the rate is exact on average and each tick is late
// only by the event loop's own latency. Ticks that were missed (a busy loop) are merged into one.
class IntervalTimer : public QObject {
    Q_OBJECT
public:
    explicit IntervalTimer(QObject* parent = nullptr);
    ~IntervalTimer() override;

    // Starts (or restarts) ticking every `seconds`, the first tick one interval from now.
    void start(double seconds);
    void stop();
    bool isActive() const { return active_; }

signals:
    // `expirations` is the number of periods since the previous tick, normally 1.
    void timeout(quint64 expirations);

private:
    void onReadable();

    int fd_ = -1;
    QTimer fallback_; // only when no timerfd could be had
    std::unique_ptr<QSocketNotifier> notifier_;
    bool active_ = false;
};

} // namespace sensors
