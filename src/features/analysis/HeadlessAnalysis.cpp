#include "features/analysis/HeadlessAnalysis.h"

#include "features/analysis/PlotDrawing.h"
#include "features/analysis/PlotExport.h"
#include "features/analysis/SpectrumDrawing.h"
#include "sensors/RecordingReader.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace features::analysis {

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

// Densities span many decades; six significant figures of them.
double significant(double value) {
    return QString::number(value, 'g', 6).toDouble();
}

QString spectrumBasisText(const SpanStatistics& stats) {
    const SpectrumBasis& basis = stats.spectrum;
    if (basis.segments == 0)
        return QStringLiteral("Spectrum:  too few samples\n");
    return QStringLiteral("Spectrum:  Welch, Hann window, 50 % overlap, %1-sample segments "
                          "(%2 Hz apart), %3 averaged;\n           dominant Hz from %4\n")
        .arg(basis.segmentLength)
        .arg(number(basis.binHz, basis.binHz < 0.1 ? 4 : 3))
        .arg(basis.segments)
        .arg(basis.wholeSpan ? QStringLiteral("one transform of the whole span")
                             : QStringLiteral("the averaged estimate (the span is too long to "
                                              "hold)"));
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
        QJsonArray peaks;
        for (const SpectralPeak& peak : series.peaks)
            peaks.append(
                QJsonObject{{QStringLiteral("hz"), tidy(peak.hz)},
                            {QStringLiteral("amplitude_g"), tidy(peak.amplitudeG)},
                            {QStringLiteral("psd_g2_per_hz"), significant(peak.psdG2PerHz)}});
        numbers.insert(QStringLiteral("peaks"), peaks);
        QJsonObject bands;
        for (std::size_t b = 0; b < kFrequencyBands.size(); ++b) {
            if (series.bandRms[b])
                bands.insert(QLatin1String(kFrequencyBands[b].name), tidy(*series.bandRms[b]));
        }
        numbers.insert(QStringLiteral("band_rms_g"), bands);
        out.insert(QLatin1String(kJsonNames[s]), numbers);
    }
    const SpectrumBasis& basis = stats.spectrum;
    out.insert(QStringLiteral("spectrum"),
               QJsonObject{{QStringLiteral("method"), QStringLiteral("welch")},
                           {QStringLiteral("window"), QStringLiteral("hann")},
                           {QStringLiteral("overlap"), 0.5},
                           {QStringLiteral("segment_samples"), qint64(basis.segmentLength)},
                           {QStringLiteral("segments"), qint64(basis.segments)},
                           {QStringLiteral("bin_hz"), significant(basis.binHz)},
                           {QStringLiteral("dominant_from"),
                            basis.wholeSpan ? QStringLiteral("whole span")
                                            : QStringLiteral("welch average")}});
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
    text += QLatin1Char('\n') + spectrumBasisText(stats);
    text += QStringLiteral("\nPeaks    Hz: amplitude g, strongest first\n");
    for (int s = 0; s < kSeriesCount; ++s) {
        QString line = QStringLiteral("%1").arg(seriesName(Series(s)), -4);
        for (const SpectralPeak& peak : stats.series[std::size_t(s)].peaks)
            line += QStringLiteral("  %1: %2")
                        .arg(frequency(peak.hz), 9)
                        .arg(number(peak.amplitudeG, 4));
        text +=
            (stats.series[std::size_t(s)].peaks.empty() ? line + QStringLiteral("  none") : line) +
            QLatin1Char('\n');
    }
    text += QStringLiteral("\nBand RMS g");
    for (const FrequencyBand& band : kFrequencyBands)
        text += QStringLiteral("%1").arg(QStringLiteral("%1 Hz").arg(QLatin1String(band.name)), 13);
    text += QLatin1Char('\n');
    for (int s = 0; s < kSeriesCount; ++s) {
        text += QStringLiteral("%1      ").arg(seriesName(Series(s)), -4);
        for (const std::optional<double>& rms : stats.series[std::size_t(s)].bandRms)
            text += QStringLiteral("%1").arg(rms ? number(*rms, 4) : QStringLiteral("-"), 13);
        text += QLatin1Char('\n');
    }
    return text;
}

namespace {

// What one pass over the file gathered: the span's numbers, and its rows when a plot needs them.
struct SpanRead {
    SpanRead(double from, double to) : span(from, to) {}
    SpanAccumulator span;
    RecordingSeries plotted;
    std::size_t rows = 0;
    float lastTime = 0.0f;
    bool wholeFile = true; // false when reading stopped after the span
};

void readSpan(sensors::RecordingReader& reader, double from, bool plotting, SpanRead& read) {
    std::size_t inSpan = 0;
    sensors::Acceleration row, before;
    bool anyBefore = false;
    while (reader.next(&row)) {
        const float t = float(row.timestamp), x = float(row.x), y = float(row.y), z = float(row.z);
        ++read.rows;
        read.lastTime = t;
        const bool within = read.span.add(t, x, y, z);
        // The plot draws the span's edges from the rows just beyond them, so those are kept too.
        if (plotting && double(t) < from) {
            before = row;
            anyBefore = true;
        } else if (plotting && (within || inSpan > 0)) {
            if (anyBefore && read.plotted.isEmpty())
                read.plotted.append(float(before.timestamp), float(before.x), float(before.y),
                                    float(before.z));
            read.plotted.append(t, x, y, z);
        }
        if (within && double(t) >= from) {
            ++inSpan;
        } else if (!within && inSpan > 0) {
            // Past the span; the rest of the file is not needed. An empty span reads on, so
            // that the message can say how long the file lasts.
            read.wholeFile = false;
            break;
        }
    }
}

// The pictures asked for beside the numbers: the span's traces and its spectra.
int writePictures(const features::LaunchOptions& options, SpanRead& read,
                  const SpanStatistics& stats, double from) {
    const QSize size(options.plotWidth, options.plotHeight);
    const PlotTheme theme = options.plotDark ? PlotTheme::Dark : PlotTheme::Light;
    QString error;
    if (!options.plot.isEmpty()) {
        read.plotted.finish();
        PlotView view;
        view.from = from;
        view.to = stats.to > from ? stats.to : from + 1.0;
        if (!writeFigure(options.plot, size,
                         recordingFigure(read.plotted, view, theme, options.plotTitle), &error)) {
            std::fprintf(stderr, "wobblestar: %s\n", qPrintable(error));
            return kPlotNotWritten;
        }
    }
    if (!options.plotPsd.isEmpty()) {
        std::vector<SeriesSpectrum> spectra;
        for (Series s : {Series::X, Series::Y, Series::Z})
            spectra.push_back({s, &read.span.powerSpectrum(s), stats.series[std::size_t(s)].peaks});
        SpectrumStyle style;
        style.theme = theme;
        const QString title =
            options.plotTitle.isEmpty() ? QFileInfo(options.analyze).fileName() : options.plotTitle;
        const QString shown =
            QStringLiteral("%1 s to %2 s").arg(number(from, 3), number(stats.to, 3));
        if (!writeFigure(options.plotPsd, size, spectraFigure(spectra, style, title, shown),
                         &error)) {
            std::fprintf(stderr, "wobblestar: %s\n", qPrintable(error));
            return kPlotNotWritten;
        }
    }
    return kAnalysisDone;
}

} // namespace

int runHeadlessAnalysis(const features::LaunchOptions& options) {
    // One pass over the file: the numbers accumulate row by row, and only the span's rows are
    // held, and only when a plot needs them.
    sensors::RecordingReader reader(options.analyze);
    QString error;
    reader.setRate(options.rate);
    if (!reader.open(&error)) {
        std::fprintf(stderr, "wobblestar: %s\n", qPrintable(error));
        return kRecordingRefused;
    }
    if (!reader.notice().isEmpty())
        std::fprintf(stderr, "wobblestar: %s\n", qPrintable(reader.notice()));
    const double from = options.from >= 0.0 ? options.from : 0.0;
    const double to = options.to >= 0.0 ? options.to : std::numeric_limits<double>::infinity();
    SpanRead read(from, to);
    readSpan(reader, from, !options.plot.isEmpty(), read);
    if (read.wholeFile && (!reader.error().isEmpty() || read.rows == 0)) {
        std::fprintf(
            stderr, "wobblestar: %s\n",
            qPrintable(reader.error().isEmpty()
                           ? QStringLiteral("Cannot replay \"%1\": no rows").arg(options.analyze)
                           : reader.error()));
        return kRecordingRefused;
    }
    const double duration = read.rows < 2 ? 0.0 : double(read.lastTime);
    SpanStatistics stats = read.span.finish();
    if (options.to < 0.0)
        stats.to = duration;
    if (stats.samples == 0) {
        std::fprintf(
            stderr, "wobblestar: \"%s\" has no samples from %s s to %s s (it lasts %s s)\n",
            qPrintable(options.analyze), qPrintable(number(from, 3)),
            qPrintable(number(std::max(from, stats.to), 3)), qPrintable(number(duration, 3)));
        return kRecordingRefused;
    }

    const QByteArray out =
        options.json ? QJsonDocument(statisticsJson(stats)).toJson(QJsonDocument::Indented)
                     : statisticsText(QFileInfo(options.analyze).fileName(), stats).toUtf8();
    std::fwrite(out.constData(), 1, std::size_t(out.size()), stdout);
    std::fflush(stdout);
    return writePictures(options, read, stats, from);
}

} // namespace features::analysis
