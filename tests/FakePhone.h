#pragma once

// A phone running phyphox with remote access on, answering as the app's own web server does:
// `/config` lists the experiment's sensor inputs with their buffer names, `/get` answers the
// last value of a buffer named alone and the values past a threshold of a reference buffer
// ("accX=1.5|acc_time"), numbers as Android ("0.#######E0") or iOS (shortest form) write them,
// null for NaN; `/control?cmd=start|stop|clear`. A clear stops the measurement, empties the
// buffers and keeps the session; opening another experiment starts a new session.

#include <QHash>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>
#include <cmath>
#include <memory>
#include <vector>

class FakePhone : public QObject {
public:
    enum class Platform { Android, IOS };

    struct Experiment {
        QString title;
        QString source; // the sensor type of its input, as `/config` names it
        QString x, y, z, t;
    };

    static Experiment accelerationWithG() {
        return {QStringLiteral("Acceleration with g"),
                QStringLiteral("accelerometer"),
                QStringLiteral("accX"),
                QStringLiteral("accY"),
                QStringLiteral("accZ"),
                QStringLiteral("acc_time")};
    }
    static Experiment accelerationWithoutG() {
        return {QStringLiteral("Acceleration (without g)"),
                QStringLiteral("linear_acceleration"),
                QStringLiteral("accX"),
                QStringLiteral("accY"),
                QStringLiteral("accZ"),
                QStringLiteral("acc_time")};
    }
    static Experiment inclination() {
        return {QStringLiteral("Inclination"), QStringLiteral("accelerometer"),
                QStringLiteral("accX"),        QStringLiteral("accY"),
                QStringLiteral("accZ"),        QStringLiteral("accT")};
    }
    // The "+" simple experiment with linear acceleration ticked.
    static Experiment simpleLinear(Platform platform) {
        if (platform == Platform::Android)
            return {QStringLiteral("My sensors"), QStringLiteral("linear_acceleration"),
                    QStringLiteral("linX"),       QStringLiteral("linY"),
                    QStringLiteral("linZ"),       QStringLiteral("lin_time")};
        return {QStringLiteral("My sensors"), QStringLiteral("linear_acceleration"),
                QStringLiteral("lin_accX"),   QStringLiteral("lin_accY"),
                QStringLiteral("lin_accZ"),   QStringLiteral("lin_acc_time")};
    }
    static Experiment light() {
        return {QStringLiteral("Light"),
                QStringLiteral("light"),
                QStringLiteral("illum"),
                QString(),
                QString(),
                QStringLiteral("light_time")};
    }

    Platform platform = Platform::Android;
    bool answersConfig = true; // phyphox before 2020 has no `/config`
    bool measuring = false;
    bool timedRun = false;
    double countDown = 0.0;
    QStringList requests; // paths with their queries, as sent
    int startCommands = 0;

    // Faults of the network or of a phone that is not what it claims.
    int failNextGets = 0;        // so many `/get` answered with HTTP 500
    qint64 oversizedAnswers = 0; // so many `/get` answered with this many bytes
    bool declareOversize = true; // with a Content-Length, or only by the bytes that come
    int trickleMs = 0;           // `/get` answered one byte per this many milliseconds
    QByteArray garbage;          // answered to `/get` instead of the data when not empty
    bool endlessChunks = false;  // `/get` answered chunked, with chunks that never end
    QByteArray redirectTo;       // `/get` answered 302 to this address when not empty
    bool cutMidAnswer = false;   // `/get` answers half its body, then the connection drops
    qint64 streamedBytes = 0;    // body bytes sent by endless answers so far

    explicit FakePhone(Experiment experiment = accelerationWithG()) { open(experiment); }

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

    // The user opens an experiment: new buffers, a new session, not measuring.
    void open(const Experiment& experiment) {
        experiment_ = experiment;
        session_ = QString::number(++sessions_, 16).rightJustified(6, QLatin1Char('0'));
        buffers_.clear();
        for (const QString& name : {experiment.x, experiment.y, experiment.z, experiment.t})
            if (!name.isEmpty())
                buffers_.insert(name, {});
        measuring = false;
        timedRun = false;
        countDown = 0.0;
    }

    // The sensor delivers one sample (m/s², Android's sign, experiment seconds) while
    // measuring.
    void sample(double t, double x, double y, double z) {
        if (!measuring)
            return;
        const std::array<std::pair<QString, double>, 4> values = {
            {{experiment_.x, x}, {experiment_.y, y}, {experiment_.z, z}, {experiment_.t, t}}};
        for (const auto& [name, value] : values)
            if (buffers_.contains(name))
                buffers_[name].push_back(value);
    }

    // The clear button: the measurement stops, the clock starts again at 0, the session stays.
    void clear() {
        measuring = false;
        for (auto& values : buffers_)
            values.clear();
        forceFullUpdate_ = true;
    }

private:
    static QByteArray status(int code) {
        return code == 400   ? "400 Bad Request"
               : code == 404 ? "404 Not Found"
                             : QByteArray::number(code) + " Internal Server Error";
    }

    // Android's DecimalFormat("0.#######E0"): at most 8 significant digits, "E" and the
    // exponent always written (1E-2, -9.80665E0); iOS writes the shortest exact form.
    QByteArray number(double value) const {
        if (!std::isfinite(value))
            return "null";
        if (platform == Platform::IOS)
            return QByteArray::number(value, 'g', QLocale::FloatingPointShortest);
        if (value == 0.0)
            return "0E0";
        int exponent = int(std::floor(std::log10(std::fabs(value))));
        double mantissa = std::round(value / std::pow(10.0, exponent) * 1e7) / 1e7;
        if (std::fabs(mantissa) >= 10.0) {
            mantissa /= 10.0;
            ++exponent;
        }
        QByteArray digits = QByteArray::number(mantissa, 'f', 7);
        while (digits.endsWith('0'))
            digits.chop(1);
        if (digits.endsWith('.'))
            digits.chop(1);
        return digits + "E" + QByteArray::number(exponent);
    }

    void serve(QTcpSocket* socket) {
        QByteArray& request = pending_[socket];
        request += socket->readAll();
        if (!request.contains("\r\n\r\n"))
            return;
        const QList<QByteArray> words = request.left(request.indexOf("\r\n")).split(' ');
        pending_.remove(socket);
        const QString target = QString::fromLatin1(words.value(1));
        requests << target;
        const QUrl url(QStringLiteral("http://phone") + target);
        const QUrlQuery query(url);
        const QString path = url.path();
        if (path == QLatin1String("/get")) {
            if (failNextGets > 0) {
                --failNextGets;
                return answer(socket, 500, R"({"error": "Internal server error"})");
            }
            if (oversizedAnswers > 0)
                return answerOversized(socket);
            if (!garbage.isEmpty())
                return answer(socket, 200, garbage);
            if (endlessChunks)
                return answerEndlessly(socket);
            if (!redirectTo.isEmpty()) {
                socket->write("HTTP/1.1 302 Found\r\nLocation: " + redirectTo +
                              "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
                return socket->disconnectFromHost();
            }
            auto [code, body] = get(query);
            if (cutMidAnswer) {
                socket->write(header(code, body.size(), "application/json") +
                              body.left(body.size() / 2));
                socket->flush();
                return socket->abort();
            }
            if (trickleMs > 0)
                return trickle(socket, code, body);
            return answer(socket, code, body);
        }
        if (path == QLatin1String("/config") && answersConfig)
            return answer(socket, 200, config());
        if (path == QLatin1String("/control"))
            return answer(socket, 200, control(query));
        if (path == QLatin1String("/config") || path == QLatin1String("/"))
            return answer(socket, 200, "<!DOCTYPE html><html><body>phyphox</body></html>",
                          "text/html");
        answer(socket, 404, R"({"error": "Not found"})");
    }

    static QByteArray header(int code, qint64 length, const QByteArray& type) {
        QByteArray head = "HTTP/1.1 " + status(code) + "\r\nContent-Type: " + type + "\r\n";
        if (length >= 0)
            head += "Content-Length: " + QByteArray::number(length) + "\r\n";
        return head + "Connection: close\r\n\r\n";
    }

    void answer(QTcpSocket* socket, int code, const QByteArray& body,
                const QByteArray& type = "application/json") {
        socket->write(header(code, body.size(), type) + body);
        socket->disconnectFromHost();
    }

    void answerOversized(QTcpSocket* socket) {
        const qint64 size = oversizedAnswers;
        oversizedAnswers = 0;
        socket->write(header(200, declareOversize ? size : -1, "application/json"));
        socket->write(QByteArray(size, ' '));
        socket->disconnectFromHost();
    }

    // Chunks of JSON-looking text, written whenever the last ones have left, for as long as
    // the client keeps the connection.
    void answerEndlessly(QTcpSocket* socket) {
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                      "Transfer-Encoding: chunked\r\n\r\n");
        auto more = [this, socket] {
            while (socket->bytesToWrite() < 256 * 1024 &&
                   socket->state() == QAbstractSocket::ConnectedState) {
                const QByteArray chunk(64 * 1024, '[');
                socket->write(QByteArray::number(chunk.size(), 16) + "\r\n" + chunk + "\r\n");
                streamedBytes += chunk.size();
            }
        };
        connect(socket, &QTcpSocket::bytesWritten, socket, more);
        more();
    }

    void trickle(QTcpSocket* socket, int code, const QByteArray& body) {
        auto rest =
            std::make_shared<QByteArray>(header(code, body.size(), "application/json") + body);
        auto* timer = new QTimer(socket);
        connect(timer, &QTimer::timeout, socket, [socket, rest, timer] {
            if (rest->isEmpty()) {
                timer->stop();
                socket->disconnectFromHost();
                return;
            }
            socket->write(rest->left(1));
            rest->remove(0, 1);
        });
        timer->start(trickleMs);
    }

    QByteArray control(const QUrlQuery& query) {
        const QString command = query.queryItemValue(QStringLiteral("cmd"));
        if (command == QLatin1String("start")) {
            ++startCommands;
            measuring = true;
        } else if (command == QLatin1String("stop")) {
            measuring = false;
        } else if (command == QLatin1String("clear")) {
            clear();
        } else {
            return R"({"result": false})";
        }
        return R"({"result": true})";
    }

    QByteArray config() const {
        QJsonArray outputs;
        const std::array<std::pair<const char*, QString>, 4> components = {{{"x", experiment_.x},
                                                                            {"y", experiment_.y},
                                                                            {"z", experiment_.z},
                                                                            {"t", experiment_.t}}};
        for (const auto& [component, name] : components)
            if (!name.isEmpty())
                outputs.append(QJsonObject{{QLatin1String(component), name}});
        QJsonArray buffers;
        for (auto it = buffers_.begin(); it != buffers_.end(); ++it)
            buffers.append(
                QJsonObject{{QStringLiteral("name"), it.key()}, {QStringLiteral("size"), 0}});
        const QJsonObject root{
            {QStringLiteral("crc32"), QStringLiteral("3ac0f1e2")},
            {QStringLiteral("title"), experiment_.title},
            {QStringLiteral("localTitle"), experiment_.title},
            {QStringLiteral("category"), QStringLiteral("Raw Sensors")},
            {QStringLiteral("buffers"), buffers},
            {QStringLiteral("inputs"),
             QJsonArray{QJsonObject{{QStringLiteral("source"), experiment_.source},
                                    {QStringLiteral("outputs"), outputs}}}},
            {QStringLiteral("export"), QJsonArray{}}};
        return QJsonDocument(root).toJson(QJsonDocument::Compact);
    }

    // "name": the last value; "name=full": all; "name=T|ref": values whose reference is past
    // T (nudged up by the last of eight digits, as the phone does); a clear makes the next
    // request full. Unknown buffers are left out; an unknown reference of a known buffer is
    // a server error on Android and a bad request on iOS.
    std::pair<int, QByteArray> get(const QUrlQuery& query) {
        QByteArray body = "{\"buffer\":{\n";
        bool first = true;
        QSet<QString> seen;
        const bool full = forceFullUpdate_;
        if (!query.isEmpty())
            forceFullUpdate_ = false;
        for (const auto& [name, value] : query.queryItems(QUrl::FullyDecoded)) {
            if (seen.contains(name) || !buffers_.contains(name))
                continue;
            seen.insert(name);
            const std::vector<double>& data = buffers_[name];
            QByteArray mode = "single", values;
            if (value.isEmpty()) {
                values = number(data.empty() ? std::nan("") : data.back());
            } else {
                double threshold = -INFINITY;
                const std::vector<double>* reference = &data;
                if (value != QLatin1String("full") && !full) {
                    const QString referenceName = value.section(QLatin1Char('|'), 1);
                    if (!referenceName.isEmpty()) {
                        if (!buffers_.contains(referenceName))
                            return {platform == Platform::Android ? 500 : 400,
                                    R"({"error": "Unknown reference buffer."})"};
                        reference = &buffers_[referenceName];
                    }
                    threshold = value.section(QLatin1Char('|'), 0, 0).toDouble();
                    if (threshold != 0.0)
                        threshold +=
                            std::pow(10.0, std::floor(std::log10(std::fabs(threshold) / 1e7)));
                }
                mode = std::isinf(threshold) ? "full" : "partial";
                const std::size_t n = std::min(data.size(), reference->size());
                for (std::size_t i = 0; i < n; ++i) {
                    if (!((*reference)[i] > threshold))
                        continue;
                    values += (values.isEmpty() ? "" : ",") + number(data[i]);
                }
            }
            body += QByteArray(first ? "" : ",\n") + "\"" + name.toUtf8() +
                    "\":{\"size\":0,\"updateMode\":\"" + mode + "\", \"buffer\":[" + values + "]}";
            first = false;
        }
        body += "\n},\n\"status\":{\n\"session\":\"" + session_.toUtf8() +
                "\", \"measuring\":" + (measuring ? "true" : "false") +
                ", \"timedRun\":" + (timedRun ? "true" : "false") +
                ", \"countDown\":" + QByteArray::number(countDown) + "\n}\n}\n";
        return {200, body};
    }

    std::unique_ptr<QTcpServer> server_;
    QHash<QTcpSocket*, QByteArray> pending_;
    Experiment experiment_;
    QString session_;
    int sessions_ = 0xa1b2c3 - 1;
    QHash<QString, std::vector<double>> buffers_;
    bool forceFullUpdate_ = false;
};
