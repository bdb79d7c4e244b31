#pragma once

#include "sensors/Acceleration.h"

#include <QString>
#include <string_view>
#include <vector>

namespace platform {

// The file formats a recording can be replayed from, told apart by their first line.
enum class RecordingFormat {
    // Header `time,x,y,z`: seconds from the start, g in the device convention.
    Wobblestar,
    // A phyphox export of acceleration: header `"Time (s)","Acceleration x (m/s^2)",...`,
    // possibly with more columns; comma, tab or semicolon between fields; a decimal point or,
    // when the separator is not a comma, a decimal comma; m/s² with Android's sign.
    Phyphox,
    // An Android sensor log with no header: rows `timestamp_ns, 3, x, y, z` (3 is the number
    // of values that follow), m/s² with Android's sign.
    AndroidLog,
};

// A parsed recording: rows in file order, each in g in the device convention, with
// `timestamp` in seconds since the first row (so the first row is at 0 and times never
// decrease).
struct Recording {
    RecordingFormat format = RecordingFormat::Wobblestar;
    std::vector<Acceleration> rows;
};

// Why a text is not a recording: the 1-based line and what was expected there.
struct RecordingFault {
    int line = 0;
    QString expected;
};

// Parses the whole text of a recording; on a fault fills `fault` (when not null) and returns
// an empty recording. Nothing from a refused text is kept: all or nothing. Blank lines are
// skipped; an empty text, or a header without rows, is a fault.
Recording parseRecording(std::string_view text, RecordingFault* fault);

// Reads and parses `path`. On failure returns an empty recording and sets `error` to one line
// naming the file, the line and what was expected there, e.g.
// `Cannot replay "ride.csv", line 7: expected 4 fields (time,x,y,z), found 3`.
Recording loadRecording(const QString& path, QString* error);

} // namespace platform
