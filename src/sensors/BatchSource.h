#pragma once

#include "sensors/AccelerometerDriver.h"
#include "sensors/ReadingBatch.h"

#include <QElapsedTimer>
#include <QMap>
#include <deque>

namespace sensors {

// What the sources of pushed batches share (an MQTT topic, a phone pushing over HTTP): the
// devices seen, the one read, and the playing of its batches at their own pace.
//
// A batch holds the readings of the last fraction of a second. They are played back at their
// own times, after a small fixed delay (a batch's span and 0.1 s) that lets the next batch
// arrive before the last one runs out, so that the service's 40/80/120 Hz deliveries step
// through them as the sensor measured them. A sender's clock need not agree with this
// machine's: only the differences between its times are used.
class BatchSource : public AccelerometerDriver {
    Q_OBJECT
public:
    // A device not heard from for this long is no longer listed, and a device being read that
    // falls silent this long is said to be lost.
    static constexpr double kSeenWithin = 2.0;

    // `device`: the device id to read; empty reads the first one heard.
    explicit BatchSource(QString device, QObject* parent = nullptr);

    std::optional<Acceleration> read(double now) override;

    // The device ids heard from within kSeenWithin, in the order first heard.
    QStringList devicesSeen() const;
    // Readings dropped: older than one already played, or beyond the queue's length.
    int droppedReadings() const { return dropped_; }

protected:
    // Takes one batch as received; false with `error` set when it is not the schema. Batches of
    // other devices than the one read only list their device.
    bool receive(const QByteArray& body, QString* error);
    // Where the batches come from, for messages: "the topic phones/# at mqtt://host:1883".
    virtual QString origin() const = 0;
    // Says once that what `origin` sends was unusable and why (not repeated while it recurs).
    void refuse(const QString& why);

private:
    void play(const ReadingBatch& batch, double arrival);
    void said(const QString& message, MessageKind kind);

    struct Queued {
        Acceleration reading;
        double due; // on clock_, in seconds
    };

    QString device_;
    bool chosen_ = false; // the device was named, or the first one heard was taken
    QElapsedTimer clock_;
    QMap<QString, double> seen_; // device id -> last heard on clock_
    QStringList order_;          // device ids in the order first heard
    std::deque<Queued> queue_;
    std::optional<Queued> current_;
    double offset_ = 0.0; // clock_ minus the sender's time, with the delay, once anchored
    bool anchored_ = false;
    double lastQueuedTime_ = 0.0;
    double lastArrival_ = 0.0;
    int dropped_ = 0;
    bool gravityNoted_ = false;
    bool silent_ = false;
    QString lastRefusal_;
};

} // namespace sensors
