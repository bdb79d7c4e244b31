#pragma once

#include "sensors/AccelerometerDriver.h"
#include "sensors/RecordingFile.h"
#include "sensors/Sources.h"

namespace platform {

// Plays a recorded file at its recorded pace (formats: see RecordingFile.h).
//
// The replay clock starts at the first read(): the reading at replay time t is the last row
// recorded at or before t. At the end the last reading stays, or with `loop` the file starts
// again after one typical row interval; either way statusMessage() says the replay finished.
//
//   ReplayDriver driver(QStringLiteral("ride.csv"), /*loop=*/true);
//   if (!driver.start(&error)) ... // error names the file, the line and what was expected
class ReplayDriver final : public AccelerometerDriver {
    Q_OBJECT
public:
    // `replay:FILE`, looping with the request's `loop`.
    static SourceKind sourceKind();

    explicit ReplayDriver(QString path, bool loop = false, QObject* parent = nullptr);

    QString description() const override;
    // Reads and checks the whole file; a refused file leaves nothing to play.
    bool start(QString* error) override;
    std::optional<Acceleration> read(double now) override;

    const Recording& recording() const { return recording_; }

private:
    QString path_;
    bool loop_;
    Recording recording_;
    double period_ = 0.0;     // one pass of the loop: the recording plus one row interval
    double firstRead_ = -1.0; // service time of the first read(); negative before it
    long long lastPass_ = 0;  // passes already reported finished
};

} // namespace platform
