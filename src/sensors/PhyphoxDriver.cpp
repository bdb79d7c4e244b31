#include "sensors/PhyphoxDriver.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <algorithm>
#include <array>
#include <cmath>

namespace platform {

namespace {

// The buffers of phyphox's acceleration experiments: m/s² and experiment seconds.
constexpr std::array<const char*, 4> kBuffers = {"acc_time", "accX", "accY", "accZ"};

// The values of one buffer of the answer, NaN where phyphox wrote null.
std::optional<std::vector<double>> bufferValues(const QJsonObject& buffers, const char* name,
                                                QString* error) {
    const QJsonValue entry = buffers.value(QLatin1String(name));
    if (entry.isUndefined()) {
        *error = QStringLiteral("the answer has no buffer \"%1\" (is the phone running an "
                                "acceleration experiment?)")
                     .arg(QLatin1String(name));
        return std::nullopt;
    }
    const QJsonValue array = entry.toObject().value(QLatin1String("buffer"));
    if (!array.isArray()) {
        *error = QStringLiteral("buffer \"%1\" has no \"buffer\" array").arg(QLatin1String(name));
        return std::nullopt;
    }
    std::vector<double> values;
    const QJsonArray items = array.toArray();
    values.reserve(std::size_t(items.size()));
    for (const QJsonValue& item : items) {
        if (item.isNull()) {
            values.push_back(std::nan(""));
        } else if (item.isDouble()) {
            values.push_back(item.toDouble());
        } else {
            *error = QStringLiteral("buffer \"%1\" holds something other than numbers")
                         .arg(QLatin1String(name));
            return std::nullopt;
        }
    }
    return values;
}

} // namespace

std::optional<PhyphoxAnswer> parsePhyphoxAnswer(const QByteArray& body, QString* error) {
    QString why;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    auto refuse = [&](const QString& message) -> std::optional<PhyphoxAnswer> {
        if (error)
            *error = message;
        return std::nullopt;
    };
    if (parseError.error != QJsonParseError::NoError)
        return refuse(QStringLiteral("the answer is not JSON (%1 at byte %2)")
                          .arg(parseError.errorString())
                          .arg(parseError.offset));
    if (!document.isObject())
        return refuse(QStringLiteral("the answer is not a JSON object"));
    const QJsonObject root = document.object();
    const QJsonValue status = root.value(QLatin1String("status"));
    if (!status.isObject())
        return refuse(QStringLiteral("the answer has no \"status\" object"));
    const QJsonValue measuring = status.toObject().value(QLatin1String("measuring"));
    if (!measuring.isBool())
        return refuse(QStringLiteral("\"status\" has no true or false \"measuring\""));
    const QJsonValue buffer = root.value(QLatin1String("buffer"));
    if (!buffer.isObject())
        return refuse(QStringLiteral("the answer has no \"buffer\" object"));

    std::array<std::vector<double>, 4> columns;
    for (std::size_t i = 0; i < kBuffers.size(); ++i) {
        auto values = bufferValues(buffer.toObject(), kBuffers[i], &why);
        if (!values)
            return refuse(why);
        columns[i] = std::move(*values);
    }

    PhyphoxAnswer answer;
    answer.measuring = measuring.toBool();
    answer.session = status.toObject().value(QLatin1String("session")).toString();
    // The phone appends to its buffers while it answers, so their lengths may differ by a
    // row or two; the time buffer was filtered first and pairs up with the others by index.
    std::size_t rows = columns[0].size();
    for (const auto& column : columns)
        rows = std::min(rows, column.size());
    answer.readings.reserve(rows);
    for (std::size_t i = 0; i < rows; ++i) {
        const double t = columns[0][i], x = columns[1][i], y = columns[2][i], z = columns[3][i];
        if (!std::isfinite(t) || !std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z))
            continue;
        // Android's sign: a phone face up reads +9.81 m/s² on Z; the device convention -1 g.
        answer.readings.push_back(
            Acceleration{-x / kStandardGravity, -y / kStandardGravity, -z / kStandardGravity, t});
    }
    return answer;
}

PhyphoxDriver::PhyphoxDriver(QUrl url, QObject* parent)
    : AccelerometerDriver(parent), url_(std::move(url)) {
    // The phone is on the local network; a proxy from the environment would not reach it.
    network_.setProxy(QNetworkProxy::NoProxy);
    pollTimer_.setSingleShot(true);
    connect(&pollTimer_, &QTimer::timeout, this, &PhyphoxDriver::poll);
}

PhyphoxDriver::~PhyphoxDriver() {
    // Requests still on their way must not call back into a driver being destroyed.
    for (QNetworkReply* reply : network_.findChildren<QNetworkReply*>()) {
        reply->disconnect(this);
        reply->abort();
    }
}

QString PhyphoxDriver::description() const {
    return QStringLiteral("phyphox: %1").arg(url_.toDisplayString());
}

bool PhyphoxDriver::start(QString* error) {
    const QString scheme = url_.scheme();
    if (!url_.isValid() || url_.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        if (error)
            *error = QStringLiteral("Unusable phone address '%1': expected http://HOST:PORT, "
                                    "e.g. http://192.168.0.42:8080")
                         .arg(url_.toString());
        return false;
    }
    schedule(0.0);
    return true;
}

void PhyphoxDriver::setUpdateInterval(double seconds) {
    pollInterval_ = std::max(seconds, 1.0 / 50.0);
}

std::optional<Acceleration> PhyphoxDriver::read(double now) {
    if (!newest_)
        return std::nullopt;
    Acceleration reading = *newest_;
    reading.timestamp = now;
    return reading;
}

void PhyphoxDriver::setRetryDelays(double first, double longest) {
    firstRetry_ = first;
    longestRetry_ = std::max(first, longest);
}

void PhyphoxDriver::setRequestTimeout(double seconds) {
    timeoutMs_ = std::max(1, int(seconds * 1000.0));
}

void PhyphoxDriver::schedule(double seconds) {
    pollTimer_.start(std::chrono::milliseconds(std::llround(seconds * 1000.0)));
}

QNetworkRequest PhyphoxDriver::requestFor(const QString& path, const QString& query) const {
    QUrl url = url_;
    url.setPath(path);
    url.setQuery(query);
    QNetworkRequest request(url);
    request.setTransferTimeout(timeoutMs_);
    // The phone's small embedded server is known to stall on kept-alive connections; one
    // request per connection costs little on a local network.
    request.setRawHeader("Connection", "close");
    return request;
}

void PhyphoxDriver::poll() {
    if (pending_)
        return;
    QString query;
    if (hasTime_) {
        // Only the values newer than the last time seen, selected by the time buffer; '|'
        // goes percent-encoded.
        const QString t = QString::number(lastTime_, 'g', 17);
        query = QStringLiteral("accX=%1%7Cacc_time&acc_time=%1&accY=%1%7Cacc_time&"
                               "accZ=%1%7Cacc_time")
                    .arg(t);
    } else {
        // A buffer named without a threshold answers its newest value only.
        query = QStringLiteral("accX&acc_time&accY&accZ");
    }
    pending_ = network_.get(requestFor(QStringLiteral("/get"), query));
    connect(pending_, &QNetworkReply::finished, this, [this, reply = pending_.data()] {
        reply->deleteLater();
        received(reply);
    });
}

void PhyphoxDriver::received(QNetworkReply* reply) {
    pending_.clear();
    if (reply->error() != QNetworkReply::NoError) {
        fault(QStringLiteral("Lost the phone at %1 (%2); retrying")
                  .arg(url_.toDisplayString(), reply->errorString()),
              true);
        return;
    }
    QString why;
    const std::optional<PhyphoxAnswer> answer = parsePhyphoxAnswer(reply->readAll(), &why);
    if (!answer) {
        fault(QStringLiteral("Unusable answer from the phone at %1: %2; retrying")
                  .arg(url_.toDisplayString(), why),
              false);
        return;
    }
    if (away_)
        emit statusMessage(QStringLiteral("The phone at %1 is back").arg(url_.toDisplayString()));
    away_ = false;
    lastFault_.clear();
    retry_ = 0.0;

    if (answer->session != session_) {
        // A new session restarts the experiment clock: times seen before mean nothing now.
        session_ = answer->session;
        hasTime_ = false;
    }
    for (const Acceleration& reading : answer->readings) {
        if (!hasTime_ || reading.timestamp >= lastTime_) {
            lastTime_ = reading.timestamp;
            hasTime_ = true;
            newest_ = reading;
        }
    }
    // Asked once per pause: a phone that will not start is not asked fifty times a second.
    if (answer->measuring)
        startAsked_ = false;
    else if (!startAsked_)
        startMeasurement();
    schedule(pollInterval_);
}

void PhyphoxDriver::startMeasurement() {
    startAsked_ = true;
    emit statusMessage(QStringLiteral("The phone at %1 was not measuring; starting it")
                           .arg(url_.toDisplayString()));
    QNetworkReply* reply =
        network_.get(requestFor(QStringLiteral("/control"), QStringLiteral("cmd=start")));
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        reply->deleteLater();
        const QJsonValue result =
            QJsonDocument::fromJson(reply->readAll()).object().value(QLatin1String("result"));
        if (reply->error() == QNetworkReply::NoError && result.toBool(false))
            return;
        emit statusMessage(QStringLiteral("The phone at %1 did not start measuring; start it "
                                          "on the phone")
                               .arg(url_.toDisplayString()));
    });
}

void PhyphoxDriver::fault(const QString& message, bool phoneAway) {
    // Said once per kind of fault; the retries themselves stay quiet.
    if (message != lastFault_ && !(phoneAway && away_))
        emit statusMessage(message);
    lastFault_ = message;
    away_ = away_ || phoneAway;
    startAsked_ = false;
    newest_.reset();
    retry_ = retry_ == 0.0 ? firstRetry_ : std::min(2.0 * retry_, longestRetry_);
    schedule(retry_);
}

} // namespace platform

namespace platform {

namespace {

// A phone's readings are in the phone's axes; a user who holds it in a mount of their own may
// still turn them with --axes.
class AxisMappedDriver final : public AccelerometerDriver {
public:
    AxisMappedDriver(std::unique_ptr<AccelerometerDriver> inner, const AxisMap& axes)
        : inner_(std::move(inner)), axes_(axes) {
        connect(inner_.get(), &AccelerometerDriver::statusMessage, this,
                &AccelerometerDriver::statusMessage);
    }
    QString description() const override { return inner_->description(); }
    bool start(QString* error) override { return inner_->start(error); }
    void setUpdateInterval(double seconds) override { inner_->setUpdateInterval(seconds); }
    std::optional<Acceleration> read(double now) override {
        std::optional<Acceleration> reading = inner_->read(now);
        if (reading)
            reading = axes_.apply(*reading);
        return reading;
    }

private:
    std::unique_ptr<AccelerometerDriver> inner_;
    AxisMap axes_;
};

} // namespace

SourceKind PhyphoxDriver::sourceKind() {
    SourceKind kind;
    kind.kind = QStringLiteral("phyphox");
    kind.usage = QStringLiteral("phyphox:URL");
    kind.takesAxes = true;
    kind.create = [](const QString& argument, const SourceRequest&, const AxisMap& axes,
                     QString* error) -> std::unique_ptr<AccelerometerDriver> {
        const QString address = argument.contains(QLatin1String("://"))
                                    ? argument
                                    : QStringLiteral("http://") + argument;
        std::unique_ptr<AccelerometerDriver> driver =
            std::make_unique<PhyphoxDriver>(QUrl(address, QUrl::StrictMode));
        if (!driver->start(error))
            return nullptr;
        if (axes == AxisMap())
            return driver;
        return std::make_unique<AxisMappedDriver>(std::move(driver), axes);
    };
    return kind;
}

} // namespace platform
