#pragma once

#include "sensors/Acceleration.h"
#include "sensors/AxisMap.h"

#include <QObject>
#include <QString>
#include <functional>
#include <optional>

namespace sensors {

// One source of readings behind the accelerometer service: the simulated sensor, a Linux IIO
// or input device, a recording, a phone on the network. One file per driver.
//
// The service calls read() once per update interval on the main thread and hands what it
// returns to its delegate. A driver never blocks the caller: it either computes the reading,
// reads a small sysfs file, or returns the newest reading that arrived asynchronously.
class AccelerometerDriver : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // What a status message says about the source, which decides how long the user sees it.
    enum class MessageKind {
        Notice, // a passing event (a replay finished, a sensor chosen): shown for a few seconds
        Lost,   // the source gives no readings (device gone, phone silent): shown until Back
        Back,   // the source gives readings again: ends a Lost message
    };
    Q_ENUM(MessageKind)
    ~AccelerometerDriver() override = default;

    // Short, human-readable description of the source for the status bar and the log,
    // e.g. "simulated" or "iio: lis3dh (iio:device0)".
    virtual QString description() const = 0;

    // Prepares the source. On failure returns false and sets `error` to one clear sentence.
    virtual bool start(QString* error) = 0;

    // The interval at which read() will be called, in seconds. Drivers of hardware with a
    // settable rate use it to keep the sensor at least that fast.
    virtual void setUpdateInterval(double /*seconds*/) {}

    // The map from the sensor's axes to the device's, for sources whose axes can be turned
    // (built-in sensors, controllers); nothing for the others (a replay, the simulator, a
    // phone, which report in the device's axes already).
    virtual std::optional<AxisMap> axisMap() const { return std::nullopt; }
    // Replaces that map from the next reading on. Ignored where axisMap() gives nothing.
    virtual void setAxisMap(const AxisMap& /*map*/) {}
    // The setting that keeps this source's map over restarts, e.g. "axes/iio"; empty for
    // sources without one.
    virtual QString axisSettingKey() const { return QString(); }

    // The newest reading at service time `now` (seconds since the service started), or
    // nothing when the source has none yet (not connected, device gone).
    virtual std::optional<Acceleration> read(double now) = 0;

    // Capturing every sample of a source that samples faster than the service delivers (a chip
    // read through its buffer at its own rate): each reading reaches the sink in order, in g in
    // the device's axes, stamped on the service's clock, while read() goes on giving one reading
    // per interval, the mean of the samples that came during it.
    using CaptureSink = std::function<void(const Acceleration&)>;
    // The fastest rate in Hz the source can capture at; 0 when it cannot capture faster than
    // it is read (then whyNoCapture() says why).
    virtual double highestCaptureRate() const { return 0.0; }
    virtual QString whyNoCapture() const {
        return QStringLiteral("it gives readings only as fast as they are read");
    }
    // Starts capturing at the slowest rate the source offers at or above `wanted` Hz (0: its
    // fastest), at service time `now` (no sample is stamped before it), and sets `rate` to the
    // rate it runs at. False and `why` when it cannot.
    virtual bool startCapture(double /*wanted*/, double /*now*/, CaptureSink /*sink*/,
                              double* /*rate*/, QString* why) {
        *why = whyNoCapture();
        return false;
    }
    // Ends a capture and puts the source back as it was; samples lost while capturing (the
    // program fell behind the source) are said in a status message.
    virtual void stopCapture() {}

signals:
    // A change worth telling the user: a device vanished or came back, a replay finished.
    void statusMessage(const QString& message, MessageKind kind = MessageKind::Notice);
};

} // namespace sensors
