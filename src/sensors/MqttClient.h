#pragma once

#include <QObject>
#include <QString>
#include <QUrlQuery>
#include <atomic>
#include <optional>

struct mosquitto;
struct mosquitto_message;

namespace sensors {

// A broker address as the user writes it:
//   mqtt://[USER[:PASSWORD]@]HOST[:PORT]/TOPIC[?OPTIONS]   (port 1883)
//   mqtts://...                                            (TLS with the system's certificates,
//                                                           port 8883)
// The password may instead come from a file: ?password-file=PATH (its first line).
struct MqttAddress {
    bool tls = false;
    QString host;
    int port = 1883;
    QString topic;
    QString user;
    QString password;
    // The options other than password-file, e.g. device=ID or batch=0.2.
    QUrlQuery options;

    // Parses `url`. On a malformed address (or an unreadable password file) returns nothing and
    // sets `error` to one line, with any secret in it masked.
    static std::optional<MqttAddress> parse(const QString& url, QString* error);
    // The address for messages: the password as ***, no options.
    QString display() const;
};

// `text` with every secret written into an address masked as ***: a URL's password, a token=
// or password= value. For anything that may reach a terminal, the status bar or a file.
QString maskSecrets(const QString& text);

// One connection to an MQTT broker through libmosquitto, at QoS 0: readings are worth sending
// only while they are new.
//
// The library's own thread does the network work and reconnects after a loss, waiting 1 s, then
// doubling up to 30 s. Its news arrives as signals on the thread that made this object. Topics
// subscribed to are subscribed again at every connection (a broker forgets them with the
// session).
class MqttClient final : public QObject {
    Q_OBJECT
public:
    // Larger messages are dropped unread: no batch of readings is that large.
    static constexpr int kMaxMessageBytes = 1024 * 1024;

    explicit MqttClient(MqttAddress address, QObject* parent = nullptr);
    ~MqttClient() override;

    // Starts connecting; never waits for the broker. Fails only when the library refuses the
    // address or its options.
    bool start(QString* error);
    void subscribe(const QString& topic);
    // Sends at once when connected; while not, the message is dropped and false returned.
    bool publish(const QString& topic, const QByteArray& payload);
    bool isConnected() const { return connected_; }
    const MqttAddress& address() const { return address_; }
    // Messages dropped for their size.
    int oversizedMessages() const { return oversized_; }

signals:
    void connected();
    // The connection was refused or lost; the library tries again by itself.
    void disconnected(const QString& reason);
    void message(const QString& topic, const QByteArray& payload);
    // A message beyond kMaxMessageBytes arrived and was dropped.
    void tooLarge(qint64 bytes);

private:
    static void onConnect(mosquitto*, void* self, int rc);
    static void onDisconnect(mosquitto*, void* self, int rc);
    static void onMessage(mosquitto*, void* self, const mosquitto_message* message);

    MqttAddress address_;
    mosquitto* mosq_ = nullptr;
    QStringList topics_;
    std::atomic<bool> connected_{false};
    bool started_ = false;
    int oversized_ = 0;
};

} // namespace sensors
