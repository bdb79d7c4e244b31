#include "features/analysis/AnalysisWindow.h"
#include "features/analysis/LiveFeed.h"
#include "features/analysis/MarkerFile.h"
#include "features/analysis/PlotWidget.h"
#include "sensors/SampleCsvWriter.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <cmath>
#include <cstdio>
#include <dirent.h>

using namespace features::analysis;

namespace {

// 100 s at 100 rows per second: a slow swell on X, Y at rest, Z at -1 g.
QString writeRide(const QString& folder) {
    const QString path = folder + QStringLiteral("/2026-01-02_03-04-05.csv");
    sensors::SampleCsvWriter writer(path, sensors::SampleCsvWriter::Existing::Replace);
    writer.open();
    for (int i = 0; i <= 10000; ++i) {
        const double t = i / 100.0;
        writer.append(t, float(0.5 * std::sin(t / 5.0)), 0.0f, -1.0f);
    }
    writer.close();
    return path;
}

struct Window {
    QTemporaryDir dir;
    QString ride = writeRide(dir.path());
    AnalysisWindow window{dir.path()};
    PlotWidget* plot = window.plot();

    Window() {
        window.resize(1200, 800);
        window.show();
        (void)QTest::qWaitForWindowExposed(&window);
        window.open(ride);
        // Files are read on a worker; the tools wait for the recording.
        (void)QTest::qWaitFor([this] { return !window.recording().isEmpty(); }, 20000);
    }
    QPoint at(double seconds) const {
        const drawing::Rect area = plotArea(plot->bounds());
        return QPoint(
            int(std::lround(area.x + (seconds - plot->view().from) /
                                         (plot->view().to - plot->view().from) * area.width)),
            int(area.y + area.height / 2));
    }
};

bool near(double a, double b) {
    return std::abs(a - b) < 0.02;
}

// Readings at `rate` per second from `first` on: a slow swell on X, a 3 Hz shake on Y.
void deliver(LiveFeed& feed, int& next, double rate, double seconds) {
    for (const int end = next + int(seconds * rate); next < end; ++next) {
        const double t = next / rate;
        feed.append({0.5 * std::sin(t / 5.0), 0.2 * std::sin(t * 6 * M_PI), -1.0, t});
    }
}

void chooseLive(AnalysisWindow& window) {
    auto* list = window.findChild<QTreeWidget*>(QStringLiteral("recordingList"));
    list->setCurrentItem(list->topLevelItem(0));
}

} // namespace

class TestPlotWindow : public QObject {
    Q_OBJECT
private slots:
    void init() {
        // The window's layout and choices go to a settings file of the test's own.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_.path()));
    }
    void navigationKeys_data();
    void navigationKeys();
    void dragsPanOrSelect_data();
    void dragsPanOrSelect();
    void exportsAreDrawnForTheFile_data();
    void exportsAreDrawnForTheFile();
    void plotOnTheCommandLine_data();
    void plotOnTheCommandLine();
    void cursorsAndMarkersComeBack();
    void recordingsAreRenamedAndTrashed();
    void liveViewFollowsTheSource();
    void saysWhatTheReaderDecided_data();
    void saysWhatTheReaderDecided();
    void liveViewOpenedLate_data();
    void liveViewOpenedLate();
    void followedViewStandsStill_data();
    void followedViewStandsStill();
    void scrolledPictureIsTheWholePicture_data();
    void scrolledPictureIsTheWholePicture();

private:
    QTemporaryDir config_;
};

void TestPlotWindow::navigationKeys_data() {
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<double>("from");
    QTest::addColumn<double>("to");

    // From 40 s to 60 s of a 100 s recording.
    QTest::newRow("+ zooms in at the middle") << QStringList{"+"} << 43.333 << 56.667;
    QTest::newRow("- zooms out") << QStringList{"-"} << 35.0 << 65.0;
    QTest::newRow("Right pans a tenth") << QStringList{"Right"} << 42.0 << 62.0;
    QTest::newRow("Left pans a tenth") << QStringList{"Left"} << 38.0 << 58.0;
    QTest::newRow("PageDown pans a span") << QStringList{"PgDown"} << 60.0 << 80.0;
    QTest::newRow("PageUp pans a span") << QStringList{"PgUp"} << 20.0 << 40.0;
    QTest::newRow("Home") << QStringList{"Home"} << 0.0 << 20.0;
    QTest::newRow("End") << QStringList{"End"} << 80.0 << 100.0;
    QTest::newRow("PageUp stops at the start")
        << QStringList{"PgUp", "PgUp", "PgUp"} << 0.0 << 20.0;
    QTest::newRow("F fits all") << QStringList{"F"} << 0.0 << 100.0;
    QTest::newRow("Backspace undoes a zoom") << QStringList{"+", "Backspace"} << 40.0 << 60.0;
    QTest::newRow("Ctrl+Z undoes two") << QStringList{"+", "+", "Ctrl+Z", "Ctrl+Z"} << 40.0 << 60.0;
    QTest::newRow("Alt+Left, Alt+Right")
        << QStringList{"+", "Alt+Left", "Alt+Right"} << 43.333 << 56.667;
    QTest::newRow("back from Home") << QStringList{"Home", "Alt+Left"} << 40.0 << 60.0;
}

// The keys reach the plot once it is clicked, not the list beside it.
void TestPlotWindow::navigationKeys() {
    QFETCH(QStringList, keys);
    QFETCH(double, from);
    QFETCH(double, to);
    Window w;
    w.plot->setSpan(40.0, 60.0);
    QTest::mouseClick(w.plot, Qt::LeftButton, {}, w.at(50.0));
    QCOMPARE(QApplication::focusWidget(), w.plot);
    for (const QString& key : keys)
        QTest::keySequence(QApplication::focusWidget(), QKeySequence(key));
    QVERIFY2(
        near(w.plot->view().from, from) && near(w.plot->view().to, to),
        qPrintable(QStringLiteral("%1 to %2").arg(w.plot->view().from).arg(w.plot->view().to)));
}

void TestPlotWindow::dragsPanOrSelect_data() {
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("onTimeAxis");
    QTest::addColumn<double>("from");
    QTest::addColumn<double>("to");

    // A drag from 45 s to 55 s on the view of 40 s to 60 s.
    QTest::newRow("plain drag pans") << int(Qt::NoModifier) << false << 30.0 << 50.0;
    QTest::newRow("Shift+drag zooms to the span")
        << int(Qt::ShiftModifier) << false << 45.0 << 55.0;
    QTest::newRow("a drag on the time axis zooms") << int(Qt::NoModifier) << true << 45.0 << 55.0;
}

void TestPlotWindow::dragsPanOrSelect() {
    QFETCH(int, modifiers);
    QFETCH(bool, onTimeAxis);
    QFETCH(double, from);
    QFETCH(double, to);
    Window w;
    w.plot->setSpan(40.0, 60.0);
    const drawing::Rect area = plotArea(w.plot->bounds());
    QPoint start = w.at(45.0), end = w.at(55.0);
    if (onTimeAxis)
        start.setY(int(area.y + area.height + 8)), end.setY(start.y());
    const auto mods = Qt::KeyboardModifiers(modifiers);
    QTest::mousePress(w.plot, Qt::LeftButton, mods, start);
    for (int step = 1; step <= 4; ++step) {
        QMouseEvent move(QEvent::MouseMove, QPointF(start + (end - start) * step / 4),
                         w.plot->mapToGlobal(QPointF(start + (end - start) * step / 4)),
                         Qt::NoButton, Qt::LeftButton, mods);
        QApplication::sendEvent(w.plot, &move);
    }
    QTest::mouseRelease(w.plot, Qt::LeftButton, mods, end);
    QVERIFY2(
        std::abs(w.plot->view().from - from) < 0.1 && std::abs(w.plot->view().to - to) < 0.1,
        qPrintable(QStringLiteral("%1 to %2").arg(w.plot->view().from).arg(w.plot->view().to)));
    // And back.
    QTest::keySequence(w.plot, QKeySequence(QStringLiteral("Backspace")));
    QVERIFY(near(w.plot->view().from, 40.0) && near(w.plot->view().to, 60.0));
}

void TestPlotWindow::exportsAreDrawnForTheFile_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("written");
    QTest::addColumn<bool>("dark");

    QTest::newRow("png") << "report.png"
                         << "report.png" << false;
    QTest::newRow("png, dark") << "report.png"
                               << "report.png" << true;
    QTest::newRow("no extension: png") << "report"
                                       << "report.png" << false;
    QTest::newRow("jpeg") << "report.JPG"
                          << "report.JPG" << false;
    QTest::newRow("svg") << "report.svg"
                         << "report.svg" << false;
    QTest::newRow("pdf") << "report.pdf"
                         << "report.pdf" << false;
}

// Each picture opens, carries the title (the file's name and the span) and the legend of the
// shown traces, and none of the pointer's cursor or readout.
void TestPlotWindow::exportsAreDrawnForTheFile() {
    QFETCH(QString, typed);
    QFETCH(QString, written);
    QFETCH(bool, dark);
    Window w;
    w.window.setPictureTheme(dark ? PlotTheme::Dark : PlotTheme::Light);
    w.plot->setSpan(40.0, 60.0);
    w.plot->setShown(Series::Y, false);
    w.plot->setCursorTime(50.0);
    QVERIFY2(w.window.exportPicture(w.dir.filePath(typed)), qPrintable(w.window.message()));
    const QString path = w.dir.filePath(written);
    QVERIFY(QFile::exists(path));
    const QString title = QFileInfo(w.ride).fileName();

    if (written.endsWith(u".svg") || written.endsWith(u".pdf")) {
        QString text;
        if (written.endsWith(u".svg")) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            text = QString::fromUtf8(file.readAll());
            QVERIFY(text.contains(u"<svg"));
        } else {
            QProcess pdftotext;
            pdftotext.start(QStringLiteral("pdftotext"), {path, QStringLiteral("-")});
            if (!pdftotext.waitForFinished(30000) || pdftotext.exitCode() != 0)
                QSKIP("pdftotext (poppler-utils) is needed to read the PDF");
            text = QString::fromUtf8(pdftotext.readAllStandardOutput());
        }
        for (const QString& expected : {title, QStringLiteral("40.0 s to 60.0 s"),
                                        QStringLiteral("|a|"), QStringLiteral("Time (s)")})
            QVERIFY2(text.contains(expected), qPrintable(expected));
        // The pointer's readout names each trace with its value ("X 0.123 g").
        QVERIFY(!text.contains(QRegularExpression(QStringLiteral("X -?\\d+\\.\\d{3} g"))));
        return;
    }
    const QImage image(path);
    QVERIFY(!image.isNull());
    // Title and legend above the plot: text in the title's band, and the X trace's colour
    // beside its name on the legend's line.
    const QRgb ground = image.pixel(2, 2);
    int ink = 0, legendRed = 0;
    for (int y = 0; y < 56; ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            ink += c.rgb() != ground && y < 36 && x < image.width() / 2;
            legendRed += c.red() > 180 && c.green() < 80 && c.blue() < 80;
        }
    }
    QVERIFY2(ink > 100, "a title");
    QVERIFY2(legendRed > 20, "a legend with X");
    // Without the pointer over the plot, the picture is the same pixel for pixel.
    if (written.endsWith(u".png")) {
        w.plot->setCursorTime(std::nullopt);
        const QString again = w.dir.filePath(QStringLiteral("again.png"));
        QVERIFY(w.window.exportPicture(again));
        QCOMPARE(QImage(again), image);
    }
}

void TestPlotWindow::plotOnTheCommandLine_data() {
    QTest::addColumn<QString>("arguments"); // as typed in a shell, the recording as $RIDE
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("file"); // the file's name and its first bytes, or none
    QTest::addColumn<QByteArray>("magic");

    QTest::newRow("png") << "--analyze $RIDE --plot out.png" << 0 << "" << QByteArray("out.png")
                         << QByteArray("\x89PNG");
    QTest::newRow("jpeg") << "--analyze $RIDE --plot out.jpeg" << 0 << "" << QByteArray("out.jpeg")
                          << QByteArray("\xff\xd8\xff");
    QTest::newRow("svg") << "--analyze $RIDE --plot=out.svg" << 0 << "" << QByteArray("out.svg")
                         << QByteArray("<?xml");
    QTest::newRow("pdf, dark, titled")
        << "--analyze $RIDE --plot out.pdf --plot-theme dark --plot-title Lift" << 0 << ""
        << QByteArray("out.pdf") << QByteArray("%PDF");
    QTest::newRow("a name that is not UTF-8")
        << "--analyze $RIDE --plot \"$(printf 'r\\351sum\\351.png')\"" << 0 << ""
        << QByteArray("r\xe9sum\xe9.png") << QByteArray("\x89PNG");
    QTest::newRow("empty --plot") << "--analyze $RIDE --plot ''" << 2 << "--plot needs a value"
                                  << QByteArray() << QByteArray();
    QTest::newRow("empty --analyze")
        << "--analyze ''" << 2 << "--analyze needs a value" << QByteArray() << QByteArray();
    QTest::newRow("gif") << "--analyze $RIDE --plot out.gif" << 2 << ".png, .jpg, .svg or .pdf"
                         << QByteArray() << QByteArray();
    QTest::newRow("too many pixels")
        << "--analyze $RIDE --plot out.png --width 16384 --height 16384" << 2 << "64 million"
        << QByteArray() << QByteArray();
    QTest::newRow("a theme of neither") << "--analyze $RIDE --plot out.png --plot-theme blue" << 2
                                        << "light or dark" << QByteArray() << QByteArray();
    // /proc takes no new files, even from root: the system says why.
    QTest::newRow("unwritable") << "--analyze $RIDE --plot /proc/wobblestar.png" << 1
                                << "Cannot write \"/proc/wobblestar.png\": No such file"
                                << QByteArray() << QByteArray();
    // The spectrum goes through the same exporter, with the same checks and words.
    QTest::newRow("psd: pdf, dark, titled")
        << "--analyze $RIDE --plot-psd psd.pdf --plot-theme dark --plot-title Lift" << 0 << ""
        << QByteArray("psd.pdf") << QByteArray("%PDF");
    QTest::newRow("psd: jpeg") << "--analyze $RIDE --plot-psd=psd.jpg" << 0 << ""
                               << QByteArray("psd.jpg") << QByteArray("\xff\xd8\xff");
    QTest::newRow("psd: gif") << "--analyze $RIDE --plot-psd psd.gif" << 2
                              << "--plot-psd 'psd.gif': the name must end in .png, .jpg, .svg "
                                 "or .pdf"
                              << QByteArray() << QByteArray();
    QTest::newRow("psd: too many pixels")
        << "--analyze $RIDE --plot-psd psd.png --width 16384 --height 16384" << 2 << "64 million"
        << QByteArray() << QByteArray();
    QTest::newRow("psd: unwritable")
        << "--analyze $RIDE --plot-psd /proc/psd.png" << 1
        << "Cannot write \"/proc/psd.png\": No such file" << QByteArray() << QByteArray();
}

void TestPlotWindow::plotOnTheCommandLine() {
    QFETCH(QString, arguments);
    QFETCH(int, status);
    QFETCH(QString, message);
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, magic);
    QTemporaryDir dir;
    QProcess shell;
    shell.setWorkingDirectory(dir.path());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("RIDE"), writeRide(dir.path()));
    shell.setProcessEnvironment(environment);
    shell.start(
        QStringLiteral("/bin/sh"),
        {QStringLiteral("-c"),
         QStringLiteral("exec \"%1\" %2").arg(QStringLiteral(WOBBLESTAR_BINARY), arguments)});
    QVERIFY(shell.waitForFinished(60000));
    const QString error = QString::fromUtf8(shell.readAllStandardError());
    QCOMPARE(shell.exitCode(), status);
    QVERIFY2(error.contains(message), qPrintable(error));
    // Listed by their bytes: the name need not be text.
    QList<QByteArray> pictures;
    if (DIR* folder = ::opendir(QFile::encodeName(dir.path()).constData())) {
        while (const dirent* entry = ::readdir(folder))
            if (entry->d_name[0] != '.' && !QByteArray(entry->d_name).endsWith(".csv"))
                pictures << QByteArray(entry->d_name);
        ::closedir(folder);
    }
    QCOMPARE(pictures, file.isEmpty() ? QList<QByteArray>{} : QList<QByteArray>{file});
    if (file.isEmpty())
        return;
    QFile picture;
    const QByteArray path = QFile::encodeName(dir.path()) + '/' + file;
    FILE* handle = std::fopen(path.constData(), "rb");
    QVERIFY2(handle, path.constData());
    QVERIFY(picture.open(handle, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle));
    QVERIFY(picture.read(magic.size()) == magic);
}

void TestPlotWindow::cursorsAndMarkersComeBack() {
    auto w = std::make_unique<Window>();
    w->window.setTextAsker([](const QString&, const QString&) { return QStringLiteral("lift"); });
    QTest::mouseClick(w->plot, Qt::LeftButton, {}, w->at(30.0));
    QTest::mouseClick(w->plot, Qt::LeftButton, Qt::ControlModifier, w->at(32.0));
    QTest::mouseMove(w->plot, w->at(31.0));
    QTest::keyClick(w->plot, Qt::Key_M);
    const QString readout = w->window.cursorReadout();
    QVERIFY2(readout.contains(u"Δt 2.0") || readout.contains(u"Δt 1.9"), qPrintable(readout));
    QVERIFY2(readout.contains(u"1/Δt 0.5") || readout.contains(u"1/Δt 0.4"), qPrintable(readout));
    QVERIFY(readout.contains(u"ΔZ 0.000 g"));
    w->window.setUnits(Units::MetresPerSecondSquared);
    QVERIFY(w->window.cursorReadout().contains(u"m/s²"));
    QCOMPARE(w->window.markers().size(), std::size_t(1));
    QVERIFY(QFile::exists(markerFilePath(w->ride)));

    // A new window on the same folder finds the marker again.
    const QString ride = w->ride;
    AnalysisWindow again(w->dir.path());
    QVERIFY(again.open(ride));
    QTRY_COMPARE_WITH_TIMEOUT(again.markers().size(), std::size_t(1), 30000);
    QCOMPARE(again.markers()[0].note, QStringLiteral("lift"));
    QVERIFY(std::abs(again.markers()[0].time - 31.0) < 0.1);
}

void TestPlotWindow::recordingsAreRenamedAndTrashed() {
    Window w;
    const QString data = w.dir.filePath(QStringLiteral("data"));
    QVERIFY(QDir().mkpath(data));
    qputenv("XDG_DATA_HOME", QFile::encodeName(data));
    w.window.addMarker(5.0, QStringLiteral("start"));
    const QString renamed = w.dir.filePath(QStringLiteral("elevator.csv"));
    QVERIFY(w.window.renameRecording(w.ride, QStringLiteral("elevator")));
    QVERIFY(QFile::exists(renamed) && !QFile::exists(w.ride));
    QVERIFY(QFile::exists(markerFilePath(renamed)));
    QCOMPARE(w.window.recording().path(), renamed);
    QVERIFY(!w.window.renameRecording(renamed, QStringLiteral("a/b")));
    QVERIFY(QFile::exists(renamed));

    QVERIFY2(w.window.trashRecording(renamed), qPrintable(w.window.message()));
    QVERIFY(!QFile::exists(renamed));
    QVERIFY(QFile::exists(data + QStringLiteral("/Trash/files/elevator.csv")));
    QVERIFY(w.window.recording().isEmpty());
}

// The "Live" entry shows the last minute of what the source delivered, follows it, and stands
// still while paused; the shown span saves as a recording.
void TestPlotWindow::liveViewFollowsTheSource() {
    Window w;
    int reading = 0;
    float lastX = 0.0f;
    const auto deliver = [&](int readings) {
        for (const int end = reading + readings; reading < end; ++reading) {
            const double t = reading / 100.0;
            lastX = float(std::sin(t));
            w.window.appendLive({std::sin(t), 0.0, -1.0, t});
        }
    };
    deliver(18000);
    auto* list = w.window.findChild<QTreeWidget*>(QStringLiteral("recordingList"));
    list->setCurrentItem(list->topLevelItem(0));
    QVERIFY(w.window.isLive());
    QVERIFY(std::abs(w.window.recording().duration() - 60.0) < 0.05);

    w.window.setLivePaused(true);
    const float before = lastX;
    deliver(500);
    QTest::qWait(100);
    QCOMPARE(w.window.recording().value(Series::X, w.window.recording().size() - 1), before);
    w.window.setLivePaused(false);
    w.window.setLiveSpan(10.0);
    QTRY_VERIFY(std::abs(w.window.recording().duration() - 10.0) < 0.05);
    QCOMPARE(w.window.recording().value(Series::X, w.window.recording().size() - 1), lastX);

    w.window.setLivePaused(true);
    const QString saved = w.dir.filePath(QStringLiteral("kept.csv"));
    QVERIFY(w.window.exportCsv(saved));
    RecordingSeries kept;
    QString error;
    QVERIFY2(kept.load(saved, &error), qPrintable(error));
    QCOMPARE(kept.size(), w.window.recording().size());

    list->setCurrentItem(list->topLevelItem(1));
    QVERIFY(!w.window.isLive());
    QTRY_COMPARE_WITH_TIMEOUT(w.window.recording().path(), w.ride, 30000);
}

void TestPlotWindow::saysWhatTheReaderDecided_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("said"); // on the line under the plot; empty: nothing beyond it
    QTest::newRow("unit told from the data")
        << QByteArray("t,ax,ay,az\n0,0,0,9.81\n0.01,0,0.1,9.8\n0.02,0,0,9.79\n")
        << "names no unit: read in m/s^2";
    QTest::newRow("times from the rate its comments state")
        << QByteArray("# data_rate = 2000.0 Hz\ncount,a_x,a_y,a_z\n0,0,0,1\n1,0,0,1\n2,0,0,1\n")
        << "placed at the 2000 Hz its comments state";
    QTest::newRow("a header that says everything")
        << QByteArray("time,x,y,z\n0,0,0,-1\n0.01,0,0,-1\n0.02,0,0,-1\n") << QString();
}

void TestPlotWindow::saysWhatTheReaderDecided() {
    QFETCH(QByteArray, text);
    QFETCH(QString, said);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("vibration.csv"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
    file.close();
    AnalysisWindow window(dir.path());
    window.show();
    window.open(path);
    QTRY_VERIFY_WITH_TIMEOUT(!window.recording().isEmpty(), 20000);
    const auto* info = window.findChild<QLabel*>(QStringLiteral("analysisInfo"));
    QVERIFY(info);
    QTRY_VERIFY(info->text().contains(u"samples over"));
    if (said.isEmpty())
        QVERIFY2(!info->text().contains(u'\n'), qPrintable(info->text()));
    else
        QVERIFY2(info->text().contains(said), qPrintable(info->text()));
}

void TestPlotWindow::liveViewOpenedLate_data() {
    QTest::addColumn<int>("choice");
    QTest::addColumn<double>("rate");
    QTest::addColumn<double>("delivered");
    QTest::addColumn<double>("shownFrom");
    QTest::addColumn<double>("shownTo");
    QTest::addColumn<double>("within");

    // Readings from 0 s until `delivered`, all before the window was opened.
    // The view's columns keep their place in time, so its span ends up to a column (`within`
    // seconds) after the newest reading.
    QTest::newRow("last 10 s of 2 min") << 0 << 100.0 << 120.0 << 110.0 << 120.0 << 0.05;
    QTest::newRow("last minute of 2 min") << 1 << 100.0 << 120.0 << 60.0 << 120.0 << 0.1;
    QTest::newRow("last 10 min of 12 min at 120/s") << 2 << 120.0 << 720.0 << 120.0 << 720.0 << 1.0;
    QTest::newRow("10 min chosen, 3 min delivered: all")
        << 2 << 40.0 << 180.0 << 0.0 << 180.0 << 1.0;
}

// The feed is kept from the start, so a window opened late shows what came before it; the
// feed holds ten minutes at the source's rate and never more.
void TestPlotWindow::liveViewOpenedLate() {
    QFETCH(int, choice);
    QFETCH(double, rate);
    QFETCH(double, delivered);
    QFETCH(double, shownFrom);
    QFETCH(double, shownTo);
    QFETCH(double, within);
    LiveFeed feed;
    feed.setRate(rate);
    int next = 0;
    deliver(feed, next, rate, delivered);
    const std::size_t bound = (std::size_t(600.0 * rate) + 1) * 24;
    QVERIFY2(feed.memoryBytes() <= bound, qPrintable(QString::number(feed.memoryBytes())));

    Window w;
    w.window.setLiveFeed(&feed);
    chooseLive(w.window);
    w.window.findChild<QComboBox*>(QStringLiteral("liveSpanChoice"))->setCurrentIndex(choice);
    const RecordingSeries& shown = w.window.recording();
    QVERIFY2(shown.startTime() >= shownFrom - 0.01 && shown.startTime() <= shownFrom + within,
             qPrintable(QString::number(shown.startTime())));
    QVERIFY(std::abs(shown.startTime() + shown.duration() - (shownTo - 1.0 / rate)) < 0.01);
    QCOMPARE(shown.value(Series::X, shown.size() - 1),
             float(0.5 * std::sin((next - 1) / rate / 5.0)));
    QVERIFY(w.plot->view().to >= shownTo - 0.01 && w.plot->view().to <= shownTo + within);
    w.window.setLiveFeed(nullptr);
}

void TestPlotWindow::followedViewStandsStill_data() {
    QTest::addColumn<QString>("action");
    QTest::newRow("Pause button") << "pause";
    QTest::newRow("wheel zooms, pausing") << "wheel";
    QTest::newRow("Left pans, pausing") << "left";
    QTest::newRow("Shift+drag selects, pausing") << "select";
}

// Pausing freezes the view, not the data: readings go on into the feed and show again once
// the view follows anew.
void TestPlotWindow::followedViewStandsStill() {
    QFETCH(QString, action);
    LiveFeed feed;
    int next = 0;
    deliver(feed, next, 100.0, 90.0);
    Window w;
    w.window.setLiveFeed(&feed);
    chooseLive(w.window);
    auto* pause = w.window.findChild<QPushButton*>(QStringLiteral("livePause"));
    QVERIFY(w.plot->isFollowing());
    const QPoint middle = w.plot->rect().center();
    if (action == "pause") {
        QTest::mouseClick(pause, Qt::LeftButton);
    } else if (action == "wheel") {
        QWheelEvent wheel(middle, w.plot->mapToGlobal(middle), {}, {0, 120}, Qt::NoButton, {},
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(w.plot, &wheel);
    } else if (action == "left") {
        w.plot->setFocus();
        QTest::keyClick(w.plot, Qt::Key_Left);
    } else {
        QTest::mousePress(w.plot, Qt::LeftButton, Qt::ShiftModifier, middle);
        QTest::mouseMove(w.plot, middle + QPoint(200, 0));
        QTest::mouseRelease(w.plot, Qt::LeftButton, Qt::ShiftModifier, middle + QPoint(200, 0));
    }
    QVERIFY(pause->isChecked());
    QVERIFY(!w.plot->isFollowing());
    const std::size_t rows = w.window.recording().size();
    const double from = w.plot->view().from, to = w.plot->view().to;
    QVERIFY(to <= 90.0 + 0.05);
    deliver(feed, next, 100.0, 5.0);
    QTest::qWait(150);
    QCOMPARE(w.window.recording().size(), rows);
    QCOMPARE(w.plot->view().from, from);
    QCOMPARE(w.plot->view().to, to);
    QCOMPARE(feed.newestTime(), (next - 1) / 100.0);

    QTest::mouseClick(pause, Qt::LeftButton);
    QVERIFY(w.plot->isFollowing());
    QVERIFY(std::abs(w.plot->view().to - 95.0) < 0.1);
    w.window.setLiveFeed(nullptr);
}

void TestPlotWindow::scrolledPictureIsTheWholePicture_data() {
    QTest::addColumn<int>("choice");
    QTest::addColumn<bool>("stacked");
    QTest::addColumn<bool>("cursorAndMarker");
    QTest::newRow("last minute") << 1 << false << false;
    QTest::newRow("last 10 s, stacked panels") << 0 << true << false;
    QTest::newRow("cursor A and a marker scroll along") << 1 << false << true;
}

// Each frame of a followed view moves the picture on screen and draws only the columns that
// came into view: after many frames, what is on screen is what a whole redraw draws.
void TestPlotWindow::scrolledPictureIsTheWholePicture() {
    QFETCH(int, choice);
    QFETCH(bool, stacked);
    QFETCH(bool, cursorAndMarker);
    LiveFeed feed;
    int next = 0;
    deliver(feed, next, 120.0, 70.0);
    Window w;
    w.window.setLiveFeed(&feed);
    chooseLive(w.window);
    w.window.findChild<QComboBox*>(QStringLiteral("liveSpanChoice"))->setCurrentIndex(choice);
    w.plot->setLayout(stacked ? PanelLayout::Stacked : PanelLayout::Overlaid);
    if (cursorAndMarker) {
        w.plot->setCursorA(65.0);
        w.window.addMarker(62.0, QStringLiteral("door"));
    }
    QTest::qWait(50);
    // Two seconds of readings, 4 per frame, each frame painted before the next.
    for (int frame = 0; frame < 60; ++frame) {
        for (int i = 0; i < 4; ++i, ++next)
            feed.append({0.5 * std::sin(next / 600.0), 0.2 * std::sin(next * M_PI / 20.0), -1.0,
                         next / 120.0});
        w.plot->advanceLive();
        // Paints come at the screen's next frame, as on a desktop.
        QTest::qWait(20);
    }
    QVERIFY(w.plot->isFollowing());
    const QImage screen = w.window.screen()
                              ->grabWindow(w.window.winId())
                              .toImage()
                              .copy(QRect(w.plot->mapTo(&w.window, QPoint(0, 0)), w.plot->size()))
                              .convertToFormat(QImage::Format_RGB32);
    const QImage whole = w.plot->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(screen.size(), whole.size());
    int differing = 0;
    for (int y = 0; y < whole.height(); ++y)
        for (int x = 0; x < whole.width(); ++x)
            differing += screen.pixel(x, y) != whole.pixel(x, y);
    if (differing > 0) {
        screen.save(QDir::temp().filePath(QStringLiteral("scrolled.png")));
        whole.save(QDir::temp().filePath(QStringLiteral("whole.png")));
    }
    QCOMPARE(differing, 0);
    w.window.setLiveFeed(nullptr);
}

QTEST_MAIN(TestPlotWindow)
#include "tst_plot_window.moc"
