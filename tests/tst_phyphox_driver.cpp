#include "sensors/PhyphoxDriver.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUrlQuery>
#include <array>
#include <cmath>
#include <memory>

using platform::kStandardGravity;
using platform::parsePhyphoxAnswer;
using platform::PhyphoxDriver;

namespace {

// A phone running phyphox's acceleration experiment with remote access on: answers /get and
// /control?cmd=start as the app documents them, one request per connection.
class FakePhone : public QObject {
public:
    struct Row {
        double t, x, y, z; // experiment seconds, m/s² with Android's sign
    };

    bool measuring = true;
    QString session = QStringLiteral("a1b2c3");
    QByteArray malformedBody; // answered to /get instead of the data when not empty
    std::vector<Row> rows;
    QStringList requests; // as sent, percent-encoded
    int startCommands = 0;

    bool listen(quint16 port = 0) {
        server_ = std::make_unique<QTcpServer>();
        connect(server_.get(), &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_->nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
            }
        });
        return server_->listen(QHostAddress::LocalHost, port);
    }
    quint16 port() const { return server_ ? server_->serverPort() : 0; }
    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port())); }

    // The phone leaves the network: nothing listens, open connections drop.
    void disappear() {
        server_.reset();
        for (QTcpSocket* socket : findChildren<QTcpSocket*>())
            socket->abort();
    }

private:
    void serve(QTcpSocket* socket) {
        QByteArray& request = pending_[socket];
        request += socket->readAll();
        if (!request.contains("\r\n\r\n"))
            return;
        const QList<QByteArray> words = request.left(request.indexOf("\r\n")).split(' ');
        pending_.remove(socket);
        const QUrl target(QStringLiteral("http://phone") + QString::fromLatin1(words.value(1)));
        requests << QString::fromLatin1(words.value(1));
        QByteArray body;
        const QUrlQuery query(target);
        if (target.path() == QLatin1String("/control") &&
            query.queryItemValue(QStringLiteral("cmd")) == QLatin1String("start")) {
            ++startCommands;
            measuring = true;
            body = R"({"result": true})";
        } else if (target.path() == QLatin1String("/get")) {
            body = malformedBody.isEmpty() ? get(query) : malformedBody;
        } else {
            socket->write(
                "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            socket->disconnectFromHost();
            return;
        }
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                      QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        socket->disconnectFromHost();
    }

    // "accX" alone: the newest value; "accX=T|acc_time": values whose time is after T;
    // "acc_time=T": times after T.
    QByteArray get(const QUrlQuery& query) const {
        QJsonObject buffers;
        const std::array<const char*, 4> names = {"acc_time", "accX", "accY", "accZ"};
        for (std::size_t column = 0; column < names.size(); ++column) {
            const QString name = QLatin1String(names[column]);
            if (!query.hasQueryItem(name))
                continue;
            const QString value = query.queryItemValue(name, QUrl::FullyDecoded);
            QJsonArray values;
            const double after =
                value.isEmpty() ? 0.0 : value.section(QLatin1Char('|'), 0, 0).toDouble();
            for (std::size_t i = 0; i < rows.size(); ++i) {
                if (value.isEmpty() && i + 1 != rows.size())
                    continue;
                if (!value.isEmpty() && rows[i].t <= after)
                    continue;
                const Row& row = rows[i];
                values.append(std::array<double, 4>{row.t, row.x, row.y, row.z}[column]);
            }
            buffers.insert(name,
                           QJsonObject{{QStringLiteral("size"), 0},
                                       {QStringLiteral("updateMode"), QStringLiteral("partial")},
                                       {QStringLiteral("buffer"), values}});
        }
        const QJsonObject status{{QStringLiteral("session"), session},
                                 {QStringLiteral("measuring"), measuring},
                                 {QStringLiteral("timedRun"), false},
                                 {QStringLiteral("countDown"), 0}};
        return QJsonDocument(QJsonObject{{QStringLiteral("buffer"), buffers},
                                         {QStringLiteral("status"), status}})
            .toJson(QJsonDocument::Compact);
    }

    std::unique_ptr<QTcpServer> server_;
    QHash<QTcpSocket*, QByteArray> pending_;
};

int messagesContaining(const QSignalSpy& spy, const QString& part) {
    int count = 0;
    for (const QList<QVariant>& arguments : spy)
        count += arguments.first().toString().contains(part);
    return count;
}

} // namespace

class PhyphoxDriverTest : public QObject {
    Q_OBJECT
private slots:
    void parsesAnswer();
    void refusesMalformedAnswer_data();
    void refusesMalformedAnswer();
    void followsRunningMeasurement();
    void startsPausedPhone();
    void survivesPhoneGoingAway();
    void saysWhatWasWrongWithAnswer();
    void refusesUnusableAddress();

private:
    std::unique_ptr<PhyphoxDriver> startedDriver(const FakePhone& phone, QSignalSpy** spy);
};

void PhyphoxDriverTest::parsesAnswer() {
    // Buffers caught mid-append differ in length; a NaN from the phone arrives as null.
    const QByteArray body = R"({"buffer": {
        "acc_time": {"size": 0, "updateMode": "partial", "buffer": [1.0, 1.01, 1.02, 1.03]},
        "accX": {"size": 0, "updateMode": "partial", "buffer": [0, null, 1.5, 2]},
        "accY": {"size": 0, "updateMode": "partial", "buffer": [0, 0, -2.5]},
        "accZ": {"size": 0, "updateMode": "partial", "buffer": [9.80665, 9.8, 0, 0, 7]}},
        "status": {"session": "7f3a", "measuring": true, "timedRun": false, "countDown": 0}})";
    QString error;
    const auto answer = parsePhyphoxAnswer(body, &error);
    QVERIFY2(answer, qPrintable(error));
    QVERIFY(answer->measuring);
    QCOMPARE(answer->session, QStringLiteral("7f3a"));
    QCOMPARE(answer->readings.size(), std::size_t(2));
    QCOMPARE(answer->readings[0].z, -1.0); // face up: +9.81 m/s² on Android is -1 g here
    QCOMPARE(answer->readings[1].timestamp, 1.02);
    QCOMPARE(answer->readings[1].x, -1.5 / kStandardGravity);
    QCOMPARE(answer->readings[1].y, 2.5 / kStandardGravity);
}

void PhyphoxDriverTest::refusesMalformedAnswer_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("why");

    const QByteArray status = R"("status": {"session": "s", "measuring": true})";
    const QByteArray buffers = R"("buffer": {"acc_time": {"buffer": [1]}, "accX": {"buffer": [1]},
                                             "accY": {"buffer": [1]}, "accZ": {"buffer": [1]}})";
    QTest::newRow("not JSON") << QByteArray("{\"buffer\": {") << "the answer is not JSON";
    QTest::newRow("HTML page") << QByteArray("<html>phyphox</html>") << "not JSON";
    QTest::newRow("array") << QByteArray("[1, 2]") << "not a JSON object";
    QTest::newRow("no status") << "{" + buffers + "}"
                               << "no \"status\" object";
    QTest::newRow("measuring as text") << "{" + buffers + R"(, "status": {"measuring": "yes"}})"
                                       << "\"measuring\"";
    QTest::newRow("no buffers") << "{" + status + "}"
                                << "no \"buffer\" object";
    QTest::newRow("other experiment")
        << "{" + status + R"(, "buffer": {"illum": {"buffer": [300]}}})"
        << "no buffer \"acc_time\"";
    QTest::newRow("buffer not an array")
        << "{" + status +
               R"(, "buffer": {"acc_time": {"buffer": 5}, "accX": {"buffer": []},
                               "accY": {"buffer": []}, "accZ": {"buffer": []}}})"
        << "\"acc_time\" has no \"buffer\" array";
    QTest::newRow("text in a buffer")
        << "{" + status +
               R"(, "buffer": {"acc_time": {"buffer": [1]}, "accX": {"buffer": ["1"]},
                               "accY": {"buffer": [1]}, "accZ": {"buffer": [1]}}})"
        << "\"accX\" holds something other than numbers";
}

void PhyphoxDriverTest::refusesMalformedAnswer() {
    QFETCH(QByteArray, body);
    QFETCH(QString, why);
    QString error;
    QVERIFY(!parsePhyphoxAnswer(body, &error));
    QVERIFY2(error.contains(why), qPrintable(error));
}

std::unique_ptr<PhyphoxDriver> PhyphoxDriverTest::startedDriver(const FakePhone& phone,
                                                                QSignalSpy** spy) {
    auto driver = std::make_unique<PhyphoxDriver>(phone.url());
    driver->setRetryDelays(0.01, 0.05);
    *spy = new QSignalSpy(driver.get(), &PhyphoxDriver::statusMessage);
    QString error;
    if (!driver->start(&error))
        qWarning("%s", qPrintable(error));
    return driver;
}

void PhyphoxDriverTest::followsRunningMeasurement() {
    FakePhone phone;
    QVERIFY(phone.listen());
    phone.rows = {{0.01, 0, 0, 9.80665}, {0.02, 0, 9.80665, 0}};
    QSignalSpy* spyPointer = nullptr;
    auto driver = startedDriver(phone, &spyPointer);
    std::unique_ptr<QSignalSpy> messages(spyPointer);

    QTRY_VERIFY(driver->read(0.0));
    QCOMPARE(driver->read(5.0)->y, -1.0); // the newest row: upright in portrait
    QCOMPARE(driver->read(5.0)->timestamp, 5.0);

    phone.rows.push_back({0.03, -4.903325, 0, 0});
    QTRY_COMPARE(driver->read(0.0)->x, 0.5);
    // After the first answer the driver asks only for what is newer than it has seen.
    QVERIFY(phone.requests.first().startsWith(QStringLiteral("/get?accX&acc_time")));
    QVERIFY(phone.requests.contains(
        QStringLiteral("/get?accX=0.02%7Cacc_time&acc_time=0.02&accY=0.02%7Cacc_time&"
                       "accZ=0.02%7Cacc_time")));
    QCOMPARE(phone.startCommands, 0);
    QCOMPARE(messages->count(), 0);
}

void PhyphoxDriverTest::startsPausedPhone() {
    FakePhone phone;
    QVERIFY(phone.listen());
    phone.measuring = false;
    QSignalSpy* spyPointer = nullptr;
    auto driver = startedDriver(phone, &spyPointer);
    std::unique_ptr<QSignalSpy> messages(spyPointer);

    QTRY_COMPARE(phone.startCommands, 1);
    QCOMPARE(messagesContaining(*messages, QStringLiteral("was not measuring")), 1);
    QVERIFY(!driver->read(0.0));
    phone.rows = {{0.5, 0, 0, -9.80665}};
    QTRY_VERIFY(driver->read(0.0));
    QCOMPARE(driver->read(0.0)->z, 1.0);
    QCOMPARE(phone.startCommands, 1);
}

void PhyphoxDriverTest::survivesPhoneGoingAway() {
    FakePhone phone;
    QVERIFY(phone.listen());
    const quint16 port = phone.port();
    phone.rows = {{0.01, 0, 0, 9.80665}, {4.0, 0, 0, 9.80665}};
    QSignalSpy* spyPointer = nullptr;
    auto driver = startedDriver(phone, &spyPointer);
    std::unique_ptr<QSignalSpy> messages(spyPointer);
    QTRY_VERIFY(driver->read(0.0));

    phone.disappear();
    QTRY_VERIFY(!driver->read(0.0));
    QTest::qWait(300); // several retries, each refused
    QCOMPARE(messages->count(), 1);
    QVERIFY2(messages->first().first().toString().contains(QStringLiteral("Lost the phone")),
             qPrintable(messages->first().first().toString()));

    // The app was restarted meanwhile: a new session whose clock starts again at zero.
    phone.session = QStringLiteral("d4e5f6");
    phone.rows = {{0.01, 9.80665, 0, 0}};
    QVERIFY(phone.listen(port));
    QTRY_VERIFY(driver->read(0.0));
    QCOMPARE(driver->read(0.0)->x, -1.0);
    phone.rows.push_back({0.02, 0, 0, 0});
    QTRY_COMPARE(driver->read(0.0)->x, 0.0);
    QCOMPARE(messages->count(), 2);
    QVERIFY(messages->last().first().toString().contains(QStringLiteral("is back")));
}

void PhyphoxDriverTest::saysWhatWasWrongWithAnswer() {
    FakePhone phone;
    QVERIFY(phone.listen());
    phone.rows = {{0.01, 0, 0, 9.80665}};
    phone.malformedBody = R"({"buffer": {"acc_time": )";
    QSignalSpy* spyPointer = nullptr;
    auto driver = startedDriver(phone, &spyPointer);
    std::unique_ptr<QSignalSpy> messages(spyPointer);

    QTRY_VERIFY(phone.requests.size() >= 4);
    QVERIFY(!driver->read(0.0));
    QCOMPARE(messages->count(), 1); // said once, not at every retry
    QVERIFY2(messages->first().first().toString().contains(QStringLiteral("not JSON")),
             qPrintable(messages->first().first().toString()));

    phone.malformedBody.clear();
    QTRY_VERIFY(driver->read(0.0));
}

void PhyphoxDriverTest::refusesUnusableAddress() {
    for (const char* address : {"ftp://phone:8080", "http://", "not a url at all"}) {
        PhyphoxDriver driver{QUrl(QLatin1String(address), QUrl::StrictMode)};
        QString error;
        QVERIFY2(!driver.start(&error), address);
        QVERIFY(error.contains(QStringLiteral("expected http://HOST:PORT")));
    }
}

QTEST_GUILESS_MAIN(PhyphoxDriverTest)
#include "tst_phyphox_driver.moc"
