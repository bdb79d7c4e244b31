#include "features/analysis/AnalysisWindow.h"
#include "features/analysis/PlotDrawing.h"
#include "features/analysis/PlotWidget.h"
#include "features/analysis/RecordingSeries.h"
#include "features/analysis/SpanStatistics.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <numbers>

using namespace features::analysis;

namespace {

enum class Signal { NoisySine7Hz, Constant, OnePeak };

// Ten seconds at 120 rows per second.
RecordingSeries synthetic(Signal signal) {
    RecordingSeries series;
    QRandomGenerator noise(7);
    for (int i = 0; i < 1200; ++i) {
        const float t = float(i) / 120.0f;
        switch (signal) {
        case Signal::NoisySine7Hz: {
            const float n = float(noise.generateDouble() - 0.5) * 0.4f;
            series.append(t,
                          0.3f + 0.5f * std::sin(2.0f * std::numbers::pi_v<float> * 7.0f * t) + n,
                          0.0f, -1.0f);
            break;
        }
        case Signal::Constant:
            series.append(t, -0.25f, -0.25f, -0.25f);
            break;
        case Signal::OnePeak:
            series.append(t, 0.0f, 0.0f, i == 300 ? -3.0f : 0.0f);
            break;
        }
    }
    series.finish();
    return series;
}

QString coasterPath() {
    return QStringLiteral(WOBBLESTAR_SHARED_DATA "/coaster-phyphox.csv");
}

} // namespace

class TestAnalysis : public QObject {
    Q_OBJECT
private slots:
    void numbersOfTheWholeSpan_data();
    void numbersOfTheWholeSpan();
    void decimationKeepsEveryExtreme_data();
    void decimationKeepsEveryExtreme();
    void coarseLevelKeepsEachBlocksExtremes_data();
    void coarseLevelKeepsEachBlocksExtremes();
    void analyzeOnTheCommandLine_data();
    void analyzeOnTheCommandLine();
    void coasterNumbersMatchTheFile();
    void plotExportOpensAsAnImage_data();
    void plotExportOpensAsAnImage();
    void windowSavesTheShownSpan();
    void tickStepOfASpanThatDividesExactly_data();
    void tickStepOfASpanThatDividesExactly();
};

void TestAnalysis::numbersOfTheWholeSpan_data() {
    QTest::addColumn<Signal>("signal");
    QTest::addColumn<Series>("series");
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("max");
    QTest::addColumn<double>("mean");
    QTest::addColumn<double>("rms");
    QTest::addColumn<double>("peakTime");
    QTest::addColumn<double>("dominantHz"); // NaN: none
    QTest::addColumn<double>("tolerance");

    // Mean 0.3, noise of ±0.2 on a sine of 0.5: RMS = sqrt(0.3² + 0.5²/2 + 0.4²/12).
    QTest::newRow("7 Hz sine with noise")
        << Signal::NoisySine7Hz << Series::X << -0.4 << 1.0 << 0.3
        << std::sqrt(0.09 + 0.125 + 0.16 / 12.0) << -1.0 << 7.0 << 0.05;
    QTest::newRow("constant, x") << Signal::Constant << Series::X << -0.25 << -0.25 << -0.25 << 0.25
                                 << 0.0 << qQNaN() << 1e-6;
    // |a| of (-0.25, -0.25, -0.25) is 0.25·√3.
    QTest::newRow("constant, |a|") << Signal::Constant << Series::Magnitude << 0.4330127
                                   << 0.4330127 << 0.4330127 << 0.4330127 << 0.0 << qQNaN() << 1e-6;
    // One row of -3 g among 1200 zeros, at row 300 = 2.5 s.
    QTest::newRow("one peak, z") << Signal::OnePeak << Series::Z << -3.0 << 0.0 << -3.0 / 1200.0
                                 << std::sqrt(9.0 / 1200.0) << 2.5 << -1.0 << 1e-6;
    QTest::newRow("one peak, |a|")
        << Signal::OnePeak << Series::Magnitude << 0.0 << 3.0 << 3.0 / 1200.0
        << std::sqrt(9.0 / 1200.0) << 2.5 << -1.0 << 1e-6;
}

void TestAnalysis::numbersOfTheWholeSpan() {
    QFETCH(Signal, signal);
    QFETCH(Series, series);
    QFETCH(double, min);
    QFETCH(double, max);
    QFETCH(double, mean);
    QFETCH(double, rms);
    QFETCH(double, peakTime);
    QFETCH(double, dominantHz);
    QFETCH(double, tolerance);

    const RecordingSeries recording = synthetic(signal);
    const SpanStatistics stats = spanStatistics(recording, 0.0, recording.duration());
    QCOMPARE(stats.samples, std::size_t(1200));
    QVERIFY(std::abs(stats.rateHz - 120.0) < 0.01);
    const SeriesStatistics& n = stats.series[std::size_t(series)];
    // Noise bounds are not reached exactly; extremes of the noisy sine are checked loosely.
    const double extremeTolerance = signal == Signal::NoisySine7Hz ? 0.1 : tolerance;
    QVERIFY2(std::abs(n.min - min) <= extremeTolerance, qPrintable(QString::number(n.min)));
    QVERIFY2(std::abs(n.max - max) <= extremeTolerance, qPrintable(QString::number(n.max)));
    QVERIFY2(std::abs(n.mean - mean) <= tolerance, qPrintable(QString::number(n.mean)));
    QVERIFY2(std::abs(n.rms - rms) <= tolerance, qPrintable(QString::number(n.rms)));
    if (peakTime >= 0.0)
        QCOMPARE(n.peakTime, peakTime);
    if (std::isnan(dominantHz))
        QVERIFY2(!n.dominantHz, "a flat series has no dominant frequency");
    else if (dominantHz > 0.0)
        QVERIFY2(n.dominantHz && std::abs(*n.dominantHz - dominantHz) <= tolerance,
                 qPrintable(QString::number(n.dominantHz.value_or(-1.0))));
}

void TestAnalysis::decimationKeepsEveryExtreme_data() {
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("columns");
    QTest::addColumn<double>("from"); // fractions of the duration
    QTest::addColumn<double>("to");

    QTest::newRow("fewer rows than one block") << 7 << 5 << 0.0 << 1.0;
    QTest::newRow("one column over all") << 1000 << 1 << 0.0 << 1.0;
    QTest::newRow("odd rows, odd columns") << 10007 << 37 << 0.0 << 1.0;
    QTest::newRow("an hour at full width") << 432000 << 1920 << 0.0 << 1.0;
    QTest::newRow("a zoomed middle") << 432000 << 1920 << 0.4137 << 0.4291;
    QTest::newRow("more columns than rows") << 100003 << 1920 << 0.5 << 0.50001;
}

void TestAnalysis::decimationKeepsEveryExtreme() {
    QFETCH(int, rows);
    QFETCH(int, columns);
    QFETCH(double, from);
    QFETCH(double, to);

    // A random walk with spikes: extremes anywhere, including block edges.
    RecordingSeries recording;
    QRandomGenerator random{quint32(rows)};
    float walk[3] = {0.0f, 0.0f, -1.0f};
    for (int i = 0; i < rows; ++i) {
        for (float& w : walk)
            w += float(random.generateDouble() - 0.5) * (random.bounded(100) == 0 ? 4.0f : 0.05f);
        recording.append(float(i) / 120.0f, walk[0], walk[1], walk[2]);
    }
    recording.finish();
    from *= recording.duration();
    to *= recording.duration();

    std::vector<Column> decimated;
    recording.columns(from, to, columns, &decimated);
    QCOMPARE(int(decimated.size()), columns);
    const double width = (to - from) / columns;
    for (int c = 0; c < columns; ++c) {
        const double start = from + width * c, end = c + 1 == columns ? to : from + width * (c + 1);
        Column raw;
        for (std::size_t row = 0; row < recording.size(); ++row) {
            const double t = recording.time(row);
            if (t < start || t >= end)
                continue;
            for (int s = 0; s < kSeriesCount; ++s) {
                const float v = recording.value(Series(s), row);
                MinMax& m = raw.series[std::size_t(s)];
                m = raw.empty ? MinMax{v, v} : MinMax{std::min(m.min, v), std::max(m.max, v)};
            }
            raw.empty = false;
        }
        const Column& got = decimated[std::size_t(c)];
        QCOMPARE(got.empty, raw.empty);
        for (int s = 0; s < kSeriesCount && !raw.empty; ++s) {
            QCOMPARE(got.series[std::size_t(s)].min, raw.series[std::size_t(s)].min);
            QCOMPARE(got.series[std::size_t(s)].max, raw.series[std::size_t(s)].max);
        }
    }
}

void TestAnalysis::coarseLevelKeepsEachBlocksExtremes_data() {
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("limit");
    QTest::addColumn<int>("block"); // rows of the file per held min/max pair

    QTest::newRow("as many rows as the limit: whole") << 100 << 100 << 1;
    QTest::newRow("one row more: coarser") << 101 << 100 << 4;
    QTest::newRow("a limit that is no multiple of 4") << 1000 << 103 << 32;
    QTest::newRow("several doublings, a partial last block") << 10007 << 1000 << 32;
    QTest::newRow("an hour") << 432000 << 50000 << 32;
}

// Each held pair is the minimum and maximum of its block of the file's rows, at the block's
// first time, whatever the doublings on the way.
void TestAnalysis::coarseLevelKeepsEachBlocksExtremes() {
    QFETCH(int, rows);
    QFETCH(int, limit);
    QFETCH(int, block);

    RecordingSeries whole, coarse;
    coarse.setRowLimit(std::size_t(limit));
    QRandomGenerator random{quint32(rows)};
    float walk[3] = {0.0f, 0.0f, -1.0f};
    for (int i = 0; i < rows; ++i) {
        for (float& w : walk)
            w += float(random.generateDouble() - 0.5) * (random.bounded(100) == 0 ? 4.0f : 0.05f);
        whole.append(float(i) / 120.0f, walk[0], walk[1], walk[2]);
        coarse.append(float(i) / 120.0f, walk[0], walk[1], walk[2]);
    }
    whole.finish();
    coarse.finish();

    QCOMPARE(int(coarse.blockRows()), block);
    QCOMPARE(coarse.fileRows(), std::size_t(rows));
    QVERIFY(coarse.size() <= coarse.rowLimit());
    QCOMPARE(coarse.duration(), whole.duration());
    if (block == 1) {
        QCOMPARE(coarse.size(), whole.size());
        return;
    }
    QCOMPARE(int(coarse.size()), 2 * ((rows + block - 1) / block));
    for (std::size_t pair = 0; pair < coarse.size() / 2; ++pair) {
        const std::size_t first = pair * std::size_t(block);
        const Column raw = whole.extremes(first, first + std::size_t(block));
        QCOMPARE(coarse.time(2 * pair), whole.time(first));
        for (int s = 0; s < kSeriesCount; ++s) {
            QCOMPARE(coarse.value(Series(s), 2 * pair), raw.series[std::size_t(s)].min);
            QCOMPARE(coarse.value(Series(s), 2 * pair + 1), raw.series[std::size_t(s)].max);
        }
    }
}

void TestAnalysis::analyzeOnTheCommandLine_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");

    QTest::newRow("the coaster") << QStringList{"--analyze", coasterPath(), "--json"} << 0
                                 << QString();
    QTest::newRow("a span of it") << QStringList{"--analyze", coasterPath(), "--from",
                                                 "50",        "--to",        "53.5"}
                                  << 0 << QString();
    QTest::newRow("no such file") << QStringList{"--analyze", "/nonexistent/ride.csv"} << 2
                                  << "Cannot replay \"/nonexistent/ride.csv\"";
    QTest::newRow("a span after the end")
        << QStringList{"--analyze", coasterPath(), "--from", "500"} << 2 << "no samples";
    QTest::newRow("from after to")
        << QStringList{"--analyze", coasterPath(), "--from", "5", "--to", "2"} << 2
        << "--from must be before --to";
    QTest::newRow("plot without analyze")
        << QStringList{"--plot", "out.png"} << 2 << "--plot needs --analyze";
    QTest::newRow("psd plot without analyze")
        << QStringList{"--plot-psd", "psd.png"} << 2 << "--plot-psd needs --analyze";
    QTest::newRow("psd plot without a name")
        << QStringList{"--analyze", coasterPath(), "--plot-psd", ""} << 2
        << "--plot-psd needs a value";
}

void TestAnalysis::analyzeOnTheCommandLine() {
    if (!QFile::exists(coasterPath()))
        QSKIP("the shared coaster recording is not beside this checkout");
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, message);

    QProcess wobblestar;
    wobblestar.start(QStringLiteral(WOBBLESTAR_BINARY), arguments);
    QVERIFY(wobblestar.waitForFinished(60000));
    QCOMPARE(wobblestar.exitCode(), status);
    QVERIFY2(QString::fromUtf8(wobblestar.readAllStandardError()).contains(message),
             qPrintable(message));
    if (status == 0)
        QVERIFY(!wobblestar.readAllStandardOutput().isEmpty());
}

// The JSON numbers against the file itself: phyphox writes |a| in m/s² as its last column,
// so the peak |a| and its time can be read from the file without our parser.
void TestAnalysis::coasterNumbersMatchTheFile() {
    if (!QFile::exists(coasterPath()))
        QSKIP("the shared coaster recording is not beside this checkout");
    QFile file(coasterPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    file.readLine();
    double peak = 0.0, peakTime = 0.0, first = -1.0, last = 0.0;
    int rows = 0;
    while (!file.atEnd()) {
        const QList<QByteArray> fields = file.readLine().trimmed().split(',');
        if (fields.size() < 5)
            continue;
        const double t = fields[0].toDouble(), a = fields[4].toDouble() / 9.80665;
        if (first < 0.0)
            first = t;
        last = t;
        if (a > peak) {
            peak = a;
            peakTime = t - first;
        }
        ++rows;
    }

    QProcess wobblestar;
    wobblestar.start(QStringLiteral(WOBBLESTAR_BINARY),
                     {QStringLiteral("--analyze"), coasterPath(), QStringLiteral("--json")});
    QVERIFY(wobblestar.waitForFinished(60000));
    QCOMPARE(wobblestar.exitCode(), 0);
    const QJsonObject json = QJsonDocument::fromJson(wobblestar.readAllStandardOutput()).object();
    QCOMPARE(json.value("samples").toInt(), rows);
    QVERIFY(std::abs(json.value("duration_s").toDouble() - (last - first)) < 1e-3);
    QVERIFY(std::abs(json.value("rate_hz").toDouble() - (rows - 1) / (last - first)) < 0.01);
    const QJsonObject magnitude = json.value("magnitude").toObject();
    QVERIFY2(std::abs(magnitude.value("max").toDouble() - peak) < 1e-3,
             qPrintable(QString::number(magnitude.value("max").toDouble())));
    QVERIFY(std::abs(magnitude.value("peak_time_s").toDouble() - peakTime) < 1e-3);
    for (const char* series : {"x", "y", "z", "magnitude"}) {
        const QJsonObject numbers = json.value(QLatin1String(series)).toObject();
        for (const char* key : {"min", "max", "mean", "rms", "peak_time_s", "dominant_hz"})
            QVERIFY2(numbers.value(QLatin1String(key)).isDouble(), series);
        QVERIFY(numbers.value("min").toDouble() <= numbers.value("mean").toDouble());
        QVERIFY(numbers.value("mean").toDouble() <= numbers.value("max").toDouble());
    }
}

void TestAnalysis::plotExportOpensAsAnImage_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("png") << "ride.png";
    QTest::newRow("svg") << "ride.svg";
    QTest::newRow("unwritable") << "no-such-folder/ride.png";
}

void TestAnalysis::plotExportOpensAsAnImage() {
    if (!QFile::exists(coasterPath()))
        QSKIP("the shared coaster recording is not beside this checkout");
    QFETCH(QString, name);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    RecordingSeries recording;
    QString error;
    QVERIFY2(recording.load(coasterPath(), &error), qPrintable(error));
    PlotView view;
    view.to = recording.duration();
    view.cursor = 50.0;

    const bool written = writePlot(path, QSize(800, 400), recording, view, &error);
    if (name.startsWith(u"no-such")) {
        QVERIFY(!written);
        QVERIFY(error.contains(path));
        return;
    }
    QVERIFY2(written, qPrintable(error));
    if (name.endsWith(u".svg")) {
        QSvgRenderer svg(path);
        QVERIFY(svg.isValid());
        QCOMPARE(svg.viewBox(), QRect(0, 0, 800, 400));
        return;
    }
    const QImage image(path);
    QCOMPARE(image.size(), QSize(800, 400));
    // The traces are drawn: the plot area holds pure red (X) pixels.
    int red = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            red += image.pixel(x, y) == qRgb(255, 0, 0);
    QVERIFY(red > 100);
}

// The window's numbers follow the shown span, and the span saved as CSV reads back as the same
// rows; a file that cannot be written is reported, not passed over.
void TestAnalysis::windowSavesTheShownSpan() {
    if (!QFile::exists(coasterPath()))
        QSKIP("the shared coaster recording is not beside this checkout");
    QTemporaryDir dir;
    AnalysisWindow window(dir.path());
    QVERIFY(window.open(coasterPath()));
    QTRY_COMPARE(window.recording().path(), QFileInfo(coasterPath()).absoluteFilePath());
    window.plot()->setSpan(50.0, 53.5);
    QTRY_COMPARE(window.statistics().from, 50.0);
    const SpanStatistics expected = spanStatistics(window.recording(), 50.0, 53.5);
    QCOMPARE(window.statistics().samples, expected.samples);
    QCOMPARE(window.statistics().series[3].max, expected.series[3].max);

    const QString saved = dir.filePath(QStringLiteral("span.csv"));
    QVERIFY(window.exportCsv(saved));
    RecordingSeries span;
    QString error;
    QVERIFY2(span.load(saved, &error), qPrintable(error));
    QCOMPARE(span.size(), expected.samples);
    const std::size_t first = window.recording().rowAtOrAfter(50.0);
    for (std::size_t row : {std::size_t(0), span.size() / 2, span.size() - 1})
        for (Series s : {Series::X, Series::Y, Series::Z})
            QCOMPARE(span.value(s, row), window.recording().value(s, first + row));

    // /proc takes no new files, even from root.
    QVERIFY(!window.exportCsv(QStringLiteral("/proc/wobblestar-span.csv")));
    QVERIFY(window.message().contains(QLatin1String("/proc/wobblestar-span.csv")));
}

void TestAnalysis::tickStepOfASpanThatDividesExactly_data() {
    QTest::addColumn<double>("from");
    QTest::addColumn<double>("to");
    QTest::addColumn<int>("target");
    QTest::addColumn<double>("step");

    // A live minute over 699 columns, as one frame and the next work it out: the step must
    // not flip between 10 and 20 with the last bit of the span.
    const double column = 60.0 / 699.0;
    QTest::newRow("a minute in six") << 0.0 << 60.0 << 6 << 10.0;
    QTest::newRow("a live minute, one frame") << 815.0 * column << 1514.0 * column << 6 << 10.0;
    QTest::newRow("a live minute, the next") << 816.0 * column << 1515.0 * column << 6 << 10.0;
    QTest::newRow("ten seconds in five") << 0.1 << 10.1 << 5 << 2.0;
    QTest::newRow("a little over a step") << 0.0 << 60.6 << 6 << 20.0;
}

void TestAnalysis::tickStepOfASpanThatDividesExactly() {
    QFETCH(double, from);
    QFETCH(double, to);
    QFETCH(int, target);
    QFETCH(double, step);
    double got = 0.0;
    niceTicks(from, to, target, &got);
    QCOMPARE(got, step);
}

QTEST_MAIN(TestAnalysis)
#include "tst_analysis.moc"
