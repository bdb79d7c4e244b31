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

namespace sensors {

namespace {

// The values of one buffer of the answer, NaN where phyphox wrote null.
std::optional<std::vector<double>> bufferValues(const QJsonObject& buffers, const QString& name,
                                                bool* full, QString* error) {
    const QJsonValue entry = buffers.value(name);
    if (entry.isUndefined()) {
        *error = QStringLiteral("the answer has no buffer \"%1\" (is the phone running an "
                                "acceleration experiment?)")
                     .arg(name);
        return std::nullopt;
    }
    const QJsonValue array = entry.toObject().value(QLatin1String("buffer"));
    if (!array.isArray()) {
        *error = QStringLiteral("buffer \"%1\" has no \"buffer\" array").arg(name);
        return std::nullopt;
    }
    *full = *full ||
            entry.toObject().value(QLatin1String("updateMode")).toString() == QLatin1String("full");
    std::vector<double> values;
    const QJsonArray items = array.toArray();
    values.reserve(std::size_t(items.size()));
    for (const QJsonValue& item : items) {
        if (item.isNull()) {
            values.push_back(std::nan(""));
        } else if (item.isDouble()) {
            values.push_back(item.toDouble());
        } else {
            *error = QStringLiteral("buffer \"%1\" holds something other than numbers").arg(name);
            return std::nullopt;
        }
    }
    return values;
}

// The buffer names of one sensor input of `/config`. Its "outputs" is a list of one-entry
// objects ({"x": "accX"}, {"t": "acc_time"}, ...); a single object is read the same way.
std::optional<PhyphoxBuffers> inputBuffers(const QJsonObject& input) {
    QJsonObject outputs;
    const QJsonValue list = input.value(QLatin1String("outputs"));
    if (list.isObject()) {
        outputs = list.toObject();
    } else {
        for (const QJsonValue& output : list.toArray()) {
            const QJsonObject entry = output.toObject();
            for (auto it = entry.begin(); it != entry.end(); ++it)
                outputs.insert(it.key(), it.value());
        }
    }
    PhyphoxBuffers buffers;
    buffers.x = outputs.value(QLatin1String("x")).toString();
    buffers.y = outputs.value(QLatin1String("y")).toString();
    buffers.z = outputs.value(QLatin1String("z")).toString();
    buffers.t = outputs.value(QLatin1String("t")).toString();
    if (buffers.x.isEmpty() || buffers.y.isEmpty() || buffers.z.isEmpty() || buffers.t.isEmpty())
        return std::nullopt;
    return buffers;
}

// The session of an answer that is otherwise unusable; nothing when it has none.
std::optional<QString> sessionOf(const QByteArray& body) {
    const QJsonValue session = QJsonDocument::fromJson(body)
                                   .object()
                                   .value(QLatin1String("status"))
                                   .toObject()
                                   .value(QLatin1String("session"));
    if (!session.isString())
        return std::nullopt;
    return session.toString();
}

} // namespace

std::optional<PhyphoxExperiment> parsePhyphoxConfig(const QByteArray& body, QString* error) {
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    auto refuse = [&](const QString& message) -> std::optional<PhyphoxExperiment> {
        if (error)
            *error = message;
        return std::nullopt;
    };
    if (parseError.error != QJsonParseError::NoError)
        return refuse(QStringLiteral("the experiment description is not JSON (%1)")
                          .arg(parseError.errorString()));
    const QJsonValue inputs = document.object().value(QLatin1String("inputs"));
    if (!inputs.isArray())
        return refuse(QStringLiteral("the experiment description lists no inputs"));

    PhyphoxExperiment experiment;
    const QJsonObject root = document.object();
    experiment.title = root.value(QLatin1String("localTitle")).toString();
    if (experiment.title.isEmpty())
        experiment.title = root.value(QLatin1String("title")).toString();
    std::optional<PhyphoxBuffers> linear;
    for (const QJsonValue& value : inputs.toArray()) {
        const QJsonObject input = value.toObject();
        const QString source = input.value(QLatin1String("source")).toString();
        const bool withGravity = source == QLatin1String("accelerometer");
        if (!withGravity && source != QLatin1String("linear_acceleration"))
            continue;
        std::optional<PhyphoxBuffers> buffers = inputBuffers(input);
        if (!buffers)
            continue;
        buffers->withGravity = withGravity;
        if (withGravity) {
            experiment.acceleration = buffers;
            break;
        }
        if (!linear)
            linear = buffers;
    }
    if (!experiment.acceleration)
        experiment.acceleration = linear;
    return experiment;
}

std::optional<PhyphoxAnswer> parsePhyphoxAnswer(const QByteArray& body, QString* error,
                                                const PhyphoxBuffers& names) {
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
    const QJsonValue statusValue = root.value(QLatin1String("status"));
    if (!statusValue.isObject())
        return refuse(QStringLiteral("the answer has no \"status\" object"));
    const QJsonObject status = statusValue.toObject();
    const QJsonValue measuring = status.value(QLatin1String("measuring"));
    if (!measuring.isBool())
        return refuse(QStringLiteral("\"status\" has no true or false \"measuring\""));
    const QJsonValue buffer = root.value(QLatin1String("buffer"));
    if (!buffer.isObject())
        return refuse(QStringLiteral("the answer has no \"buffer\" object"));

    PhyphoxAnswer answer;
    // The time buffer first: when it is missing, the experiment is not the one expected.
    const std::array<const QString*, 4> order = {&names.t, &names.x, &names.y, &names.z};
    std::array<std::vector<double>, 4> columns;
    for (std::size_t i = 0; i < order.size(); ++i) {
        auto values = bufferValues(buffer.toObject(), *order[i], &answer.full, &why);
        if (!values)
            return refuse(why);
        columns[i] = std::move(*values);
    }

    answer.measuring = measuring.toBool();
    answer.timedRun = status.value(QLatin1String("timedRun")).toBool();
    answer.countDown = status.value(QLatin1String("countDown")).toDouble();
    answer.session = status.value(QLatin1String("session")).toString();
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
        // Android's sign, which phyphox keeps on iOS too: a phone face up reads +9.81 m/s² on
        // Z; the device convention -1 g.
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

QString PhyphoxDriver::phone() const {
    return url_.toDisplayString();
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
    sinceFresh_.start();
    schedule(0.0);
    return true;
}

void PhyphoxDriver::setUpdateInterval(double seconds) {
    pollInterval_ = std::max(seconds, 1.0 / 50.0);
}

std::optional<Acceleration> PhyphoxDriver::read(double now) {
    // A reading that stopped moving is not live, even before the next answer says so.
    if (!newest_ || (sinceFresh_.isValid() && sinceFresh_.elapsed() > silenceMs_))
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

void PhyphoxDriver::setSilenceAfter(double seconds) {
    silenceMs_ = std::max<qint64>(1, std::llround(seconds * 1000.0));
}

void PhyphoxDriver::schedule(double seconds) {
    pollTimer_.start(std::chrono::milliseconds(std::llround(seconds * 1000.0)));
}

double PhyphoxDriver::retryDelay() {
    retry_ = retry_ == 0.0 ? firstRetry_ : std::min(2.0 * retry_, longestRetry_);
    return retry_;
}

QNetworkReply* PhyphoxDriver::send(const QString& path, const QString& query) {
    QUrl url = url_;
    url.setPath(path);
    url.setQuery(query);
    QNetworkRequest request(url);
    // The phone's small embedded server is known to stall on kept-alive connections; one
    // request per connection costs little on a local network.
    request.setRawHeader("Connection", "close");
    // A phone answers where it is asked. A redirect is not followed, least of all to another
    // host: it is said, as the sign of something other than a phone at that address.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply* reply = network_.get(request);
    // Qt's own buffer would otherwise take all the network thread receives, however fast an
    // endless (chunked) answer comes; the bytes are moved into the answer as they arrive.
    reply->setReadBufferSize(kReadBufferBytes);
    answers_.insert(reply, QByteArray());

    // A whole-request deadline: Qt's transfer timeout restarts with every byte, so a phone
    // trickling an answer would hold the only pending request for ever.
    QTimer::singleShot(timeoutMs_, reply, [reply] {
        reply->setProperty("wobblestarDeadline", true);
        reply->abort();
    });
    auto tooLarge = [reply](qint64 bytes) {
        if (bytes <= kMaxAnswerBytes || reply->property("wobblestarTooLarge").toBool())
            return false;
        reply->setProperty("wobblestarTooLarge", true);
        reply->abort();
        return true;
    };
    connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, tooLarge] {
        tooLarge(reply->header(QNetworkRequest::ContentLengthHeader).toLongLong());
    });
    connect(reply, &QNetworkReply::readyRead, this, [this, reply, tooLarge] {
        QByteArray& answer = answers_[reply];
        // Read no more than fits under the limit, plus one byte to know it was passed.
        answer += reply->read(kMaxAnswerBytes + 1 - answer.size());
        if (tooLarge(answer.size()))
            answer.clear();
    });
    connect(reply, &QObject::destroyed, this, [this, reply] { answers_.remove(reply); });
    return reply;
}

void PhyphoxDriver::poll() {
    if (pending_)
        return;
    const Ask ask = needConfig_ ? Ask::Config : Ask::Data;
    if (ask == Ask::Config) {
        pending_ = send(QStringLiteral("/config"), QString());
    } else {
        // A buffer named without a threshold answers its last value only: the newest reading
        // is all the delegate shows, and the phone copies no buffer for it.
        QStringList names;
        for (const QString* name : {&buffers_.x, &buffers_.y, &buffers_.z, &buffers_.t})
            names << QString::fromLatin1(QUrl::toPercentEncoding(*name));
        pending_ = send(QStringLiteral("/get"), names.join(QLatin1Char('&')));
    }
    connect(pending_, &QNetworkReply::finished, this, [this, ask, reply = pending_.data()] {
        reply->deleteLater();
        received(reply, ask);
    });
}

void PhyphoxDriver::received(QNetworkReply* reply, Ask ask) {
    pending_.clear();
    if (reply->property("wobblestarTooLarge").toBool()) {
        ++refusedAnswers_;
        askConfigAgain(QStringLiteral("Refused an answer larger than %1 MB from the phone at "
                                      "%2")
                           .arg(kMaxAnswerBytes / (1024 * 1024))
                           .arg(phone()));
        return;
    }
    if (reply->property("wobblestarDeadline").toBool()) {
        phoneAway(QStringLiteral("The phone at %1 is not answering (no complete answer within "
                                 "%2 s); retrying")
                      .arg(phone())
                      .arg(timeoutMs_ / 1000.0));
        return;
    }
    const QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!statusAttribute.isValid()) {
        phoneAway(QStringLiteral("Lost the phone at %1 (%2); retrying")
                      .arg(phone(), reply->errorString()));
        return;
    }
    const int status = statusAttribute.toInt();
    if (status >= 300 && status < 400) {
        const QUrl target = reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
        phoneAway(QStringLiteral("The address %1 redirected to %2 (HTTP %3), which is not "
                                 "followed: give the phone's own address")
                      .arg(phone(), target.isEmpty() ? QStringLiteral("nowhere")
                                                     : url_.resolved(target).toDisplayString())
                      .arg(status));
        return;
    }
    if (reply->error() != QNetworkReply::NoError && status < 400) {
        // The head came, the rest did not: the connection dropped mid-answer. What arrived is
        // no answer, and the same drop on every retry is one loss, not one fault per poll.
        phoneAway(QStringLiteral("Lost the phone at %1 mid-answer (%2); retrying")
                      .arg(phone(), reply->errorString()));
        return;
    }
    away_ = false;
    const QByteArray body = answers_.take(reply) + reply->readAll();
    if (ask == Ask::Config) {
        receivedConfig(status, body);
        return;
    }
    if (status >= 400) {
        // The buffers asked for belong to an experiment no longer open, or the phone is
        // between two: asking the same again would fail the same way.
        askConfigAgain(QStringLiteral("The phone at %1 answered HTTP %2; asking it for its "
                                      "experiment again")
                           .arg(phone())
                           .arg(status));
        return;
    }
    receivedData(body);
}

void PhyphoxDriver::receivedConfig(int status, const QByteArray& body) {
    QString why;
    const std::optional<PhyphoxExperiment> experiment =
        status < 400 ? parsePhyphoxConfig(body, &why) : std::nullopt;
    if (!experiment) {
        // phyphox answers `/config` since 2020; older phones fill the classic buffers.
        buffers_ = PhyphoxBuffers{};
    } else if (!experiment->acceleration) {
        setLost(QStringLiteral("The phone at %1 runs \"%2\", which measures no acceleration: "
                               "open \"Acceleration with g\" (or \"Acceleration (without g)\") "
                               "there")
                    .arg(phone(), experiment->title));
        newest_.reset();
        retry_ = 0.0;
        // Looked at again now and then: the user may open another experiment any time.
        schedule(std::max(1.0, pollInterval_));
        return;
    } else {
        buffers_ = *experiment->acceleration;
        if (!buffers_.withGravity && !gravityNoted_)
            notice(QStringLiteral("The experiment \"%1\" on the phone at %2 measures linear "
                                  "acceleration: the readings do not include gravity")
                       .arg(experiment->title, phone()));
        gravityNoted_ = !buffers_.withGravity;
    }
    needConfig_ = false;
    retry_ = 0.0;
    schedule(0.0);
}

void PhyphoxDriver::receivedData(const QByteArray& body) {
    QString why;
    const std::optional<PhyphoxAnswer> answer = parsePhyphoxAnswer(body, &why, buffers_);
    if (!answer && hasSession_ && sessionOf(body).value_or(session_) != session_) {
        // Another experiment was opened, without the buffers of the last one: nothing wrong.
        session_.clear();
        hasSession_ = false;
        hasTime_ = false;
        needConfig_ = true;
        newest_.reset();
        schedule(0.0);
        return;
    }
    if (!answer) {
        askConfigAgain(QStringLiteral("Unusable answer from the phone at %1: %2; asking it for "
                                      "its experiment again")
                           .arg(phone(), why));
        return;
    }
    retry_ = 0.0;
    lastNotice_.clear();
    if (!hasSession_ || answer->session != session_) {
        const bool switched = hasSession_;
        hasSession_ = true;
        session_ = answer->session;
        hasTime_ = false;
        startAsked_ = false;
        if (switched) {
            // Another experiment: its buffers may have other names.
            needConfig_ = true;
            newest_.reset();
            schedule(0.0);
            return;
        }
    }
    followState(*answer);
    schedule(pollInterval_);
}

void PhyphoxDriver::followState(const PhyphoxAnswer& answer) {
    if (answer.measuring != measuring_) {
        measuring_ = answer.measuring;
        sinceFresh_.start();
    }
    if (answer.full)
        hasTime_ = false;

    if (!answer.measuring) {
        newest_.reset();
        if (!startAsked_ && !(answer.timedRun && answer.countDown > 0.0)) {
            // Started once, when Wobblestar first sees this experiment; a pause after that is
            // the user's and stays.
            startMeasurement();
            return;
        }
        startAsked_ = true;
        if (startRefused_)
            return;
        if (answer.timedRun && answer.countDown > 0.0)
            setLost(
                QStringLiteral("The phone at %1 waits for its timed run to start").arg(phone()));
        else if (answer.timedRun)
            setLost(QStringLiteral("Timed run over: paused on the phone at %1").arg(phone()));
        else
            setLost(QStringLiteral("Paused on the phone at %1: press play there to go on")
                        .arg(phone()));
        return;
    }
    startAsked_ = true;
    startRefused_ = false;

    // The single-value answer repeats the newest reading until the phone has another. A time
    // that differs, also one that went back (a clear restarts the clock at 0 and keeps the
    // session), is a new reading.
    if (!answer.readings.empty()) {
        const Acceleration& reading = answer.readings.back();
        if (!hasTime_ || reading.timestamp != lastTime_) {
            hasTime_ = true;
            lastTime_ = reading.timestamp;
            newest_ = reading;
            sinceFresh_.start();
            setBack();
            return;
        }
    }
    if (sinceFresh_.elapsed() > silenceMs_) {
        newest_.reset();
        setLost(QStringLiteral("The phone at %1 is silent: no new reading for %2 s")
                    .arg(phone())
                    .arg(silenceMs_ / 1000.0));
    }
}

void PhyphoxDriver::startMeasurement() {
    startAsked_ = true;
    notice(QStringLiteral("The phone at %1 was not measuring; starting it").arg(phone()));
    QNetworkReply* reply = send(QStringLiteral("/control"), QStringLiteral("cmd=start"));
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        reply->deleteLater();
        const QJsonValue result = QJsonDocument::fromJson(answers_.take(reply) + reply->readAll())
                                      .object()
                                      .value(QLatin1String("result"));
        if (reply->error() == QNetworkReply::NoError && result.toBool(false))
            return;
        startRefused_ = true;
        setLost(QStringLiteral("The phone at %1 did not start measuring; start it on the phone")
                    .arg(phone()));
    });
}

void PhyphoxDriver::phoneAway(const QString& message) {
    // Said once while away; the retries themselves stay quiet.
    if (!away_)
        setLost(message);
    away_ = true;
    newest_.reset();
    schedule(retryDelay());
}

void PhyphoxDriver::askConfigAgain(const QString& message) {
    notice(message);
    // The last time seen stays: within the session it still tells a new reading from an old.
    needConfig_ = true;
    newest_.reset();
    schedule(retryDelay());
}

void PhyphoxDriver::notice(const QString& message) {
    if (message == lastNotice_)
        return;
    lastNotice_ = message;
    emit statusMessage(message, MessageKind::Notice);
}

void PhyphoxDriver::setLost(const QString& message) {
    if (message == lost_)
        return;
    lost_ = message;
    emit statusMessage(message, MessageKind::Lost);
}

void PhyphoxDriver::setBack() {
    if (lost_.isEmpty())
        return;
    lost_.clear();
    emit statusMessage(QStringLiteral("The phone at %1 is back: readings again").arg(phone()),
                       MessageKind::Back);
}

} // namespace sensors

namespace sensors {

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

} // namespace sensors
