#pragma once

#include "sensors/BatchSource.h"
#include "sensors/Sources.h"

#include <QHash>
#include <QHostAddress>
#include <QTcpServer>

class QTcpSocket;

namespace sensors {

// A small HTTP listener for phones that push their readings ("HTTP push" of sensor loggers):
//   push:[ADDRESS:]PORT[?token=SECRET]
// It takes a POST of one batch (see ReadingBatch) at / or /push and answers 200 to a good
// batch, 400 to a bad one, 401 without the token (asked as ?token= or "Authorization: Bearer"),
// 404 and 405 to other paths and methods, 413 to a body beyond 1 MB. Without ADDRESS it binds
// this machine's address on the local network, not every interface: 0.0.0.0 (or ::) asks for
// all. Nothing it receives is echoed or acted on; only readings are taken.
class PushDriver final : public BatchSource {
    Q_OBJECT
public:
    static constexpr qint64 kMaxBodyBytes = 1024 * 1024;
    static constexpr qint64 kMaxHeadBytes = 16 * 1024;
    // Connections beyond this are closed unanswered; a phone needs one at a time.
    static constexpr int kMaxConnections = 8;
    // A request not complete after this long is dropped.
    static constexpr int kRequestTimeoutMs = 10000;

    static SourceKind sourceKind();

    PushDriver(QHostAddress address, quint16 port, QString token, QObject* parent = nullptr);
    ~PushDriver() override;

    QString description() const override;
    // Listens; fails with the system's reason when the address or port cannot be had.
    bool start(QString* error) override;
    // The port listened on (the one chosen by the system when 0 was asked).
    quint16 port() const { return server_.serverPort(); }
    // Where to point the phone, the token masked.
    QString pushUrl() const;

protected:
    QString origin() const override;

private:
    void serve(QTcpSocket* socket);
    void answer(QTcpSocket* socket, int status, const QByteArray& text);
    bool authorized(const QByteArray& target, const QList<QByteArray>& headerLines) const;

    QHostAddress address_;
    quint16 port_;
    QString token_;
    QTcpServer server_;
    QHash<QTcpSocket*, QByteArray> pending_; // requests not yet answered, as read so far
    int connections_ = 0;                    // open, answered or not
};

} // namespace sensors
