#pragma once

#include "sensors/Acceleration.h"

#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

class QIODevice;

namespace platform {

// The file formats a recording can be replayed from, told apart by their first line (never by
// the file's name). Each is converted to g in the device convention: face up (0, 0, -1),
// upright portrait (0, -1, 0), X right, Y up, Z out of the screen.
enum class RecordingFormat {
    // Header `time,x,y,z`: seconds, g in the device convention (what Wobblestar writes).
    Wobblestar,
    // phyphox "Acceleration with g": `"Time (s)","Acceleration x (m/s^2)",...`. m/s² with
    // Android's sign (the reaction to gravity: face up reads z = +9.81), so g = -v / 9.80665.
    Phyphox,
    // phyphox "Acceleration (without g)": `"Time (s)","Linear Acceleration x (m/s^2)",...`.
    // Same units and sign; gravity removed by the phone.
    PhyphoxLinear,
    // phyphox's simple-experiment export: `"Time (s)","X (m/s^2)","Y (m/s^2)","Z (m/s^2)"`.
    // Same units and sign; with or without gravity, which only the data tells.
    PhyphoxSimple,
    // Sensor Logger `time,seconds_elapsed,z,y,x`: time in ns since the epoch, seconds_elapsed
    // in s, m/s² in Android's convention (TotalAcceleration.csv with gravity, Accelerometer.csv
    // without: the header is the same, the data decides).
    SensorLogger,
    // Physics Toolbox g-force meter `time;gFx;gFy;gFz;TgF`: clock time of day
    // (hh:mm:ss:fraction), g-force as normal force over weight, so face up reads gFz = +1 and
    // g = -v.
    PhysicsToolbox,
    // iOS loggers: columns `...AccelerationX`, `...AccelerationY`, `...AccelerationZ` in g with
    // Core Motion's sign (face up reads z = -1, already ours) and a `...Timestamp...` column in s.
    IosLog,
    // Android sensor log without a header: `timestamp_ns, 3, x, y, z` (3 values follow) or
    // `timestamp_ns, x, y, z`; SensorEvent values in m/s², g = -v / 9.80665.
    AndroidLog,
};

// A format as the user meets it: its name, one example header (or row) and what its numbers
// mean.
struct RecordingFormatInfo {
    RecordingFormat format;
    const char* name;
    const char* example;
    const char* units;
};

// Every format the reader knows, in the order --list-formats prints them.
const std::vector<RecordingFormatInfo>& recordingFormats();
QString formatName(RecordingFormat format);
// The file dialogs' filter for recordings: the endings the loggers of recordingFormats() give
// their files, then all files (a format is told by its contents, not its name).
QString recordingFileFilter();

// Readings beyond this are refused as a damaged file (no phone accelerometer measures them).
inline constexpr double kMostPlausibleG = 1000.0;
// A larger step between two rows is refused: a recording is one session, not two glued.
inline constexpr double kLongestTimeStep = 3600.0;
// A line longer than this is refused, so that endless input without line ends (/dev/zero)
// cannot grow the buffer.
inline constexpr std::size_t kLongestLine = 1 << 20;

// Reads one recording row by row with a fixed buffer, from a file, a QIODevice, or standard
// input ("-"). Memory stays bounded whatever the size of the input; FIFOs and pipes are read as
// their writer writes.
//
//   RecordingReader reader(QStringLiteral("ride.csv"));
//   QString error;
//   if (!reader.open(&error)) ... // "Cannot replay "ride.csv", line 1: expected a header ..."
//   Acceleration row;
//   while (reader.next(&row)) ...
//   if (!reader.error().isEmpty()) ... // a later bad row, with its line
class RecordingReader {
public:
    explicit RecordingReader(QString path);
    // Reads from `device` (opened for reading, not owned); `name` names it in messages.
    RecordingReader(QIODevice* device, QString name);
    // Reads `text`, which must outlive the reader.
    RecordingReader(std::string_view text, QString name);
    ~RecordingReader();
    RecordingReader(const RecordingReader&) = delete;
    RecordingReader& operator=(const RecordingReader&) = delete;

    // Reads and checks the header and the first 32 rows (of a FIFO or pipe only the first,
    // unless only the data tells whether gravity is in). On failure returns false and sets
    // `error` (when not null) to one line naming the file, the line and the reason.
    bool open(QString* error);
    RecordingFormat format() const { return format_; }
    // False for a linear-acceleration file (gravity removed); for the formats whose header
    // cannot tell, decided from the mean magnitude of the first rows.
    bool hasGravity() const { return hasGravity_; }

    // The next row in g, device convention, `timestamp` in seconds since the first row. False
    // at the end or on a fault (then error() says which).
    bool next(Acceleration* row);
    // Empty at a clean end; else file, line and reason.
    QString error() const;
    // The 1-based line of the fault and what was wrong there; 0 and empty without one.
    int errorLine() const { return errorLine_; }
    QString errorReason() const { return errorReason_; }
    // Set when something was skipped, e.g. an incomplete last line; empty otherwise.
    QString warning() const { return warning_; }

    // Ends a read that waits for input (a FIFO without data); callable from any thread. The
    // reader then stops with an error.
    void interrupt();

    class Source;

private:
    enum class TimeKind { Seconds, WholeNanoseconds, ClockOfDay };
    enum class LineResult { Line, End, Fault };

    LineResult nextLine(std::string_view* line, bool* terminated);
    bool fill();
    bool fail(const QString& reason);
    bool detect(std::string_view header);
    bool detectTable(std::string_view header);
    bool parseRow(std::string_view line, Acceleration* row);
    bool parseTime(std::string_view field, double* seconds);
    bool add(double time, const std::array<double, 3>& raw, Acceleration* row);
    bool readRow(Acceleration* row);

    QString name_;
    std::unique_ptr<Source> source_;

    // The bytes read and not yet consumed are buffer_[begin_, end_).
    std::unique_ptr<char[]> buffer_;
    std::size_t capacity_ = 0;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool sourceEnded_ = false;
    int line_ = 0;

    RecordingFormat format_ = RecordingFormat::Wobblestar;
    bool hasGravity_ = true;
    char separator_ = ',';
    bool decimalComma_ = false;
    TimeKind timeKind_ = TimeKind::Seconds;
    double timeScale_ = 1.0;
    std::array<int, 4> columns_{}; // time, x, y, z
    double valueScale_ = 1.0;      // source unit and sign to g in our convention
    std::size_t fieldCount_ = 0;
    bool countField_ = false; // Android log rows with the number of values
    const char* shape_ = "";
    std::vector<std::string_view> fields_;

    bool started_ = false;
    double firstTime_ = 0.0;
    double previousTime_ = 0.0;
    std::int64_t firstStamp_ = 0;
    double dayOffset_ = 0.0;

    // Rows read by open(), served first by next().
    std::vector<Acceleration> probe_;
    std::size_t probed_ = 0;
    bool opened_ = false;
    bool failed_ = false;
    int errorLine_ = 0;
    QString errorReason_;
    QString warning_;
};

} // namespace platform
