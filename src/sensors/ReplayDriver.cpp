#include "sensors/ReplayDriver.h"

#include <QFile>
#include <QFileInfo>
#include <cmath>
#include <sys/stat.h>
#include <unistd.h>

namespace sensors {

namespace {

// Service time is a difference of nanosecond clock readings and recorded times are decimal
// fractions, so "at or before" allows for rounding below the clock's resolution.
constexpr double kTimeTolerance = 1e-9;
// Rows a stream may read ahead of the replay clock: about a minute at 120 rows per second,
// 32 bytes each.
constexpr std::size_t kQueueRows = 8192;
// A stream that sends nothing for this long no longer counts as delivering.
constexpr double kStreamSilence = 1.0;
// A reading is the mean of the rows recorded since the previous one, over at most the longest
// service interval: a file recorded faster than the service reads (a chip at 3200 Hz) is
// low-passed instead of sampled, so that a 1 kHz vibration averages out instead of showing as
// a slow alias.
constexpr double kLongestMean = 1.0 / 40.0;
// Above the fastest service rate the status bar names the file's own rate beside the delivered
// one.
constexpr double kFastestServiceRate = 120.0;

// Input that may block a read: FIFOs, pipes, sockets and terminals.
bool mayWait(const QString& path) {
    struct stat status {};
    const int result = path == QLatin1String("-")
                           ? ::fstat(STDIN_FILENO, &status)
                           : ::stat(QFile::encodeName(path).constData(), &status);
    if (result != 0)
        return false; // open() reports the problem
    if (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode))
        return true;
    return path == QLatin1String("-") && ::isatty(STDIN_FILENO);
}

} // namespace

ReplayDriver::ReplayDriver(QString path, bool loop, double fromSeconds, QObject* parent)
    : AccelerometerDriver(parent), path_(std::move(path)), loop_(loop),
      from_(std::max(0.0, fromSeconds)) {}

ReplayDriver::~ReplayDriver() {
    if (thread_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        space_.notify_all();
        reader_->interrupt();
        thread_.join();
    }
}

QString ReplayDriver::name() const {
    return path_ == QLatin1String("-") ? QStringLiteral("standard input")
                                       : QFileInfo(path_).fileName();
}

QString ReplayDriver::description() const {
    double rate = 0.0;
    {
        std::lock_guard lock(mutex_);
        rate = rate_;
    }
    const QString own = rate > kFastestServiceRate
                            ? QStringLiteral(", recorded at %1 Hz").arg(std::round(rate))
                            : QString();
    return QStringLiteral("replay: %1%2%3")
        .arg(name(), own, loop_ ? QStringLiteral(" (loop)") : QString());
}

std::unique_ptr<RecordingReader> ReplayDriver::makeReader() const {
    auto reader = std::make_unique<RecordingReader>(path_);
    reader->setRate(givenRate_);
    return reader;
}

bool ReplayDriver::start(QString* error) {
    reader_ = makeReader();
    stream_ = mayWait(path_);
    if (stream_) {
        // A stream cannot be read twice.
        loop_ = false;
        thread_ = std::thread(&ReplayDriver::readInBackground, this);
        return true;
    }
    QString reason;
    if (!reader_->open(&reason)) {
        if (error)
            *error = reason;
        return false;
    }
    opened_ = true;
    format_ = reader_->format();
    gravity_ = reader_->hasGravity();
    notice_ = reader_->notice();
    rate_ = reader_->rate();
    return true;
}

void ReplayDriver::readInBackground() {
    QString error;
    if (!reader_->open(&error)) {
        std::lock_guard lock(mutex_);
        ended_ = true;
        endError_ = error;
        return;
    }
    {
        std::lock_guard lock(mutex_);
        opened_ = true;
        format_ = reader_->format();
        gravity_ = reader_->hasGravity();
        notice_ = reader_->notice();
        rate_ = reader_->rate();
    }
    Acceleration row;
    while (reader_->next(&row)) {
        std::unique_lock lock(mutex_);
        space_.wait(lock, [this] { return stopping_ || queue_.size() < kQueueRows; });
        if (stopping_)
            return;
        queue_.push_back(row);
    }
    std::lock_guard lock(mutex_);
    ended_ = true;
    endError_ = reader_->error();
    endWarning_ = reader_->warning();
}

ReplayDriver::Fetch ReplayDriver::fetch(Acceleration* row) {
    if (!stream_)
        return reader_ && reader_->next(row) ? Fetch::Row : Fetch::End;
    std::lock_guard lock(mutex_);
    if (!queue_.empty()) {
        *row = queue_.front();
        queue_.pop_front();
        space_.notify_one();
        return Fetch::Row;
    }
    return ended_ ? Fetch::End : Fetch::Waiting;
}

void ReplayDriver::announceGravity() {
    if (gravityTold_)
        return;
    bool opened = false;
    RecordingFormat format{};
    bool gravity = true;
    QString notice;
    {
        std::lock_guard lock(mutex_);
        opened = opened_;
        format = format_;
        gravity = gravity_;
        notice = notice_;
    }
    if (!opened)
        return;
    gravityTold_ = true;
    if (!notice.isEmpty())
        emit statusMessage(notice);
    const bool decided = formatInfo(format).gravity == Gravity::FromData;
    if (!gravity)
        emit statusMessage(
            QStringLiteral("%1 holds no gravity%2: the graph sits near 0 and the gauges read "
                           "motion only")
                .arg(name(),
                     decided ? QStringLiteral(" (its first rows average near 0 g)") : QString()));
    else if (decided)
        emit statusMessage(
            QStringLiteral("%1 holds gravity (its first rows average about 1 g)").arg(name()));
}

void ReplayDriver::finish(const QString& message, MessageKind kind) {
    finished_ = true;
    emit statusMessage(message, kind);
}

// At the end of the rows: false when the replay is over (announced), true when a loop began
// its next pass.
bool ReplayDriver::nextPass() {
    QString error, warning;
    if (stream_) {
        std::lock_guard lock(mutex_);
        error = endError_;
        warning = endWarning_;
    } else if (reader_) {
        error = reader_->error();
        warning = reader_->warning();
    }
    if (!error.isEmpty()) {
        finish(error, MessageKind::Lost);
        return false;
    }
    const QString skipped = warning.isEmpty() ? QString() : QStringLiteral("; ") + warning;
    if (loop_ && passRows_ > 1 && passLast_ > 0.0) {
        // The last row holds for one mean row interval before the loop starts again, so that
        // a looped recording keeps its rhythm.
        passOffset_ += passLast_ + passLast_ / double(passRows_ - 1);
        passRows_ = 0;
        passLast_ = 0.0;
        emit statusMessage(
            QStringLiteral("Replay of %1 finished; starting again%2").arg(name(), skipped));
        reader_ = makeReader();
        QString problem;
        if (!reader_->open(&problem)) {
            finish(problem, MessageKind::Lost);
            return false;
        }
        return true;
    }
    finish(QStringLiteral("Replay of %1 finished%2").arg(name(), skipped), MessageKind::Notice);
    return false;
}

std::optional<Acceleration> ReplayDriver::read(double now) {
    if (finished_ || !reader_)
        return std::nullopt;
    announceGravity();
    const double window = previousRead_ < 0.0 ? 0.0 : std::min(now - previousRead_, kLongestMean);
    previousRead_ = now;
    double sum[3] = {0.0, 0.0, 0.0};
    int summed = 0;
    bool advanced = false;
    for (;;) {
        if (!ahead_) {
            Acceleration row;
            const Fetch fetched = fetch(&row);
            if (fetched == Fetch::Waiting)
                break;
            if (fetched == Fetch::End) {
                if (nextPass())
                    continue;
                break;
            }
            if (passRows_ > 0 && row.timestamp > passLast_)
                passLast_ = row.timestamp;
            ++passRows_;
            row.timestamp += passOffset_;
            ahead_ = row;
        }
        if (firstRead_ < 0.0)
            firstRead_ = now;
        const double t = from_ + (now - firstRead_) + kTimeTolerance;
        if (ahead_->timestamp > t)
            break;
        if (ahead_->timestamp > t - window) {
            sum[0] += ahead_->x;
            sum[1] += ahead_->y;
            sum[2] += ahead_->z;
            ++summed;
        }
        current_ = ahead_;
        ahead_.reset();
        advanced = true;
    }
    if (advanced)
        lastNewRow_ = now;
    if (!current_)
        return std::nullopt;
    // The last row of a finished replay is delivered once; a silent stream stops delivering.
    if (finished_ && !advanced)
        return std::nullopt;
    if (stream_ && !ahead_ && !advanced && now - lastNewRow_ > kStreamSilence)
        return std::nullopt;
    Acceleration reading = *current_;
    if (summed > 1) {
        reading.x = sum[0] / summed;
        reading.y = sum[1] / summed;
        reading.z = sum[2] / summed;
    }
    reading.timestamp = now;
    return reading;
}

} // namespace sensors

namespace sensors {

SourceKind ReplayDriver::sourceKind() {
    SourceKind kind;
    kind.kind = QStringLiteral("replay");
    kind.usage = QStringLiteral("replay:FILE");
    kind.create = [](const QString& argument, const SourceRequest& request, const AxisMap&,
                     QString* error) -> std::unique_ptr<AccelerometerDriver> {
        if (argument.isEmpty()) {
            *error = QStringLiteral("Unusable source 'replay:': name the file, e.g. "
                                    "replay:ride.csv");
            return nullptr;
        }
        auto driver = std::make_unique<ReplayDriver>(argument, request.loop);
        driver->setRate(request.rate);
        if (!driver->start(error))
            return nullptr;
        return driver;
    };
    return kind;
}

} // namespace sensors
