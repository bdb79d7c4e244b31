#include "features/HeadlessRecording.h"

#include "features/RecordingLog.h"

#include <QLocale>
#include <cmath>

namespace features::HeadlessRecording {

std::optional<int> periodIndexForArgument(const QString& argument) {
    QString text = argument.trimmed();
    if (text.endsWith(QLatin1Char('s')))
        text.chop(1);
    bool ok = false;
    const double seconds = QLocale::c().toDouble(text, &ok);
    if (!ok)
        return std::nullopt;
    for (int index = 0; const auto period = RecordingLog::periodForIndex(index); ++index) {
        if (std::abs(seconds - period->seconds) < 1e-9)
            return index;
    }
    return std::nullopt;
}

std::optional<Request> requestFromOptions(const features::LaunchOptions& options, QString* error) {
    error->clear();
    const bool durationGiven = options.duration != 0.0;
    if (options.record.isEmpty()) {
        if (durationGiven || !options.csv.isEmpty())
            *error = QStringLiteral("--duration and --csv belong to --record PERIOD (see --help)");
        return std::nullopt;
    }
    const std::optional<int> index = periodIndexForArgument(options.record);
    if (!index) {
        *error = QStringLiteral("--record needs a period of 0.10, 0.25, 0.50 or 0.75 seconds, "
                                "not '%1'")
                     .arg(options.record);
        return std::nullopt;
    }
    if (!durationGiven) {
        *error = QStringLiteral("--record needs --duration SECONDS: how long to record");
        return std::nullopt;
    }
    if (!std::isfinite(options.duration) || options.duration <= 0.0) {
        *error = QStringLiteral("--duration needs a positive, finite number of seconds");
        return std::nullopt;
    }
    if (!options.screenshot.isEmpty()) {
        *error = QStringLiteral("--record and --screenshot cannot be combined");
        return std::nullopt;
    }
    return Request{*index, options.duration, options.csv};
}

} // namespace features::HeadlessRecording
