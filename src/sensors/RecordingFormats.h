#pragma once

#include <QString>
#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace sensors {

// The file formats a recording can be read from, told apart by their first line (never by the
// file's name). Each is converted to g in the device convention: face up (0, 0, -1), upright
// portrait (0, -1, 0), X right, Y up, Z out of the screen. What each holds, its units and sign
// are in its row of recordingFormats().
enum class RecordingFormat {
    Wobblestar,
    Phyphox,
    PhyphoxLinear,
    PhyphoxSimple,
    SensorLogger,
    PhysicsToolbox,
    IosLog,
    AndroidLog,
    PrinterAccelerometer,
    VibrationLogger,
    SensorLoggerNamed,
    CoreMotion,
    NamedAxes,
};

// What the time column holds.
enum class TimeKind {
    Seconds,          // a decimal number, times the row's time scale
    WholeNanoseconds, // an integer count of ns; differences stay exact before turning into s
    ClockOfDay,       // hh:mm:ss:fraction, a recording may run past midnight
    SampleCount,      // the sample's number, at the rate the file states (or --rate)
    RowNumber,        // no time column: rows follow each other at the rate given with --rate
};

// Whether the readings hold gravity, or only the data can tell (the mean magnitude of the
// first rows).
enum class Gravity { In, Out, FromData };

// How a format's first line is recognised.
enum class HeaderKind {
    Exact,   // `first` is the whole header, lowered, without spaces, tabs and quotes
    Numbers, // no header: the first line is already a row, starting with an integer
    Named,   // the first column is `first` (unless null) and the header holds the `has` columns
    Pattern, // the row's own `locate` finds the columns by the shape of their names
};

struct HeaderFields;
struct RowLayout;
struct RecordingFormatInfo;
enum class Located { No, Yes, Refused };
using Locate = Located (*)(const RecordingFormatInfo& row, const HeaderFields& header, double rate,
                           RowLayout* layout, QString* error);

// One format: what --list-formats prints, how it is recognised, which columns hold the time
// and the axes, their units and sign, and the kind of time.
struct RecordingFormatInfo {
    RecordingFormat format;
    const char* name;
    const char* example;
    const char* units;

    HeaderKind header;
    const char* first;
    std::array<const char*, 2> has;
    // Time, x, y and z as the format names them (matched ignoring case); for Pattern rows
    // `locate` finds them.
    std::array<const char*, 4> columns;
    Locate locate;

    TimeKind time;
    double timeScale; // the time column's unit in seconds
    // g per unit of the readings (1 / 9.80665 for m/s²); 0 when the header does not say and
    // the data decides (its magnitude: about 1, 9.8 or 9807 with gravity in).
    double unit;
    // +1 where face up reads z = -1 (gravity itself, as we and Core Motion report it); -1
    // where it reads +1 g (the reaction to gravity, as Android, chips and printers report it).
    int sign;
    Gravity gravity;
};

// Every format the reader knows, in the order --list-formats prints them.
const std::vector<RecordingFormatInfo>& recordingFormats();
const RecordingFormatInfo& formatInfo(RecordingFormat format);

// The header split into fields, as the rows' `locate` functions see it.
struct HeaderFields {
    std::string_view line;
    char separator = ',';
    std::vector<std::string_view> fields; // unquoted and trimmed
    std::vector<std::string> names;       // the same, lowered
    int column(std::string_view lowered) const;
};

// How to read the rows under a recognised header.
struct RowLayout {
    const RecordingFormatInfo* format = nullptr;
    char separator = ',';
    bool decimalComma = false;
    std::size_t fieldCount = 0;
    const char* shape = "";       // the fields as a message names them
    std::array<int, 4> columns{}; // time, x, y, z; time -1 for TimeKind::RowNumber
    // Columns added to x, y and z (Core Motion's user acceleration on its gravity); -1: none.
    std::array<int, 3> added{-1, -1, -1};
    bool countField = false; // Android log rows with the number of values after the time
    TimeKind time = TimeKind::Seconds;
    double timeScale = 1.0;
    double unit = 1.0; // 0: decided from the data
    int sign = 1;
};

// Recognises `header`, the first line that is not blank or a comment, by the rows of
// recordingFormats(). `rate` is the file's rate in Hz as its comments state it or the user
// gives it (0: unknown). On failure returns false and sets `error` to the reason, e.g.
// `expected a column "Acceleration z (m/s^2)" in the header`.
bool matchHeader(std::string_view header, double rate, RowLayout* layout, QString* error);

// The rate in Hz a comment line states, as in "# Config: data_rate = 2000.0 Hz, ..."; 0 when
// it states none.
double statedRate(std::string_view comment);

// The file dialogs' filter for recordings: the endings loggers give their files, then all
// files (a format is told by its contents, not its name).
QString recordingFileFilter();

} // namespace sensors
