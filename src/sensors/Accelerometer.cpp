#include "sensors/Accelerometer.h"

#include "sensors/SimulatedDriver.h"

#include <cmath>

namespace sensors {

Accelerometer& Accelerometer::sharedAccelerometer() {
    static Accelerometer* shared = new Accelerometer; // lives as long as the process
    return *shared;
}

Accelerometer::Accelerometer(QObject* parent) : QObject(parent) {
    clock_.start();
    connect(&timer_, &IntervalTimer::timeout, this, &Accelerometer::deliver);
}

Accelerometer::~Accelerometer() = default;

double Accelerometer::now() const {
    return static_cast<double>(clock_.nsecsElapsed()) * 1e-9;
}

void Accelerometer::setUpdateInterval(double seconds) {
    interval_ = seconds;
    if (driver_)
        driver_->setUpdateInterval(seconds);
    restartTimer();
}

void Accelerometer::setDelegate(AccelerometerDelegate* delegate) {
    if (delegate == delegate_)
        return; // registering the same delegate again changes nothing
    delegate_ = delegate;
    restartTimer();
}

void Accelerometer::setDriver(std::unique_ptr<AccelerometerDriver> driver) {
    if (driver_)
        disconnect(driver_.get(), nullptr, this, nullptr);
    driver_ = std::move(driver);
    if (driver_) {
        connect(driver_.get(), &AccelerometerDriver::statusMessage, this,
                &Accelerometer::statusMessage);
        if (interval_ > 0.0)
            driver_->setUpdateInterval(interval_);
    }
}

AccelerometerDriver* Accelerometer::driver() const {
    return driver_.get();
}

void Accelerometer::ensureDriver() {
    if (driver_)
        return;
    auto simulated = std::make_unique<SimulatedDriver>();
    QString error;
    if (!simulated->start(&error)) {
        qWarning("wobblestar: %s", qPrintable(error));
        return;
    }
    setDriver(std::move(simulated));
}

void Accelerometer::restartTimer() {
    if (delegate_ && interval_ > 0.0) {
        ensureDriver();
        if (!timer_.isActive()) {
            rateWindowStart_ = now();
            rateWindowCount_ = 0;
        }
        timer_.start(interval_);
    } else {
        timer_.stop();
    }
}

void Accelerometer::deliver() {
    const double time = now();
    if (time - rateWindowStart_ >= 1.0) {
        deliveredRate_ = rateWindowCount_ / (time - rateWindowStart_);
        rateWindowStart_ = time;
        rateWindowCount_ = 0;
        emit deliveredRateChanged(deliveredRate_);
    }
    if (!delegate_ || !driver_)
        return;
    std::optional<Acceleration> reading = driver_->read(time);
    if (!reading)
        return;
    // Written this way round, NaN fails too.
    const bool possible = std::abs(reading->x) <= kMaxReading &&
                          std::abs(reading->y) <= kMaxReading &&
                          std::abs(reading->z) <= kMaxReading;
    if (!possible) {
        if (dropped_++ == 0)
            qWarning("wobblestar: dropped a reading of %s beyond %g g: (%g, %g, %g)",
                     qPrintable(driver_->description()), kMaxReading, reading->x, reading->y,
                     reading->z);
        return;
    }
    reading->timestamp = time;
    ++rateWindowCount_;
    delegate_->accelerometer(*this, *reading);
    emit delivered(*reading);
}

} // namespace sensors
