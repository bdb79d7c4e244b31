#pragma once

#include "sensors/AccelerometerDriver.h"
#include "sensors/Sources.h"

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <vector>

class QNetworkReply;

namespace platform {

// One answer of phyphox's remote access to `/get` for the acceleration buffers.
struct PhyphoxAnswer {
    bool measuring = false;
    // Changes when the experiment is restarted or its data cleared; times start again then.
    QString session;
    // In g in the device convention, `timestamp` in the phone's experiment seconds.
    std::vector<Acceleration> readings;
};

// Parses the body of a `/get` answer with the buffers accX, accY, accZ and acc_time (m/s²,
// Android's sign) into readings in g. Rows with a missing value (phyphox writes NaN as null)
// are skipped; buffers of unequal length are paired up to the shortest, the rest arrives with
// the next answer. On a malformed answer returns nothing and sets `error` to what was wrong.
std::optional<PhyphoxAnswer> parsePhyphoxAnswer(const QByteArray& body, QString* error);

// A phone running phyphox with remote access on, e.g. http://192.168.0.42:8080 (Android
// serves on port 8080, iOS on 80).
//
// Polls `/get` with the newest experiment time it has seen, one request at a time and no
// faster than the update interval (at most 50 per second), and keeps the newest reading for
// read(). When the phone is not measuring it asks it to start. When the phone goes away it
// says so once, retries with a growing delay and says so again when the phone is back; read()
// has nothing meanwhile.
class PhyphoxDriver final : public AccelerometerDriver {
    Q_OBJECT
public:
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
    // Gives up on a request after this long without an answer (default 3 s): a phone that
    // left the network does not close its connections.
    void setRequestTimeout(double seconds);

private:
    void poll();
    void received(QNetworkReply* reply);
    void startMeasurement();
    void fault(const QString& message, bool phoneAway);
    void schedule(double seconds);
    QNetworkRequest requestFor(const QString& path, const QString& query) const;

    QUrl url_;
    QNetworkAccessManager network_;
    QTimer pollTimer_;
    QPointer<QNetworkReply> pending_;
    double pollInterval_ = 1.0 / 50.0;
    double firstRetry_ = 0.5;
    double longestRetry_ = 8.0;
    double retry_ = 0.0;
    int timeoutMs_ = 3000;
    bool hasTime_ = false;
    double lastTime_ = 0.0;
    QString session_;
    std::optional<Acceleration> newest_;
    bool away_ = false;
    QString lastFault_;
    bool startAsked_ = false;
};

} // namespace platform
