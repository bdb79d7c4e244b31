#include "sensors/MqttDriver.h"

#include <QEventLoop>
#include <QTimer>

namespace sensors {

SourceKind MqttDriver::sourceKind(bool tls) {
    SourceKind kind;
    kind.kind = tls ? QStringLiteral("mqtts") : QStringLiteral("mqtt");
    kind.usage = kind.kind + QStringLiteral("://[USER[:PASSWORD]@]HOST[:PORT]/TOPIC[?device=ID]");
    kind.create = [scheme = kind.kind](const QString& argument, const SourceRequest&,
                                       const AxisMap&,
                                       QString* error) -> std::unique_ptr<AccelerometerDriver> {
        std::optional<MqttAddress> address = MqttAddress::parse(scheme + u':' + argument, error);
        if (!address)
            return nullptr;
        auto driver = std::make_unique<MqttDriver>(std::move(*address));
        if (!driver->start(error))
            return nullptr;
        return driver;
    };
    return kind;
}

MqttDriver::MqttDriver(MqttAddress address, QObject* parent)
    : BatchSource(address.options.queryItemValue(QStringLiteral("device"), QUrl::FullyDecoded),
                  parent),
      address_(std::move(address)) {}

QString MqttDriver::description() const {
    return QStringLiteral("mqtt: %1").arg(address_.display());
}

QString MqttDriver::origin() const {
    return QStringLiteral("the topic %1 at %2:%3")
        .arg(address_.topic, address_.host)
        .arg(address_.port);
}

bool MqttDriver::start(QString* error) {
    client_ = std::make_unique<MqttClient>(address_);
    connect(client_.get(), &MqttClient::connected, this, [this] {
        if (!lostReason_.isEmpty() || everConnected_)
            emit statusMessage(
                QStringLiteral("The broker %1:%2 is back").arg(address_.host).arg(address_.port),
                MessageKind::Back);
        everConnected_ = true;
        lostReason_.clear();
    });
    connect(client_.get(), &MqttClient::disconnected, this, [this](const QString& reason) {
        // Said once per loss; the library's retries stay quiet.
        if (!lostReason_.isEmpty())
            return;
        lostReason_ = reason.isEmpty() ? QStringLiteral("unreachable") : reason;
        emit statusMessage(QStringLiteral("Lost the broker %1:%2 (%3); trying again")
                               .arg(address_.host)
                               .arg(address_.port)
                               .arg(lostReason_),
                           MessageKind::Lost);
    });
    connect(client_.get(), &MqttClient::message, this,
            [this](const QString&, const QByteArray& payload) {
                QString why;
                receive(payload, &why);
            });
    connect(client_.get(), &MqttClient::tooLarge, this, [this](qint64 bytes) {
        refuse(QStringLiteral("a message of %1 bytes, beyond %2 MB, dropped")
                   .arg(bytes)
                   .arg(MqttClient::kMaxMessageBytes / (1024 * 1024)));
    });
    client_->subscribe(address_.topic);
    return client_->start(error);
}

QStringList listBrokerDevices(const QString& url, double seconds) {
    QString error;
    std::optional<MqttAddress> address = MqttAddress::parse(url, &error);
    if (!address)
        return {error};
    MqttDriver driver(*address);
    if (!driver.start(&error))
        return {error};
    QString lost;
    QObject::connect(&driver, &AccelerometerDriver::statusMessage,
                     [&lost](const QString& message, AccelerometerDriver::MessageKind kind) {
                         if (kind == AccelerometerDriver::MessageKind::Lost)
                             lost = message;
                     });
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
    const QStringList devices = driver.devicesSeen();
    if (devices.isEmpty() && !lost.isEmpty())
        return {lost};
    if (devices.isEmpty())
        return {QStringLiteral("No device published to %1 within %2 s")
                    .arg(address->display())
                    .arg(seconds)};
    QStringList lines;
    for (const QString& device : devices)
        lines << QStringLiteral("mqtt\t%1\t%2?device=%1").arg(device, address->display());
    return lines;
}

} // namespace sensors
