#pragma once

#include "sensors/AccelerometerDriver.h"
#include "sensors/Sources.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <vector>

class QNetworkReply;

namespace sensors {

// The buffers an experiment fills from one acceleration sensor, as its `/config` names them.
struct PhyphoxBuffers {
    // Android's "Acceleration with g" and every phone too old to answer `/config`.
    QString x = QStringLiteral("accX");
    QString y = QStringLiteral("accY");
    QString z = QStringLiteral("accZ");
    QString t = QStringLiteral("acc_time");
    // False for the "linear_acceleration" sensor, which takes gravity out on the phone.
    bool withGravity = true;

    bool operator==(const PhyphoxBuffers&) const = default;
};

// What `/config` says about the experiment open on the phone.
struct PhyphoxExperiment {
    QString title;
    // The acceleration input, preferring the one with gravity; empty when there is none.
    std::optional<PhyphoxBuffers> acceleration;
};

// Parses the body of a `/config` answer. On a malformed answer returns nothing and sets
// `error` to what was wrong.
std::optional<PhyphoxExperiment> parsePhyphoxConfig(const QByteArray& body, QString* error);

// One answer of phyphox's remote access to `/get` for the acceleration buffers.
struct PhyphoxAnswer {
    bool measuring = false;
    // A timed run: the phone stops (or starts) by itself when its countdown ends.
    bool timedRun = false;
    // Milliseconds left in the countdown of a timed run (Android), seconds on iOS; 0 without.
    double countDown = 0.0;
    // Changes when another experiment is opened; kept over a clear, which restarts the times.
    QString session;
    // The phone sent whole buffers (after a clear), not just what is newer than asked.
    bool full = false;
    // In g in the device convention, `timestamp` in the phone's experiment seconds.
    std::vector<Acceleration> readings;
};

// Parses the body of a `/get` answer with the buffers named in `buffers` (m/s², Android's sign)
// into readings in g. Rows with a missing value (phyphox writes NaN as null) are skipped;
// buffers of unequal length are paired up to the shortest, the rest arrives with the next
// answer. On a malformed answer returns nothing and sets `error` to what was wrong.
std::optional<PhyphoxAnswer> parsePhyphoxAnswer(const QByteArray& body, QString* error,
                                                const PhyphoxBuffers& buffers = {});

// A phone running phyphox with remote access on, e.g. http://192.168.0.42:8080 (Android
// serves on port 8080, iOS on 80).
//
// Asks `/config` which buffers the open experiment fills from its acceleration sensor, then
// polls `/get` for the newest value of each, one request at a time and no faster than the
// update interval (at most 50 per second), and keeps the newest reading for read(). A phone
// found paused when Wobblestar connects (or opens another experiment) is started once; one
// the user pauses later stays paused. read() has nothing while the phone is paused, silent,
// away or runs no acceleration experiment, and a status message says which.
class PhyphoxDriver final : public AccelerometerDriver {
    Q_OBJECT
public:
    // Larger answers are refused: a buffer of a long experiment, or not a phone at all.
    static constexpr qint64 kMaxAnswerBytes = 4 * 1024 * 1024;
    // What the network thread may hold of an answer before it waits for the driver to take it.
    static constexpr qint64 kReadBufferBytes = 64 * 1024;
    // `phyphox:URL`; "phyphox:192.168.0.42:8080" means "phyphox:http://192.168.0.42:8080".
    static SourceKind sourceKind();

    explicit PhyphoxDriver(QUrl url, QObject* parent = nullptr);
    ~PhyphoxDriver() override;

    QString description() const override;
    // Checks the address and sends the first request; never waits for the phone.
    bool start(QString* error) override;
    void setUpdateInterval(double seconds) override;
    std::optional<Acceleration> read(double now) override;

    // Delays between retries while the phone is away: the first, doubling up to the longest.
    // Defaults 0.5 s and 8 s.
    void setRetryDelays(double first, double longest);
    // Gives up on a request that is not complete after this long (default 3 s), however
    // steadily its bytes trickle in: a phone that left the network closes nothing.
    void setRequestTimeout(double seconds);
    // A measuring phone whose newest time has not moved for this long (default 3 s) is
    // silent: its last reading is no longer shown as live.
    void setSilenceAfter(double seconds);

    // Answers refused for being larger than kMaxAnswerBytes.
    int refusedAnswers() const { return refusedAnswers_; }

private:
    enum class Ask { Config, Data };

    void poll();
    QNetworkReply* send(const QString& path, const QString& query);
    void received(QNetworkReply* reply, Ask ask);
    void receivedConfig(int status, const QByteArray& body);
    void receivedData(const QByteArray& body);
    void followState(const PhyphoxAnswer& answer);
    void startMeasurement();
    void phoneAway(const QString& message);
    void askConfigAgain(const QString& message);
    void notice(const QString& message);
    void setLost(const QString& message);
    void setBack();
    void schedule(double seconds);
    double retryDelay();
    QString phone() const;

    QUrl url_;
    QNetworkAccessManager network_;
    QTimer pollTimer_;
    QPointer<QNetworkReply> pending_;
    // The bytes of each answer in flight, taken from its reply as they arrive.
    QHash<QNetworkReply*, QByteArray> answers_;
    double pollInterval_ = 1.0 / 50.0;
    double firstRetry_ = 0.5;
    double longestRetry_ = 8.0;
    double retry_ = 0.0;
    int timeoutMs_ = 3000;
    qint64 silenceMs_ = 3000;

    bool needConfig_ = true;
    PhyphoxBuffers buffers_;
    bool gravityNoted_ = false;
    QString session_;
    bool hasSession_ = false;
    bool startAsked_ = false;
    bool startRefused_ = false;
    bool away_ = false;
    bool measuring_ = false;
    bool hasTime_ = false;
    double lastTime_ = 0.0;
    // Restarted whenever the phone's newest time moves, or measuring starts.
    QElapsedTimer sinceFresh_;
    std::optional<Acceleration> newest_;

    QString lost_;       // the Lost message showing, empty while readings flow
    QString lastNotice_; // a notice repeated by every retry is said once
    int refusedAnswers_ = 0;
};

} // namespace sensors
