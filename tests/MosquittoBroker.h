#pragma once

// A real Mosquitto broker for the tests: started on free loopback ports (MQTT over TCP, and
// MQTT over websockets, as phones publish), stopped and started again on the same ports, killed
// with the test.

#include <QByteArray>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

class MosquittoBroker {
public:
    MosquittoBroker() {
        // Both held open at once, so that the system hands out two different ports.
        QTcpServer first, second;
        first.listen(QHostAddress::LocalHost, 0);
        second.listen(QHostAddress::LocalHost, 0);
        port = first.serverPort();
        websocketPort = second.serverPort();
    }
    ~MosquittoBroker() { stop(); }

    static QString program() {
        const QString path = QStandardPaths::findExecutable(
            QStringLiteral("mosquitto"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
        return path.isEmpty() ? QStandardPaths::findExecutable(QStringLiteral("mosquitto")) : path;
    }

    bool start() {
        QFile config(dir_.filePath(QStringLiteral("mosquitto.conf")));
        if (!config.open(QIODevice::WriteOnly))
            return false;
        config.write("per_listener_settings false\nallow_anonymous true\n"
                     "persistence false\nlog_type error\n"
                     "listener " +
                     QByteArray::number(port) +
                     " 127.0.0.1\n"
                     "listener " +
                     QByteArray::number(websocketPort) +
                     " 127.0.0.1\n"
                     "protocol websockets\n");
        config.close();
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(program(), {QStringLiteral("-c"), config.fileName()});
        if (!process_.waitForStarted(5000))
            return false;
        return QTest::qWaitFor(
            [this] {
                QTcpSocket probe;
                probe.connectToHost(QStringLiteral("127.0.0.1"), port);
                return probe.waitForConnected(100);
            },
            5000);
    }

    void stop() {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.terminate();
        if (!process_.waitForFinished(3000))
            process_.kill();
        process_.waitForFinished(1000);
    }

    qint64 pid() const { return process_.processId(); }
    QString url(const QString& topic) const {
        return QStringLiteral("mqtt://127.0.0.1:%1/%2").arg(port).arg(topic);
    }

    // Publishes with the broker's own command-line client, as a script on a phone's side would.
    bool publish(const QString& topic, const QByteArray& message) const {
        QTemporaryFile file;
        if (!file.open())
            return false;
        file.write(message);
        file.flush();
        QProcess publisher;
        publisher.start(QStringLiteral("mosquitto_pub"),
                        {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                         QString::number(port), QStringLiteral("-t"), topic, QStringLiteral("-f"),
                         file.fileName()});
        return publisher.waitForFinished(5000) && publisher.exitCode() == 0;
    }

    quint16 port = 0;
    quint16 websocketPort = 0;

private:
    QTemporaryDir dir_;
    QProcess process_;
};
