#pragma once

#include "sensors/Acceleration.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QTimer>

namespace sensors {

// Writes every reading of a recording, as it arrives, to a CSV file that --source replay: can
// play back:
//
//   time,x,y,z
//   0.000000,0.0123,-0.98,-0.051
//
// time in seconds since the recording's start (microseconds), x, y, z in g in the device's axes,
// each with the fewest digits that read back as the same 32-bit float. Lines go through a small
// buffer that reaches the disk at least once a second; nothing else is held in memory.
//
// A write error (full disk, file system gone read-only) stops the writing, keeps what reached the
// file, and is reported once through failed() and errorString(); the caller shows it.
class SampleCsvWriter : public QObject {
    Q_OBJECT
public:
    // $XDG_DATA_HOME/Wobblestar/recordings (~/.local/share/Wobblestar/recordings).
    static QString defaultDirectory();
    // <defaultDirectory>/YYYY-MM-DD_HH-MM-SS.csv for a recording started at `started` (local).
    static QString defaultPath(const QDateTime& started);

    enum class Existing {
        KeepIt,  // the new file gets "_2", "_3", ... before ".csv" (recordings in one second)
        Replace, // for a file the user named (--csv FILE)
    };

    // Writes to `path` once open() succeeds.
    explicit SampleCsvWriter(const QString& path, Existing existing = Existing::KeepIt,
                             QObject* parent = nullptr);
    ~SampleCsvWriter() override; // closes, flushing what is buffered

    // Creates the folder and the file and writes the header line. False with errorString()
    // set when that fails.
    bool open();

    // Times of later readings are counted from this reading timestamp (seconds of the
    // accelerometer service's clock). Without it, the first reading written is time 0.
    void setTimeOrigin(double timestamp);

    // Writes one reading. Does nothing after an error or before open().
    void append(const Acceleration& reading);
    // Writes one line with an explicit time in seconds since the start.
    void append(double time, float x, float y, float z);

    // How long a written line may wait in the buffer; 1000 ms unless a test shortens it.
    void setFlushInterval(int milliseconds) { flushIntervalMs_ = milliseconds; }

    // Flushes and closes the file; false (and errorString()) when the last data could not be
    // written.
    bool close();

    // The file actually written (see the constructor).
    QString path() const { return path_; }
    bool isOpen() const { return file_.isOpen(); }
    bool hasFailed() const { return failed_; }
    // One sentence naming the file and the cause; empty while all is well.
    QString errorString() const { return error_; }

signals:
    // Emitted once, at the first write error, with errorString().
    void failed(const QString& message);

private:
    bool flush();
    void fail(const QString& cause);

    QString path_;
    Existing existing_;
    QFile file_;
    // Lines not yet written; written out at kBufferSize or after the flush interval.
    static constexpr qsizetype kBufferSize = 16384;
    QByteArray pending_;
    QTimer flushTimer_;
    QElapsedTimer sinceFlush_;
    int flushIntervalMs_ = 1000;
    double origin_ = 0.0;
    bool hasOrigin_ = false;
    bool failed_ = false;
    QString error_;
};

} // namespace sensors
