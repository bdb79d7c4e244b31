#include "features/analysis/HeadlessAnalysis.h"

#include "features/analysis/PlotDrawing.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonValue>
#include <algorithm>
#include <cmath>
#include <cstdio>

namespace analysis {

namespace {

const char* const kJsonNames[kSeriesCount] = {"x", "y", "z", "magnitude"};

QString number(double value, int decimals) {
    return QString::number(value, 'f', decimals);
}

QString frequency(const std::optional<double>& hz) {
    // Slow swings of a ride lie far below 1 Hz; keep three figures of them.
    return hz ? number(*hz, *hz < 1.0 ? 3 : 2) : QStringLiteral("-");
}

// The columns hold 32-bit floats; six decimals (microseconds, micro-g) keep every digit they
// have without printing float noise such as 9.990734100341797.
double tidy(double value) {
    return std::round(value * 1e6) / 1e6;
}

} // namespace

QJsonObject statisticsJson(const SpanStatistics& stats) {
    QJsonObject out;
    out.insert(QStringLiteral("duration_s"), tidy(stats.duration));
    out.insert(QStringLiteral("samples"), qint64(stats.samples));
    out.insert(QStringLiteral("rate_hz"), tidy(stats.rateHz));
    out.insert(QStringLiteral("from_s"), tidy(stats.from));
    out.insert(QStringLiteral("to_s"), tidy(stats.to));
    for (int s = 0; s < kSeriesCount; ++s) {
        const SeriesStatistics& series = stats.series[std::size_t(s)];
        QJsonObject numbers;
        numbers.insert(QStringLiteral("min"), tidy(series.min));
        numbers.insert(QStringLiteral("max"), tidy(series.max));
        numbers.insert(QStringLiteral("mean"), tidy(series.mean));
        numbers.insert(QStringLiteral("rms"), tidy(series.rms));
        numbers.insert(QStringLiteral("peak_time_s"), tidy(series.peakTime));
        numbers.insert(QStringLiteral("dominant_hz"),
                       series.dominantHz ? QJsonValue(tidy(*series.dominantHz)) : QJsonValue());
        out.insert(QLatin1String(kJsonNames[s]), numbers);
    }
    return out;
}

QString statisticsText(const QString& fileName, const SpanStatistics& stats) {
    QString text;
    text += QStringLiteral("%1\n").arg(fileName);
    text +=
        QStringLiteral("Span:      %1 s to %2 s\n").arg(number(stats.from, 3), number(stats.to, 3));
    text += QStringLiteral("Duration:  %1 s\n").arg(number(stats.duration, 3));
    text += QStringLiteral("Samples:   %1\n").arg(stats.samples);
    text += QStringLiteral("Mean rate: %1 per second\n\n").arg(number(stats.rateHz, 2));
    text += QStringLiteral(
        "        min g    max g   mean g    rms g   peak g  peak at s  dominant Hz\n");
    for (int s = 0; s < kSeriesCount; ++s) {
        const SeriesStatistics& series = stats.series[std::size_t(s)];
        text += QStringLiteral("%1%2%3%4%5%6%7%8\n")
                    .arg(seriesName(Series(s)), -4)
                    .arg(number(series.min, 3), 9)
                    .arg(number(series.max, 3), 9)
                    .arg(number(series.mean, 3), 9)
                    .arg(number(series.rms, 3), 9)
                    .arg(number(series.peak, 3), 9)
                    .arg(number(series.peakTime, 3), 11)
                    .arg(frequency(series.dominantHz), 13);
    }
    return text;
}

int runHeadlessAnalysis(const platform::LaunchOptions& options) {
    RecordingSeries recording;
    QString error;
    if (!recording.load(options.analyze, &error, options.rate)) {
        std::fprintf(stderr, "wobblestar: %s\n", qPrintable(error));
        return kRecordingRefused;
    }
    const double from = options.from >= 0.0 ? options.from : 0.0;
    const double to = options.to >= 0.0 ? options.to : recording.duration();
    const SpanStatistics stats = spanStatistics(recording, from, to);
    if (stats.samples == 0) {
        std::fprintf(
            stderr, "wobblestar: \"%s\" has no samples from %s s to %s s (it lasts %s s)\n",
            qPrintable(options.analyze), qPrintable(number(from, 3)),
            qPrintable(number(std::max(from, to), 3)), qPrintable(number(recording.duration(), 3)));
        return kRecordingRefused;
    }

    const QByteArray out =
        options.json ? QJsonDocument(statisticsJson(stats)).toJson(QJsonDocument::Indented)
                     : statisticsText(QFileInfo(options.analyze).fileName(), stats).toUtf8();
    std::fwrite(out.constData(), 1, std::size_t(out.size()), stdout);
    std::fflush(stdout);

    if (!options.plot.isEmpty()) {
        PlotView view;
        view.from = from;
        view.to = to > from ? to : from + 1.0;
        if (!writePlot(options.plot, QSize(options.plotWidth, options.plotHeight), recording, view,
                       &error)) {
            std::fprintf(stderr, "wobblestar: %s\n", qPrintable(error));
            return kPlotNotWritten;
        }
    }
    return kAnalysisDone;
}

} // namespace analysis
