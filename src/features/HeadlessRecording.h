#pragma once

#include "features/CommandLine.h"

#include <QString>
#include <optional>

// The command line of a recording without a display:
//   wobblestar --record 0.10|0.25|0.50|0.75 --duration SECONDS [--source ...] [--csv FILE]
namespace features::HeadlessRecording {

// Exit status for wrong arguments.
inline constexpr int kUsageExitStatus = 2;

struct Request {
    int periodIndex = 0;   // index into RecordingLog::periodForIndex, 0..3
    double duration = 0.0; // seconds, > 0 and finite
    QString csvPath;       // empty: no full-rate file
};

// The period index of a --record argument: "0.10", "0.25", "0.50", "0.75", also written "0.1",
// ".5" or with a trailing "s" ("0.10s", as the log writes it). nullopt for anything else.
std::optional<int> periodIndexForArgument(const QString& argument);

// Checks the recording options after parseLaunchOptions() succeeded.
// - No --record, --duration or --csv: returns nullopt with `error` left empty (a normal start).
// - A complete, valid request: returns it.
// - Anything else: returns nullopt and sets `error` to one line for the user; print it as
//   "wobblestar: <error>" on standard error and exit with kUsageExitStatus.
std::optional<Request> requestFromOptions(const features::LaunchOptions& options, QString* error);

} // namespace features::HeadlessRecording
