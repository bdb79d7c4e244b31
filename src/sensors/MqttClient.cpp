#include "sensors/MqttClient.h"

#include <QFile>
#include <QMetaObject>
#include <QRegularExpression>
#include <QTimer>
#include <QUrl>
#include <mosquitto.h>
#include <mutex>

namespace sensors {

namespace {

// Keep-alive in seconds: a broker that went away unannounced is noticed within about 1.5 times
// this.
constexpr int kKeepAlive = 10;
constexpr int kFirstConnectMs = 3000;

void initLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

QString readPasswordFile(const QString& path, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error =
            QStringLiteral("Cannot read the password file %1: %2").arg(path, file.errorString());
        return QString();
    }
    // The first line; an editor's final newline is not part of the password.
    QByteArray line = file.readLine(4096);
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return QString::fromUtf8(line);
}

} // namespace

QString maskSecrets(const QString& text) {
    static const QRegularExpression userinfo(QStringLiteral("(://[^/:@\\s]*):[^@/\\s]*@"));
    static const QRegularExpression secrets(QStringLiteral("([?&](?:token|password)=)[^&#\\s]*"),
                                            QRegularExpression::CaseInsensitiveOption);
    QString masked = text;
    masked.replace(userinfo, QStringLiteral("\\1:***@"));
    masked.replace(secrets, QStringLiteral("\\1***"));
    return masked;
}

std::optional<MqttAddress> MqttAddress::parse(const QString& url, QString* error) {
    // A topic's multi-level wildcard is not a fragment: "mqtt://host/phones/#" means phones/#.
    const QUrl parsed(QString(url).replace(QLatin1Char('#'), QStringLiteral("%23")),
                      QUrl::StrictMode);
    auto refuse = [&](const QString& why) -> std::optional<MqttAddress> {
        *error = QStringLiteral("Unusable broker address '%1': %2 (expected "
                                "mqtt://[USER[:PASSWORD]@]HOST[:PORT]/TOPIC)")
                     .arg(maskSecrets(url), why);
        return std::nullopt;
    };
    MqttAddress address;
    const QString scheme = parsed.scheme();
    if (!parsed.isValid() || (scheme != u"mqtt" && scheme != u"mqtts"))
        return refuse(QStringLiteral("not an mqtt:// or mqtts:// address"));
    address.tls = scheme == u"mqtts";
    address.host = parsed.host();
    if (address.host.isEmpty())
        return refuse(QStringLiteral("no host"));
    address.port = parsed.port(address.tls ? 8883 : 1883);
    if (address.port <= 0)
        return refuse(QStringLiteral("port 0"));
    address.topic = parsed.path(QUrl::FullyDecoded).mid(1);
    if (address.topic.isEmpty())
        return refuse(QStringLiteral("no topic"));
    address.user = parsed.userName(QUrl::FullyDecoded);
    address.password = parsed.password(QUrl::FullyDecoded);
    address.options = QUrlQuery(parsed);
    const QString passwordFile =
        address.options.queryItemValue(QStringLiteral("password-file"), QUrl::FullyDecoded);
    if (!passwordFile.isEmpty()) {
        address.options.removeAllQueryItems(QStringLiteral("password-file"));
        QString why;
        address.password = readPasswordFile(passwordFile, &why);
        if (!why.isEmpty()) {
            *error = why;
            return std::nullopt;
        }
    }
    return address;
}

QString MqttAddress::display() const {
    QString who = user;
    if (!password.isEmpty())
        who += QStringLiteral(":***");
    if (!who.isEmpty())
        who += QLatin1Char('@');
    return QStringLiteral("%1://%2%3:%4/%5")
        .arg(tls ? QStringLiteral("mqtts") : QStringLiteral("mqtt"), who, host)
        .arg(port)
        .arg(topic);
}

MqttClient::MqttClient(MqttAddress address, QObject* parent)
    : QObject(parent), address_(std::move(address)) {}

MqttClient::~MqttClient() {
    if (!mosq_)
        return;
    if (started_) {
        // Connected, the loop sends what was published before it ends with the disconnection;
        // while the broker is away it waits to reconnect, and is stopped.
        const bool orderly = connected_ && mosquitto_disconnect(mosq_) == MOSQ_ERR_SUCCESS;
        mosquitto_loop_stop(mosq_, !orderly);
    }
    mosquitto_destroy(mosq_);
}

bool MqttClient::start(QString* error) {
    initLibrary();
    mosq_ = mosquitto_new(nullptr, true, this);
    auto fail = [&](int rc, const char* what) {
        *error = QStringLiteral("Cannot %1 the broker %2: %3")
                     .arg(QLatin1String(what), address_.display(),
                          QString::fromLocal8Bit(mosquitto_strerror(rc)));
        return false;
    };
    if (!mosq_)
        return fail(MOSQ_ERR_NOMEM, "reach");
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(mosq_, &MqttClient::onConnect);
    mosquitto_disconnect_callback_set(mosq_, &MqttClient::onDisconnect);
    mosquitto_message_callback_set(mosq_, &MqttClient::onMessage);
    mosquitto_reconnect_delay_set(mosq_, 1, 30, true);
    if (!address_.user.isEmpty() || !address_.password.isEmpty()) {
        const int rc = mosquitto_username_pw_set(
            mosq_, address_.user.toUtf8().constData(),
            address_.password.isEmpty() ? nullptr : address_.password.toUtf8().constData());
        if (rc != MOSQ_ERR_SUCCESS)
            return fail(rc, "log in to");
    }
    if (address_.tls) {
        int rc = mosquitto_int_option(mosq_, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        if (rc == MOSQ_ERR_SUCCESS)
            rc = mosquitto_tls_set(mosq_, nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS)
            return fail(rc, "use TLS with");
    }
    const int rc = mosquitto_connect_async(mosq_, address_.host.toUtf8().constData(), address_.port,
                                           kKeepAlive);
    // A broker not there yet is tried again by the loop; only an address that cannot work fails.
    if (rc == MOSQ_ERR_INVAL || rc == MOSQ_ERR_EAI)
        return fail(rc, "reach");
    if (rc != MOSQ_ERR_SUCCESS) {
        // Said once those who listen are connected, which is after start().
        const QString reason = QString::fromLocal8Bit(mosquitto_strerror(rc));
        QTimer::singleShot(0, this, [this, reason] { emit disconnected(reason); });
    }
    const int loop = mosquitto_loop_start(mosq_);
    if (loop != MOSQ_ERR_SUCCESS)
        return fail(loop, "reach");
    started_ = true;
    // The library says nothing of a first connection that never comes (a host that drops the
    // packets, a broker not started yet): after a while, that is a loss like any other.
    QTimer::singleShot(kFirstConnectMs, this, [this, failed = rc != MOSQ_ERR_SUCCESS] {
        if (!connected_ && !failed)
            emit disconnected(QStringLiteral("no answer within %1 s").arg(kFirstConnectMs / 1000));
    });
    return true;
}

void MqttClient::subscribe(const QString& topic) {
    topics_ << topic;
    if (connected_)
        mosquitto_subscribe(mosq_, nullptr, topic.toUtf8().constData(), 0);
}

bool MqttClient::publish(const QString& topic, const QByteArray& payload) {
    if (!connected_)
        return false;
    return mosquitto_publish(mosq_, nullptr, topic.toUtf8().constData(), int(payload.size()),
                             payload.constData(), 0, false) == MOSQ_ERR_SUCCESS;
}

// The three callbacks run on the library's thread: they hand their news to this object's.

void MqttClient::onConnect(mosquitto*, void* self, int rc) {
    auto* client = static_cast<MqttClient*>(self);
    QMetaObject::invokeMethod(
        client,
        [client, rc] {
            if (rc != 0) {
                emit client->disconnected(QString::fromLocal8Bit(mosquitto_connack_string(rc)));
                return;
            }
            client->connected_ = true;
            for (const QString& topic : client->topics_)
                mosquitto_subscribe(client->mosq_, nullptr, topic.toUtf8().constData(), 0);
            emit client->connected();
        },
        Qt::QueuedConnection);
}

void MqttClient::onDisconnect(mosquitto*, void* self, int rc) {
    auto* client = static_cast<MqttClient*>(self);
    client->connected_ = false;
    QMetaObject::invokeMethod(
        client,
        [client, rc] {
            emit client->disconnected(rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_KEEPALIVE
                                          ? QStringLiteral("connection lost")
                                          : QString::fromLocal8Bit(mosquitto_strerror(rc)));
        },
        Qt::QueuedConnection);
}

void MqttClient::onMessage(mosquitto*, void* self, const mosquitto_message* message) {
    auto* client = static_cast<MqttClient*>(self);
    if (message->payloadlen > kMaxMessageBytes || message->payloadlen < 0) {
        const qint64 bytes = message->payloadlen;
        QMetaObject::invokeMethod(
            client,
            [client, bytes] {
                ++client->oversized_;
                emit client->tooLarge(bytes);
            },
            Qt::QueuedConnection);
        return;
    }
    QString topic = QString::fromUtf8(message->topic);
    QByteArray payload(static_cast<const char*>(message->payload), message->payloadlen);
    QMetaObject::invokeMethod(
        client,
        [client, topic = std::move(topic), payload = std::move(payload)] {
            emit client->message(topic, payload);
        },
        Qt::QueuedConnection);
}

} // namespace sensors
