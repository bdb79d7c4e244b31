#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace sensors {

class UdevMonitor;

// What every hardware driver needs around its device files: reading and writing sysfs files,
// messages for files the user may not read, reading off the event loop's thread, and waiting
// for a vanished device to come back.
//
// Error out-parameters follow one rule throughout the sensors: a function that fails returns
// false (or null, or nothing) and sets `*error` to one sentence for the user; on success it
// leaves `*error` alone. `error` is never null.
namespace sensorfiles {

// Reads a small sysfs file in one read(2), as the kernel fills it; returns 0 or an errno value.
// It may block (a stalled bus, a FIFO): call it off the main thread.
int read(const QByteArray& path, QByteArray* text);
int write(const QByteArray& path, const QByteArray& text);

// sysfs writes numbers in the C locale whatever the user's locale; false unless finite.
bool parseNumber(const QByteArray& text, double* value);

QString errorText(int error);
// "Cannot read PATH: REASON", or the access message when the reason is a permission.
QString cannotRead(const QByteArray& path, int error);

// How long the main thread waits for a sensor's files before it calls the sensor stalled.
std::chrono::milliseconds answerDeadline();
void setAnswerDeadline(std::chrono::milliseconds deadline);

// Runs `work` on a thread of its own and waits for it at most answerDeadline(). When the work
// does not finish in time it is left to finish (or stay blocked) alone and nothing is returned,
// so `work` must own everything it touches.
template <class T> std::optional<T> withDeadline(std::function<T()> work) {
    struct Shared {
        std::mutex mutex;
        std::condition_variable done;
        std::optional<T> result;
    };
    auto shared = std::make_shared<Shared>();
    std::thread([shared, work = std::move(work)]() mutable {
        T result = work();
        std::lock_guard lock(shared->mutex);
        shared->result = std::move(result);
        shared->done.notify_all();
    }).detach();
    std::unique_lock lock(shared->mutex);
    shared->done.wait_for(lock, answerDeadline(), [&] { return shared->result.has_value(); });
    return std::move(shared->result);
}

} // namespace sensorfiles

// Orders "iio:device2" before "iio:device10" and "event9" before "event10", as the kernel
// numbers them (QCollator's numeric mode is not there in the C locale).
bool byDeviceNumber(const QString& a, const QString& b);

// One sentence for a device file the user may not read: which file, and how to grant access
// (group membership or a udev rule).
QString accessDeniedMessage(const QString& path);

// Waits for a vanished device: emits tryAgain() whenever udev announces a device of the sensor
// subsystems, and every retryInterval() besides, for machines where udev's events do not reach
// the program (containers, a missing udev daemon).
class Reconnector : public QObject {
    Q_OBJECT
public:
    explicit Reconnector(QObject* parent = nullptr);
    ~Reconnector() override;

    void start();
    void stop();

    // Five seconds unless a test sets it shorter.
    static std::chrono::milliseconds retryInterval();
    static void setRetryInterval(std::chrono::milliseconds interval);

signals:
    void tryAgain();

private:
    std::unique_ptr<UdevMonitor> monitor_;
    QTimer retry_;
    bool waiting_ = false;
};

} // namespace sensors
