#include "features/Publisher.h"

#include "sensors/Accelerometer.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSysInfo>
#include <QUuid>
#include <algorithm>
#include <chrono>
#include <cmath>

using sensors::AccelerometerDriver;
using Kind = AccelerometerDriver::MessageKind;

std::unique_ptr<Publisher>
Publisher::create(const QString& url, sensors::Accelerometer& accelerometer, QString* error) {
    std::optional<sensors::MqttAddress> address = sensors::MqttAddress::parse(url, error);
    if (!address)
        return nullptr;
    double batch = kDefaultBatch;
    const QString batchText = address->options.queryItemValue(QStringLiteral("batch"));
    if (!batchText.isEmpty()) {
        bool ok = false;
        batch = batchText.toDouble(&ok);
        // Beyond 10 s a batch is no longer live; below 10 ms the broker sees a message per reading.
        if (!ok || !(batch >= 0.01 && batch <= 10.0)) {
            *error = QStringLiteral("Unusable publishing address '%1': batch= needs a number of "
                                    "seconds from 0.01 to 10")
                         .arg(sensors::maskSecrets(url));
            return nullptr;
        }
    }
    auto publisher = std::make_unique<Publisher>(std::move(*address), batch, accelerometer);
    if (!publisher->start(error))
        return nullptr;
    return publisher;
}

QString Publisher::machineDeviceId() {
    QByteArray machine;
    QFile file(QStringLiteral("/etc/machine-id"));
    if (file.open(QIODevice::ReadOnly))
        machine = file.readAll().trimmed();
    if (machine.isEmpty())
        machine = QSysInfo::machineUniqueId();
    // Keyed with the program's name, as systemd advises for ids derived from the machine id:
    // the id cannot be traced back to the machine's nor matched with another program's.
    const QByteArray hash =
        QCryptographicHash::hash("wobblestar:" + machine, QCryptographicHash::Sha256);
    return QStringLiteral("wobblestar-") + QString::fromLatin1(hash.toHex().left(16));
}

Publisher::Publisher(sensors::MqttAddress address, double batchSeconds,
                     sensors::Accelerometer& accelerometer, QObject* parent)
    : QObject(parent), accelerometer_(accelerometer), client_(std::move(address)) {
    batch_.deviceId = machineDeviceId();
    batch_.sessionId = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const double unixNow =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    epochOffset_ = unixNow - accelerometer_.now();
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(std::chrono::milliseconds(std::llround(batchSeconds * 1000.0)));
    connect(&timer_, &QTimer::timeout, this, &Publisher::flush);
    connect(&accelerometer_, &sensors::Accelerometer::delivered, this, &Publisher::add);

    const sensors::MqttAddress& where = client_.address();
    const QString broker = QStringLiteral("%1:%2").arg(where.host).arg(where.port);
    connect(&client_, &sensors::MqttClient::connected, this, [this, broker, where] {
        emit statusMessage(
            QStringLiteral("%1 to %2, topic %3")
                .arg(lost_ ? QStringLiteral("Publishing again") : QStringLiteral("Publishing"),
                     broker, where.topic),
            Kind::Notice);
        lost_ = false;
    });
    connect(&client_, &sensors::MqttClient::disconnected, this,
            [this, broker](const QString& reason) {
                if (lost_)
                    return;
                lost_ = true;
                emit statusMessage(QStringLiteral("Not publishing: lost the broker %1 (%2); "
                                                  "trying again")
                                       .arg(broker, reason),
                                   Kind::Notice);
            });
}

Publisher::~Publisher() {
    flush();
}

bool Publisher::start(QString* error) {
    if (!client_.start(error))
        return false;
    timer_.start();
    return true;
}

void Publisher::add(const sensors::Acceleration& reading) {
    sensors::Acceleration stamped = reading;
    stamped.timestamp += epochOffset_;
    batch_.readings.push_back(stamped);
}

void Publisher::flush() {
    if (batch_.readings.empty())
        return;
    if (client_.publish(client_.address().topic, sensors::encodeReadingBatch(batch_))) {
        ++batch_.messageId;
        batch_.readings.clear();
        return;
    }
    // Held while the broker is being reached, so that a start or a short loss costs nothing;
    // what is older than kHoldSeconds is no longer worth sending.
    const double newest = batch_.readings.back().timestamp;
    const auto stale = std::find_if(
        batch_.readings.begin(), batch_.readings.end(),
        [newest](const sensors::Acceleration& a) { return a.timestamp >= newest - kHoldSeconds; });
    dropped_ += stale - batch_.readings.begin();
    batch_.readings.erase(batch_.readings.begin(), stale);
}
