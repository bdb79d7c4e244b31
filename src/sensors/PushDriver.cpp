#include "sensors/PushDriver.h"

#include "sensors/MqttClient.h"

#include <QNetworkInterface>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>
#include <sys/socket.h>

namespace sensors {

namespace {

QByteArray reason(int status) {
    switch (status) {
    case 100:
        return "Continue";
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 411:
        return "Length Required";
    case 413:
        return "Content Too Large";
    default:
        return "Service Unavailable";
    }
}

// Compared in full whatever the first difference, so that the time taken tells nothing.
bool sameSecret(const QByteArray& a, const QByteArray& b) {
    unsigned char difference = a.size() == b.size() ? 0 : 1;
    for (qsizetype i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ (i < b.size() ? b[i] : 0));
    return difference == 0;
}

// The address a phone on the local network reaches: the first private IPv4 address of an
// interface that is up; loopback when there is none.
QHostAddress localNetworkAddress() {
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
        const auto flags = interface.flags();
        if (!(flags & QNetworkInterface::IsUp) || !(flags & QNetworkInterface::IsRunning) ||
            (flags & QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry& entry : interface.addressEntries())
            for (const char* privateRange : {"10.0.0.0/8", "172.16.0.0/12", "192.168.0.0/16"})
                if (entry.ip().isInSubnet(QHostAddress::parseSubnet(QLatin1String(privateRange))))
                    return entry.ip();
    }
    return QHostAddress(QHostAddress::LocalHost);
}

} // namespace

SourceKind PushDriver::sourceKind() {
    SourceKind kind;
    kind.kind = QStringLiteral("push");
    kind.usage = QStringLiteral("push:[ADDRESS:]PORT[?token=SECRET]");
    kind.create = [](const QString& argument, const SourceRequest&, const AxisMap&,
                     QString* error) -> std::unique_ptr<AccelerometerDriver> {
        const qsizetype question = argument.indexOf(QLatin1Char('?'));
        const QString where = argument.left(question);
        const QUrlQuery query(question < 0 ? QString() : argument.mid(question + 1));
        const qsizetype colon = where.lastIndexOf(QLatin1Char(':'));
        QString host = colon < 0 ? QString() : where.left(colon);
        if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
            host = host.mid(1, host.size() - 2);
        bool ok = false;
        const uint port = where.mid(colon + 1).toUInt(&ok);
        const QHostAddress address = host.isEmpty() ? localNetworkAddress() : QHostAddress(host);
        if (!ok || port > 65535 || address.isNull()) {
            *error = QStringLiteral("Unusable push address '%1': expected "
                                    "push:[ADDRESS:]PORT[?token=SECRET], e.g. push:8000")
                         .arg(maskSecrets(QStringLiteral("push:") + argument));
            return nullptr;
        }
        auto driver = std::make_unique<PushDriver>(
            address, quint16(port),
            query.queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded));
        if (!driver->start(error))
            return nullptr;
        return driver;
    };
    return kind;
}

PushDriver::PushDriver(QHostAddress address, quint16 port, QString token, QObject* parent)
    : BatchSource(QString(), parent), address_(std::move(address)), port_(port),
      token_(std::move(token)) {
    server_.setMaxPendingConnections(kMaxConnections);
    connect(&server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QObject::destroyed, this, [this, socket] {
                pending_.remove(socket);
                --connections_;
            });
            if (++connections_ > kMaxConnections) {
                socket->abort();
                socket->deleteLater();
                continue;
            }
            pending_.insert(socket, QByteArray());
            socket->setReadBufferSize(kMaxHeadBytes + kMaxBodyBytes);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
            QTimer::singleShot(kRequestTimeoutMs, socket, [socket] { socket->abort(); });
        }
    });
}

PushDriver::~PushDriver() = default;

QString PushDriver::description() const {
    return QStringLiteral("push: %1").arg(pushUrl());
}

QString PushDriver::pushUrl() const {
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(address_.toString());
    url.setPort(server_.isListening() ? port() : port_);
    url.setPath(QStringLiteral("/push"));
    return url.toString() + (token_.isEmpty() ? QString() : QStringLiteral("?token=***"));
}

QString PushDriver::origin() const {
    return QStringLiteral("the phones pushing to port %1").arg(port());
}

bool PushDriver::start(QString* error) {
    if (!server_.listen(address_, port_)) {
        *error = QStringLiteral("Cannot listen for pushed readings on %1 port %2: %3")
                     .arg(address_.toString())
                     .arg(port_)
                     .arg(server_.errorString());
        return false;
    }
    // Said once the service passes the driver's messages on, which is after start().
    QTimer::singleShot(0, this, [this] {
        emit statusMessage(
            QStringLiteral("Listening for pushed readings: point the phone's HTTP push at %1")
                .arg(pushUrl()),
            MessageKind::Notice);
    });
    return true;
}

void PushDriver::answer(QTcpSocket* socket, int status, const QByteArray& text) {
    const QByteArray body =
        "{\"status\": " + QByteArray::number(status) + ", \"message\": \"" + text + "\"}\n";
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason(status) + "\r\n";
    if (status == 405)
        head += "Allow: POST\r\n";
    if (status == 401)
        head += "WWW-Authenticate: Bearer\r\n";
    head += "Content-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size()) +
            "\r\nConnection: close\r\n\r\n";
    pending_.remove(socket);
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    socket->write(head + body);
    socket->flush();
    // Half-closed, as servers close: the client sees the answer end, and what it still sends
    // (the rest of a body refused) is read and dropped, because closing on unread bytes would
    // reset the connection under the answer. The request's deadline ends it at the latest.
    ::shutdown(int(socket->socketDescriptor()), SHUT_WR);
    connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
}

bool PushDriver::authorized(const QByteArray& target, const QList<QByteArray>& headerLines) const {
    if (token_.isEmpty())
        return true;
    const QByteArray token = token_.toUtf8();
    const QUrlQuery query(QUrl(QString::fromLatin1(target)));
    if (sameSecret(query.queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded).toUtf8(),
                   token))
        return true;
    for (const QByteArray& line : headerLines) {
        const qsizetype colon = line.indexOf(':');
        if (colon < 0 || line.left(colon).trimmed().toLower() != "authorization")
            continue;
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (value.toLower().startsWith("bearer ") && sameSecret(value.mid(7).trimmed(), token))
            return true;
    }
    return false;
}

void PushDriver::serve(QTcpSocket* socket) {
    if (!pending_.contains(socket))
        return;
    QByteArray& request = pending_[socket];
    request += socket->read(kMaxHeadBytes + kMaxBodyBytes + 1 - request.size());
    const qsizetype headEnd = request.indexOf("\r\n\r\n");
    if (headEnd < 0) {
        if (request.size() > kMaxHeadBytes)
            answer(socket, 400, "request head too long");
        return;
    }
    const QList<QByteArray> lines = request.left(headEnd).split('\n');
    const QList<QByteArray> words = lines.first().trimmed().split(' ');
    if (words.size() != 3 || !words[2].startsWith("HTTP/1."))
        return answer(socket, 400, "not an HTTP request");
    const QByteArray& method = words[0];
    const QByteArray& target = words[1];
    const QString path = QUrl(QString::fromLatin1(target)).path();
    if (path != u"/" && path != u"/push")
        return answer(socket, 404, "readings are pushed to /push");
    if (method != "POST")
        return answer(socket, 405, "readings are pushed with POST");
    const QList<QByteArray> headers = lines.mid(1);
    if (!authorized(target, headers))
        return answer(socket, 401, "a token is needed");

    qint64 length = -1;
    bool expectContinue = false;
    for (const QByteArray& line : headers) {
        const qsizetype colon = line.indexOf(':');
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed().toLower();
        if (name == "content-length") {
            bool ok = false;
            length = value.toLongLong(&ok);
            if (!ok || length < 0)
                return answer(socket, 400, "unreadable Content-Length");
        } else if (name == "transfer-encoding" && value != "identity") {
            return answer(socket, 411, "a Content-Length is needed");
        } else if (name == "expect" && value == "100-continue") {
            expectContinue = true;
        }
    }
    if (length < 0)
        return answer(socket, 411, "a Content-Length is needed");
    if (length > kMaxBodyBytes)
        return answer(socket, 413, "a batch is at most 1 MB");
    const qsizetype bodyStart = headEnd + 4;
    if (request.size() - bodyStart < length) {
        if (expectContinue && request.size() == bodyStart &&
            !socket->property("continued").toBool()) {
            socket->setProperty("continued", true);
            socket->write("HTTP/1.1 100 Continue\r\n\r\n");
        }
        return;
    }
    QString why;
    if (!receive(request.mid(bodyStart, length), &why))
        return answer(socket, 400, "not a batch of readings");
    answer(socket, 200, "ok");
}

} // namespace sensors
