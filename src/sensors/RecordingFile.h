#pragma once

#include "sensors/Acceleration.h"
#include "sensors/RecordingReader.h"

#include <QString>
#include <string_view>
#include <vector>

namespace sensors {

// A whole recording in memory: rows in file order, each in g in the device convention, with
// `timestamp` in seconds since the first row (so the first row is at 0 and times never
// decrease). For playing, RecordingReader streams the same rows without holding them.
struct Recording {
    RecordingFormat format = RecordingFormat::Wobblestar;
    bool hasGravity = true;
    // The file's own rate in Hz (see RecordingReader::rate()); 0 when unknown.
    double rate = 0.0;
    // What was decided from the data beyond what the header says; empty when nothing was.
    QString notice;
    // Set when the last line was incomplete and skipped.
    QString warning;
    std::vector<Acceleration> rows;
};

// Why a text is not a recording: the 1-based line and what was expected there.
struct RecordingFault {
    int line = 0;
    QString expected;
};

// Parses the whole text of a recording; on a fault fills `fault` and returns
// an empty recording. Nothing from a refused text is kept: all or nothing. Blank lines are
// skipped; an empty text, or a header without rows, is a fault; an incomplete last line is
// skipped with a warning.
Recording parseRecording(std::string_view text, RecordingFault* fault);

// Reads and parses `path` ("-" for standard input). On failure returns an empty recording and
// sets `error` to one line naming the file, the line and what was expected there, e.g.
// `Cannot replay "ride.csv", line 7: expected 4 fields (time,x,y,z) separated by ',', found 3`.
Recording loadRecording(const QString& path, QString* error);

} // namespace sensors
