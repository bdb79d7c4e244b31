#pragma once

#include "features/CommandLine.h"
#include "features/analysis/RecordingSeries.h"
#include "features/analysis/SpanStatistics.h"

#include <QJsonObject>
#include <QString>

namespace features::analysis {

// Exit statuses of wobblestar --analyze.
inline constexpr int kAnalysisDone = 0;
inline constexpr int kPlotNotWritten = 1;
inline constexpr int kRecordingRefused = 2;

// The numbers of a span as JSON: duration_s, samples, rate_hz, from_s, to_s, and x, y, z,
// magnitude each with min, max, mean, rms, peak_time_s and dominant_hz (null when the series
// has no dominant frequency).
QJsonObject statisticsJson(const SpanStatistics& stats);

// The same numbers as a small table for people.
QString statisticsText(const QString& fileName, const SpanStatistics& stats);

// wobblestar --analyze FILE [--from S] [--to S] [--json] [--plot OUT.png]: prints the numbers
// to standard output, messages to standard error, and returns the exit status. Needs a
// QGuiApplication for --plot.
int runHeadlessAnalysis(const features::LaunchOptions& options);

} // namespace features::analysis
