#pragma once

#include "sensors/AccelerometerDriver.h"
#include "sensors/MqttClient.h"
#include "sensors/ReadingBatch.h"

#include <QObject>
#include <QTimer>
#include <memory>

namespace sensors {
class Accelerometer;
} // namespace sensors

// Sends the readings the accelerometer service delivers, from whatever source, to an MQTT topic
// in the batch schema phone sensor loggers publish (see sensors::ReadingBatch), so that what
// reads those phones reads Wobblestar too:
//   mqtt://[USER[:PASSWORD]@]HOST[:PORT]/TOPIC[?batch=SECONDS]   (batch: default 0.2 s)
// Times go out in UTC nanoseconds, values in m/s² in Android's sign, at QoS 0. The device id is
// the same at every run on this machine without giving away its machine id; the session id is
// new at every run. Readings are held while the broker is away, up to kHoldSeconds.
class Publisher final : public QObject {
    Q_OBJECT
public:
    static constexpr double kDefaultBatch = 0.2;
    // Readings are held this long while the broker cannot be reached, then dropped.
    static constexpr double kHoldSeconds = 10.0;

    // The publisher for `url`, started; null with `error` set when the address is unusable.
    static std::unique_ptr<Publisher> create(const QString& url,
                                             sensors::Accelerometer& accelerometer, QString* error);

    Publisher(sensors::MqttAddress address, double batchSeconds,
              sensors::Accelerometer& accelerometer, QObject* parent = nullptr);
    // Sends what is left of the last batch.
    ~Publisher() override;

    bool start(QString* error);
    QString deviceId() const { return batch_.deviceId; }
    QString sessionId() const { return batch_.sessionId; }
    qint64 messagesSent() const { return batch_.messageId; }
    qint64 readingsDropped() const { return dropped_; }

    // This machine's device id: a hash of its machine id with the program's name.
    static QString machineDeviceId();

signals:
    void statusMessage(const QString& message,
                       sensors::AccelerometerDriver::MessageKind kind =
                           sensors::AccelerometerDriver::MessageKind::Notice);

private:
    void add(const sensors::Acceleration& reading);
    void flush();

    sensors::Accelerometer& accelerometer_;
    sensors::MqttClient client_;
    QTimer timer_;
    sensors::ReadingBatch batch_;
    // Unix time in seconds minus the service's clock.
    double epochOffset_ = 0.0;
    qint64 dropped_ = 0;
    bool lost_ = false;
};
