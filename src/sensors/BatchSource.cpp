#include "sensors/BatchSource.h"

#include <algorithm>
#include <limits>

namespace sensors {

namespace {

// A batch that arrives later than this after the queue ran dry starts the clock again: the
// sender paused, or its clock jumped.
constexpr double kGap = 1.0;
// The longest the queue may run ahead of this machine's clock; beyond it the sender's clock is
// faster than ours and the delay is set again.
constexpr double kMaxAhead = 3.0;
// Readings held at most: 10 s at 1 kHz.
constexpr std::size_t kMaxQueued = 10000;

} // namespace

BatchSource::BatchSource(QString device, QObject* parent)
    : AccelerometerDriver(parent), device_(std::move(device)), chosen_(!device_.isEmpty()) {
    clock_.start();
}

QStringList BatchSource::devicesSeen() const {
    const double now = clock_.nsecsElapsed() * 1e-9;
    QStringList devices;
    for (const QString& device : order_)
        if (now - seen_.value(device) <= kSeenWithin)
            devices << device;
    return devices;
}

void BatchSource::said(const QString& message, MessageKind kind) {
    emit statusMessage(message, kind);
}

void BatchSource::refuse(const QString& why) {
    if (why == lastRefusal_)
        return;
    lastRefusal_ = why;
    said(QStringLiteral("Unusable batch from %1: %2").arg(origin(), why), MessageKind::Notice);
}

bool BatchSource::receive(const QByteArray& body, QString* error) {
    const double arrival = clock_.nsecsElapsed() * 1e-9;
    std::optional<ReadingBatch> batch = parseReadingBatch(body, error);
    if (!batch) {
        refuse(*error);
        return false;
    }
    const QString device = batch->deviceId;
    const bool isNew = !seen_.contains(device);
    seen_[device] = arrival;
    if (isNew) {
        order_ << device;
        if (!chosen_) {
            chosen_ = true;
            device_ = device;
        }
        const QStringList devices = devicesSeen();
        said(QStringLiteral("Devices on %1: %2 (reading %3)")
                 .arg(origin(), devices.join(QStringLiteral(", ")),
                      device_.isEmpty() ? QStringLiteral("the one without an id") : device_),
             MessageKind::Notice);
    }
    if (device != device_)
        return true;
    lastRefusal_.clear();
    if (batch->skipped > 0)
        refuse(QStringLiteral("%1 readings skipped: a value missing, not a number or beyond "
                              "1000 g")
                   .arg(batch->skipped));
    if (batch->withoutGravity && !gravityNoted_)
        said(QStringLiteral("%1 sends acceleration without gravity only").arg(origin()),
             MessageKind::Notice);
    gravityNoted_ = batch->withoutGravity;
    play(*batch, arrival);
    return true;
}

void BatchSource::play(const ReadingBatch& batch, double arrival) {
    if (batch.readings.empty())
        return;
    const double first = batch.readings.front().timestamp;
    const double last = batch.readings.back().timestamp;
    const bool dry = queue_.empty() && arrival - lastArrival_ > kGap;
    const bool wentBack = anchored_ && last < lastQueuedTime_ - kGap;
    const bool ahead = anchored_ && last + offset_ > arrival + kMaxAhead;
    // A batch whose newest reading is due already came later than the delay allows: the
    // sender's clock runs slower than ours, or the network held it.
    const bool late = anchored_ && last + offset_ < arrival;
    if (!anchored_ || dry || wentBack || ahead || late) {
        // The newest reading of the batch plays a batch's span and a margin from now.
        const double delay = std::clamp(last - first, 0.0, 1.0) + 0.1;
        offset_ = arrival - last + delay;
        if (!anchored_ || wentBack || ahead) {
            queue_.clear();
            lastQueuedTime_ = -std::numeric_limits<double>::infinity();
        }
        anchored_ = true;
    }
    lastArrival_ = arrival;
    for (const Acceleration& reading : batch.readings) {
        if (reading.timestamp <= lastQueuedTime_) {
            ++dropped_;
            continue;
        }
        lastQueuedTime_ = reading.timestamp;
        queue_.push_back({reading, reading.timestamp + offset_});
    }
    while (queue_.size() > kMaxQueued) {
        queue_.pop_front();
        ++dropped_;
    }
}

std::optional<Acceleration> BatchSource::read(double now) {
    const double local = clock_.nsecsElapsed() * 1e-9;
    while (!queue_.empty() && queue_.front().due <= local) {
        current_ = queue_.front();
        queue_.pop_front();
    }
    const bool fresh = current_ && local - current_->due <= kSeenWithin;
    if (fresh && silent_) {
        silent_ = false;
        said(QStringLiteral("Readings from %1 again").arg(origin()), MessageKind::Back);
    } else if (!fresh && !silent_ && chosen_ && current_) {
        silent_ = true;
        said(QStringLiteral("No readings from %1 for %2 s").arg(origin()).arg(kSeenWithin),
             MessageKind::Lost);
    }
    if (!fresh)
        return std::nullopt;
    Acceleration reading = current_->reading;
    reading.timestamp = now;
    return reading;
}

} // namespace sensors
