#pragma once

#include "sensors/Acceleration.h"
#include "sensors/LineBuffer.h"
#include "sensors/RecordingFormats.h"

#include <QString>
#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

class QIODevice;

namespace sensors {

// Readings beyond this are refused as a damaged file (no phone accelerometer measures them).
inline constexpr double kMostPlausibleG = 1000.0;
// A larger step between two rows is refused: a recording is one session, not two glued.
inline constexpr double kLongestTimeStep = 3600.0;

// Reads one recording row by row with a fixed buffer, from a file, a QIODevice, or standard
// input ("-"). Memory stays bounded whatever the size of the input; FIFOs and pipes are read as
// their writer writes. The formats are the rows of recordingFormats().
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

    // The rate in Hz for a file that states none and has no time column (given as --rate):
    // its rows follow each other at this rate. Call before open(); 0 (the default): none.
    void setRate(double hz) { givenRate_ = hz; }

    // Reads and checks the header and the first 32 rows (of a FIFO or pipe only the first,
    // unless only the data tells whether gravity is in or the unit). On failure returns false
    // and sets `error` to one line naming the file, the line and the reason.
    bool open(QString* error);
    RecordingFormat format() const { return format_; }
    // False for a linear-acceleration file (gravity removed); for the formats whose header
    // cannot tell, decided from the mean magnitude of the first rows.
    bool hasGravity() const { return hasGravity_; }
    // The file's own rate in Hz: as its comments state it, as given for a file without
    // times, else the mean over its first rows; 0 when unknown (a stream's single first row).
    double rate() const;
    // What was decided beyond what the header says (the unit, from the data; the times of a
    // file without them, from the rate its comments state or the one given), in one sentence
    // for the user; empty when the header said everything.
    QString notice() const { return notice_; }

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

private:
    LineBuffer::Result nextLine(std::string_view* line, bool* terminated);
    bool fail(const QString& reason);
    bool readHeader(std::string_view* header);
    bool isComment(std::string_view line);
    bool detect(std::string_view header);
    bool probe();
    void decideUnit();
    bool parseRow(std::string_view line, Acceleration* row);
    bool parseTime(std::string_view field, double* seconds);
    bool parseValue(std::string_view field, std::size_t axis, double* value);
    bool add(double time, const std::array<double, 3>& raw, Acceleration* row);
    bool readRow(Acceleration* row);
    double rateForRows() const { return statedRate_ > 0.0 ? statedRate_ : givenRate_; }

    QString name_;
    LineBuffer lines_;
    int line_ = 0;

    RowLayout layout_;
    RecordingFormat format_ = RecordingFormat::Wobblestar;
    bool hasGravity_ = true;
    double valueScale_ = 1.0; // source unit and sign to g in our convention
    bool unitPending_ = false;
    double givenRate_ = 0.0;
    double statedRate_ = 0.0;
    double firstRowsRate_ = 0.0;
    QString notice_;
    std::vector<std::string_view> fields_;

    bool started_ = false;
    double firstTime_ = 0.0;
    double previousTime_ = 0.0;
    std::int64_t firstStamp_ = 0;
    double dayOffset_ = 0.0;
    std::int64_t rowNumber_ = 0;

    // Rows read by open(), served first by next(), and their lines.
    std::vector<Acceleration> probe_;
    std::vector<int> probeLines_;
    std::size_t probed_ = 0;
    bool opened_ = false;
    bool failed_ = false;
    int errorLine_ = 0;
    QString errorReason_;
    QString warning_;
};

} // namespace sensors
