#include "features/analysis/AnalysisWindow.h"
#include "features/analysis/PlotWidget.h"
#include "features/analysis/SpanStatistics.h"
#include "features/analysis/SpectraPanel.h"
#include "features/analysis/Spectrogram.h"
#include "sensors/SampleCsvWriter.h"

#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QSvgRenderer>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <cmath>
#include <numbers>

using namespace features::analysis;

namespace {

struct Tone {
    double hz;
    double amplitude;
};
using Tones = QList<Tone>;

QString coasterPath() {
    return QStringLiteral(WOBBLESTAR_SHARED_DATA "/coaster-phyphox.csv");
}

QJsonObject analyzeJson(const QStringList& arguments) {
    QProcess wobblestar;
    wobblestar.start(QStringLiteral(WOBBLESTAR_BINARY), QStringList{"--json"} + arguments);
    if (!wobblestar.waitForFinished(60000) || wobblestar.exitCode() != 0)
        return {};
    return QJsonDocument::fromJson(wobblestar.readAllStandardOutput()).object();
}

} // namespace

Q_DECLARE_METATYPE(Tones)

class TestSpectra : public QObject {
    Q_OBJECT
private slots:
    void sinesAreMeasured_data();
    void sinesAreMeasured();
    void chirpRisesInTheSpectrogram();
    void realFileAgreesWithNumPy_data();
    void realFileAgreesWithNumPy();
    void psdPictureOpens_data();
    void psdPictureOpens();
    void windowShowsTheSpanSpectra();
};

// Sines of known frequency and amplitude on X, over gravity on Z, with uniform noise of
// `noise` g RMS, fed row by row to what --analyze feeds. Rows beyond kHeldRows take the
// averaged route.
void TestSpectra::sinesAreMeasured_data() {
    QTest::addColumn<double>("rate");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<Tones>("tones");
    QTest::addColumn<double>("noise");

    QTest::newRow("100 Hz, 7 Hz") << 100.0 << 60.0 << Tones{{7.0, 0.5}} << 0.0;
    QTest::newRow("400 Hz, between bins") << 400.0 << 30.0 << Tones{{37.31, 0.25}} << 0.0;
    QTest::newRow("1600 Hz, two resonances and noise")
        << 1600.0 << 10.0 << Tones{{42.5, 0.3}, {311.7, 0.08}} << 0.01;
    QTest::newRow("3200 Hz, three bands and noise")
        << 3200.0 << 5.0 << Tones{{3.3, 0.6}, {55.0, 1.0}, {1234.5, 0.2}} << 0.02;
    QTest::newRow("3200 Hz, longer than held: averaged while read")
        << 3200.0 << 360.0 << Tones{{87.6, 0.4}, {512.3, 0.1}} << 0.01;
}

void TestSpectra::sinesAreMeasured() {
    QFETCH(double, rate);
    QFETCH(double, seconds);
    QFETCH(Tones, tones);
    QFETCH(double, noise);

    SpanAccumulator span(0.0, seconds);
    QRandomGenerator random(25);
    double sum = 0.0, squares = 0.0;
    const auto rows = std::size_t(seconds * rate);
    for (std::size_t i = 0; i < rows; ++i) {
        const double t = double(i) / rate;
        // Uniform over ±w has an RMS of w / √3.
        double x = noise * std::sqrt(3.0) * (2.0 * random.generateDouble() - 1.0);
        for (const Tone& tone : tones)
            x += tone.amplitude * std::sin(2.0 * std::numbers::pi * tone.hz * t);
        sum += float(x);
        squares += double(float(x)) * float(x);
        span.add(float(t), float(x), 0.0f, -1.0f);
    }
    const SpanStatistics stats = span.finish();
    QCOMPARE(stats.spectrum.wholeSpan, rows <= kHeldRows);
    const SeriesStatistics& x = stats.series[0];
    const PowerSpectrum& psd = span.powerSpectrum(Series::X);
    QVERIFY(!psd.isEmpty());

    for (const Tone& tone : tones) {
        const auto peak = std::find_if(x.peaks.begin(), x.peaks.end(), [&](const SpectralPeak& p) {
            return std::abs(p.hz - tone.hz) <= psd.binHz;
        });
        QVERIFY2(peak != x.peaks.end(),
                 qPrintable(QStringLiteral("no peak at %1 Hz").arg(tone.hz)));
        QVERIFY2(std::abs(peak->amplitudeG - tone.amplitude) <= 0.01 * tone.amplitude,
                 qPrintable(QStringLiteral("%1 Hz: %2 g").arg(tone.hz).arg(peak->amplitudeG)));
    }
    // The strongest tone is listed first.
    const Tone loudest = *std::max_element(
        tones.begin(), tones.end(), [](Tone a, Tone b) { return a.amplitude < b.amplitude; });
    QVERIFY(std::abs(x.peaks.front().hz - loudest.hz) <= psd.binHz);

    for (std::size_t b = 0; b < kFrequencyBands.size(); ++b) {
        const FrequencyBand& band = kFrequencyBands[b];
        QCOMPARE(bool(x.bandRms[b]), band.lowHz < rate / 2.0);
        double power = 0.0;
        for (const Tone& tone : tones)
            power += tone.hz >= band.lowHz && tone.hz < band.highHz
                         ? tone.amplitude * tone.amplitude / 2.0
                         : 0.0;
        // White noise spreads evenly to half the rate; only bands that a tone fills are held to
        // 1 %, the noise's own estimate scatters more.
        if (power == 0.0)
            continue;
        power += noise * noise * (std::min(band.highHz, rate / 2.0) - band.lowHz) / (rate / 2.0);
        QVERIFY2(std::abs(*x.bandRms[b] - std::sqrt(power)) <= 0.01 * std::sqrt(power),
                 qPrintable(QStringLiteral("%1 Hz: %2 g, expected %3 g")
                                .arg(QLatin1String(band.name))
                                .arg(*x.bandRms[b])
                                .arg(std::sqrt(power))));
    }

    double integral = 0.0;
    for (double density : psd.psd)
        integral += density * psd.binHz;
    const double variance = squares / double(rows) - (sum / double(rows)) * (sum / double(rows));
    QVERIFY2(std::abs(integral - variance) <= 0.02 * variance,
             qPrintable(QStringLiteral("%1 against %2 g²").arg(integral).arg(variance)));
}

// A sweep from 50 Hz to 1500 Hz over 8 s at 3200 Hz: each column's strongest bin follows the
// sweep, rising from column to column.
void TestSpectra::chirpRisesInTheSpectrogram() {
    const double rate = 3200.0, seconds = 8.0, low = 50.0, high = 1500.0;
    std::vector<float> values(std::size_t(rate * seconds));
    for (std::size_t i = 0; i < values.size(); ++i) {
        const double t = double(i) / rate;
        // Phase of a linear sweep: 2π (f0 t + (f1 - f0) t² / 2T).
        values[i] = float(
            std::sin(2.0 * std::numbers::pi * (low * t + (high - low) * t * t / (2.0 * seconds))));
    }
    const Spectrogram map = spectrogram(values.data(), values.size(), rate, 200);
    QVERIFY(map.columns >= 50);
    int previous = -1;
    for (int c = 0; c < map.columns; ++c) {
        int strongest = 0;
        for (int k = 1; k < map.bins; ++k)
            strongest = map.at(c, k) > map.at(c, strongest) ? k : strongest;
        const double t = map.firstSeconds + map.columnSeconds * c;
        const double expected = low + (high - low) * t / seconds;
        QVERIFY2(std::abs(strongest * map.binHz - expected) <=
                     3.0 * map.binHz +
                         0.5 * (high - low) * double(map.segmentLength) / rate / seconds,
                 qPrintable(QStringLiteral("column %1: %2 Hz, expected %3 Hz")
                                .arg(c)
                                .arg(strongest * map.binHz)
                                .arg(expected)));
        QVERIFY(strongest >= previous);
        previous = strongest;
    }
}

// Rows printed by tools/psd-reference.py, which works out the same estimate with NumPy alone.
void TestSpectra::realFileAgreesWithNumPy_data() {
    QTest::addColumn<Series>("series");
    QTest::addColumn<int>("rank");
    QTest::addColumn<double>("hz");
    QTest::addColumn<double>("amplitude");
    QTest::addColumn<double>("psd");

    // 10790 rows at 99.5918 Hz; 2048-sample segments, 9 averaged, 0.048629 Hz bins. The slow
    // swings of the ride lie in bins 0 and 1, which hold no peaks.
    QTest::newRow("X peak 1") << Series::X << 0 << 2.042411 << 0.00871822 << 0.000149515;
    QTest::newRow("Y peak 1") << Series::Y << 0 << 2.431442 << 0.0146229 << 0.000366197;
    QTest::newRow("Y peak 2") << Series::Y << 1 << 14.053733 << 0.012163 << 0.000330772;
    QTest::newRow("Z peak 1") << Series::Z << 0 << 0.145886 << 0.334529 << 0.434414;
    QTest::newRow("Z peak 2") << Series::Z << 1 << 14.588650 << 0.0200773 << 0.000772228;
    QTest::newRow("Z peak 3") << Series::Z << 2 << 15.561226 << 0.0127104 << 0.000492756;
}

void TestSpectra::realFileAgreesWithNumPy() {
    if (!QFile::exists(coasterPath()))
        QSKIP("the shared coaster recording is not beside this checkout");
    QFETCH(Series, series);
    QFETCH(int, rank);
    QFETCH(double, hz);
    QFETCH(double, amplitude);
    QFETCH(double, psd);
    static const QJsonObject json = analyzeJson({"--analyze", coasterPath()});
    const QJsonObject spectrum = json.value("spectrum").toObject();
    QCOMPARE(spectrum.value("segment_samples").toInt(), 2048);
    const double binHz = spectrum.value("bin_hz").toDouble();
    const char* names[] = {"x", "y", "z"};
    const QJsonArray peaks =
        json.value(QLatin1String(names[int(series)])).toObject().value("peaks").toArray();
    QVERIFY(peaks.size() > rank);
    const QJsonObject peak = peaks.at(rank).toObject();
    QVERIFY2(std::abs(peak.value("hz").toDouble() - hz) <= binHz,
             qPrintable(QString::number(peak.value("hz").toDouble())));
    QVERIFY2(std::abs(peak.value("amplitude_g").toDouble() - amplitude) <= 0.005 * amplitude,
             qPrintable(QString::number(peak.value("amplitude_g").toDouble())));
    QVERIFY2(std::abs(peak.value("psd_g2_per_hz").toDouble() - psd) <= 0.005 * psd,
             qPrintable(QString::number(peak.value("psd_g2_per_hz").toDouble())));
}

void TestSpectra::psdPictureOpens_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("status");
    QTest::newRow("png") << "psd.png" << 0;
    QTest::newRow("svg") << "psd.svg" << 0;
    QTest::newRow("unwritable") << "no-such-folder/psd.png" << 1;
}

void TestSpectra::psdPictureOpens() {
    if (!QFile::exists(coasterPath()))
        QSKIP("the shared coaster recording is not beside this checkout");
    QFETCH(QString, name);
    QFETCH(int, status);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    QProcess wobblestar;
    wobblestar.start(QStringLiteral(WOBBLESTAR_BINARY),
                     {"--analyze", coasterPath(), "--plot-psd", path, "--width", "900"});
    QVERIFY(wobblestar.waitForFinished(60000));
    QCOMPARE(wobblestar.exitCode(), status);
    if (status != 0) {
        QVERIFY(QString::fromUtf8(wobblestar.readAllStandardError()).contains(path));
        return;
    }
    if (name.endsWith(u".svg")) {
        QVERIFY(QSvgRenderer(path).isValid());
        return;
    }
    const QImage image(path);
    QCOMPARE(image.size(), QSize(900, 500));
    // X is drawn in red, and its peaks too (a deeper red on the light ground of a report).
    int red = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            red += c.red() > 180 && c.green() < 90 && c.blue() < 90;
        }
    }
    QVERIFY(red > 20);
}

// A printer-like recording at 1600 Hz with 42.5 Hz on X for its first half and 311.7 Hz on Y for
// its second: the Spectra tab lists each where the shown span holds it.
void TestSpectra::windowShowsTheSpanSpectra() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("printer.csv"));
    {
        sensors::SampleCsvWriter writer(path, sensors::SampleCsvWriter::Existing::Replace);
        QVERIFY(writer.open());
        for (int i = 0; i < 16000; ++i) {
            const double t = i / 1600.0;
            writer.append(t, t < 5.0 ? 0.3 * std::sin(2.0 * std::numbers::pi * 42.5 * t) : 0.0,
                          t < 5.0 ? 0.0 : 0.1 * std::sin(2.0 * std::numbers::pi * 311.7 * t), -1.0);
        }
        QVERIFY(writer.close());
    }
    AnalysisWindow window(dir.path());
    window.show();
    QVERIFY(window.open(path));
    QTRY_VERIFY_WITH_TIMEOUT(!window.recording().isEmpty(), 20000);
    auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("analysisViews"));
    QVERIFY(tabs);
    tabs->setCurrentWidget(window.spectra());

    const auto strongest = [&window](double from, double to) -> QStringList {
        window.plot()->setSpan(from, to);
        if (!QTest::qWaitFor(
                [&] { return !window.spectra()->isBusy() && window.statistics().from == from; },
                10000))
            return {QStringLiteral("timed out")};
        QTest::qWait(50);
        const QTreeWidgetItem* first = window.spectra()->peakList()->topLevelItem(0);
        return first ? QStringList{first->text(0), first->text(1)} : QStringList{};
    };
    // Segments of 1024 rows: bins 1.5625 Hz apart.
    QStringList peak = strongest(0.5, 4.5);
    QCOMPARE(peak.value(0), QStringLiteral("X"));
    QVERIFY2(std::abs(peak.value(1).toDouble() - 42.5) < 1.5625, qPrintable(peak.join(' ')));
    peak = strongest(5.5, 9.5);
    QCOMPARE(peak.value(0), QStringLiteral("Y"));
    QVERIFY2(std::abs(peak.value(1).toDouble() - 311.7) < 1.5625, qPrintable(peak.join(' ')));
    QVERIFY(!window.spectra()->spectrogramView()->spectrogram().isEmpty());
}

QTEST_MAIN(TestSpectra)
#include "tst_spectra.moc"
