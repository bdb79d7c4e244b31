#pragma once

#include "sensors/AccelerometerDriver.h"
#include "sensors/RecordingReader.h"
#include "sensors/Sources.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace sensors {

// Plays a recording (formats: see RecordingReader.h) at its recorded pace, parsing it while it
// plays, so that memory stays bounded and the first reading comes at once whatever the size.
//
// The replay clock starts at the first read(): the reading at replay time t is the last row
// recorded at or before `fromSeconds` + t; where several rows were recorded since the previous
// read (a file faster than the service), their mean over at most 1/40 s, so that a vibration
// faster than the service averages out instead of aliasing. Between rows the last row holds. After
// the last row read() gives nothing (so the delivered rate falls to 0/s) and statusMessage() says
// the replay finished; with `loop` the file starts again after one mean row interval instead. A bad
// row met while playing ends the replay with a message naming its line.
//
// A regular file is checked (header and first rows) by start(). A FIFO, pipe or standard input
// ("-") is read on a thread of its own, so that waiting for its writer blocks nothing; its
// refusal, if any, comes as a message.
//
//   ReplayDriver driver(QStringLiteral("ride.csv"), /*loop=*/true);
//   if (!driver.start(&error)) ... // error names the file, the line and what was expected
class ReplayDriver final : public AccelerometerDriver {
    Q_OBJECT
public:
    // `replay:FILE`, looping with the request's `loop`.
    static SourceKind sourceKind();

    explicit ReplayDriver(QString path, bool loop = false, double fromSeconds = 0.0,
                          QObject* parent = nullptr);
    ~ReplayDriver() override;

    QString description() const override;
    bool start(QString* error) override;
    std::optional<Acceleration> read(double now) override;

    // Whether the replay has ended (the last row played, or a fault).
    bool isFinished() const { return finished_; }
    // The rate of a file without times (see RecordingReader::setRate); call before start().
    void setRate(double hz) { givenRate_ = hz; }

private:
    enum class Fetch { Row, Waiting, End };
    Fetch fetch(Acceleration* row);
    bool nextPass();
    void finish(const QString& message, MessageKind kind);
    void announceGravity();
    void readInBackground();
    QString name() const;
    std::unique_ptr<RecordingReader> makeReader() const;

    QString path_;
    bool loop_;
    double from_;
    double givenRate_ = 0.0;
    std::unique_ptr<RecordingReader> reader_;

    // Input that may wait (FIFO, pipe, standard input) goes through a bounded queue filled by
    // `thread_`; everything below the mutex is shared with it.
    bool stream_ = false;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable space_;
    std::deque<Acceleration> queue_;
    bool opened_ = false;
    bool ended_ = false;
    bool stopping_ = false;
    QString endError_;
    QString endWarning_;
    RecordingFormat format_ = RecordingFormat::Wobblestar;
    bool gravity_ = true;
    QString notice_;
    double rate_ = 0.0; // the file's own

    double firstRead_ = -1.0;    // service time of the first read with a row; negative before
    double previousRead_ = -1.0; // service time of the previous read; negative before
    double passOffset_ = 0.0;    // replay time at which the current pass of a loop began
    std::size_t passRows_ = 0;   // rows of the current pass so far
    double passLast_ = 0.0;      // the current pass's last row time, from its start
    double lastNewRow_ = 0.0;    // service time at which a row last became the reading
    std::optional<Acceleration> current_;
    std::optional<Acceleration> ahead_;
    bool finished_ = false;
    bool gravityTold_ = false;
};

} // namespace sensors
