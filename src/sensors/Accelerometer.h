#pragma once

#include "sensors/Acceleration.h"
#include "sensors/AccelerometerDriver.h"
#include "sensors/IntervalTimer.h"

#include <QElapsedTimer>
#include <QObject>
#include <memory>

namespace sensors {

class Accelerometer;

// Receives the readings of the accelerometer service.
class AccelerometerDelegate {
public:
    virtual ~AccelerometerDelegate() = default;
    // Called on the main thread about once per update interval with the newest reading.
    virtual void accelerometer(Accelerometer& accelerometer, const Acceleration& acceleration) = 0;
};

// The device's accelerometer: one shared instance that calls its delegate on the main thread
// about once per update interval, from the first setDelegate() on, with the newest reading of
// its driver. The driver is chosen once at start-up; without one, the simulated sensor is used.
//
//   auto& accelerometer = sensors::Accelerometer::sharedAccelerometer();
//   accelerometer.setUpdateInterval(1.0 / 120);
//   accelerometer.setDelegate(this);
class Accelerometer : public QObject {
    Q_OBJECT
public:
    static Accelerometer& sharedAccelerometer();

    explicit Accelerometer(QObject* parent = nullptr);
    ~Accelerometer() override;

    // Seconds between deliveries. Takes effect at once when delivering.
    void setUpdateInterval(double seconds);
    double updateInterval() const { return interval_; }

    // Starts delivery (when an interval is set). A null delegate stops it.
    void setDelegate(AccelerometerDelegate* delegate);
    AccelerometerDelegate* delegate() const { return delegate_; }

    // Replaces the source of readings. The driver must already be started.
    void setDriver(std::unique_ptr<AccelerometerDriver> driver);
    AccelerometerDriver* driver() const;

    // Samples delivered per second, measured over the last whole second; 0 before that.
    double deliveredRate() const { return deliveredRate_; }
    // Readings of the driver dropped because they cannot be an acceleration: an axis not a
    // number, infinite, or beyond kMaxReading.
    int droppedReadings() const { return dropped_; }
    // No accelerometer a driver can reach measures more; a larger value is a fault (a scale
    // or matrix gone wrong) that would otherwise be drawn, logged and written as inf or nan.
    static constexpr double kMaxReading = 1000.0;

    // Seconds since this service was created, on its monotonic clock.
    double now() const;

signals:
    // Forwarded from the driver: a message for the user.
    void
    statusMessage(const QString& message,
                  AccelerometerDriver::MessageKind kind = AccelerometerDriver::MessageKind::Notice);
    // Each reading handed to the delegate, after it: for those that consume the readings
    // beside it (a publisher).
    void delivered(const sensors::Acceleration& acceleration);
    // Sent about once a second with the measured delivery rate.
    void deliveredRateChanged(double samplesPerSecond);

private:
    void restartTimer();
    void deliver();
    void ensureDriver();

    std::unique_ptr<AccelerometerDriver> driver_;
    AccelerometerDelegate* delegate_ = nullptr;
    double interval_ = 0.0;
    IntervalTimer timer_;
    QElapsedTimer clock_;
    double rateWindowStart_ = 0.0;
    int rateWindowCount_ = 0;
    double deliveredRate_ = 0.0;
    int dropped_ = 0;
};

} // namespace sensors
