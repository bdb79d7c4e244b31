#include "AppFixture.h"
#include "features/RecordingOpener.h"
#include "features/analysis/AnalysisWindow.h"
#include "screens/StatusBar.h"

#include <QAction>
#include <QDropEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

using sensors::Accelerometer;

// Opening a recording from the window: the entry, a dropped file, and the end of its replay.
class AppOpenRecordingTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void opensFromEntryOrDrop_data();
    void opensFromEntryOrDrop();
    void endIsAnnouncedAndRateFallsToZero();
    void replayFromTheRecordingsWindow();

private:
    QString write(const QString& name, const QByteArray& text);
    AppFixture fixture;
    QTemporaryDir dir_;
};

namespace {

const QByteArray kRows = "time,x,y,z\n0.0,0,0,-1\n0.1,1,0,-1\n0.2,2,0,-1\n0.3,3,0,-1\n";

void drop(QWidget* window, const QString& path) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path)});
    const QPoint at = window->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &dropped);
}

} // namespace

void AppOpenRecordingTest::initTestCase() {
    fixture.makeSkins();
    QVERIFY(dir_.isValid());
}

void AppOpenRecordingTest::init() {
    Accelerometer::sharedAccelerometer().setDelegate(nullptr);
    Accelerometer::sharedAccelerometer().setUpdateInterval(0.0);
    Accelerometer::sharedAccelerometer().setDriver(nullptr);
}

QString AppOpenRecordingTest::write(const QString& name, const QByteArray& text) {
    const QString path = dir_.filePath(name);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(text);
    return path;
}

void AppOpenRecordingTest::opensFromEntryOrDrop_data() {
    QTest::addColumn<bool>("dropped");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("source");  // what the status bar names afterwards
    QTest::addColumn<QString>("message"); // a part of the message box text; empty: none

    QTest::newRow("entry") << false << kRows << "replay: ride.csv"
                           << "";
    QTest::newRow("drop") << true << kRows << "replay: ride.csv"
                          << "";
    QTest::newRow("entry, refused file keeps the source")
        << false << QByteArray("a,b\n1,2\n") << "simulated (seed 1)"
        << "ride.csv\", line 1: expected a header";
    QTest::newRow("drop, refused file keeps the source")
        << true << QByteArray("time,x,y,z\n0,0,0,5000\n") << "simulated (seed 1)"
        << "line 2: expected readings within ±1000 g";
}

void AppOpenRecordingTest::opensFromEntryOrDrop() {
    QFETCH(bool, dropped);
    QFETCH(QByteArray, text);
    QFETCH(QString, source);
    QFETCH(QString, message);

    fixture.useStore();
    app::WobblestarAppDelegate app;
    app.applicationDidFinishLaunching();
    const QString path = write(QStringLiteral("ride.csv"), text);
    if (dropped) {
        drop(app.window(), path);
    } else {
        QCOMPARE(AppFixture::recordingOpener(app)->action()->text(),
                 QStringLiteral("Replay a file…"));
        AppFixture::recordingOpener(app)->setChooser([&] { return path; });
        AppFixture::recordingOpener(app)->action()->trigger();
    }
    QCOMPARE(app.statusBar()->sourceText(), source);
    QCOMPARE(Accelerometer::sharedAccelerometer().driver()->description(), source);
    // The About screen names the source in use too.
    QVERIFY2(controls(app).infoText->toPlainText().contains(source),
             qPrintable(controls(app).infoText->toPlainText()));
    if (message.isEmpty()) {
        QVERIFY(!AppFixture::messageBox(app));
    } else {
        QVERIFY(AppFixture::messageBox(app));
        QVERIFY2(AppFixture::messageBox(app)->text().contains(message),
                 qPrintable(AppFixture::messageBox(app)->text()));
    }
}

void AppOpenRecordingTest::endIsAnnouncedAndRateFallsToZero() {
    fixture.useStore();
    app::WobblestarAppDelegate app;
    app.applicationDidFinishLaunching();
    Accelerometer& accelerometer = Accelerometer::sharedAccelerometer();
    QSignalSpy messages(&accelerometer, &Accelerometer::statusMessage);
    QVERIFY(AppFixture::openRecording(app, write(QStringLiteral("short.csv"), kRows), 0.1));
    QTRY_VERIFY_WITH_TIMEOUT(accelerometer.deliveredRate() > 0.0, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(messages.count(), 1, 5000);
    QCOMPARE(messages.first().first().toString(), QStringLiteral("Replay of short.csv finished"));
    QTRY_COMPARE_WITH_TIMEOUT(app.statusBar()->rateText(), QStringLiteral("0/s"), 5000);

    // Nothing to record once the replay has ended: Start says so and starts nothing.
    QTest::qWait(1100);
    app.setSampleFile(app::WobblestarAppDelegate::SampleFile::Default);
    app.recordMenu();
    app.start();
    QVERIFY(!AppFixture::isRecording(app));
    QVERIFY(!app.sampleWriter());
    QVERIFY2(app.statusBar()->messageText().startsWith(u"Not recording"),
             qPrintable(app.statusBar()->messageText()));
}

void AppOpenRecordingTest::replayFromTheRecordingsWindow() {
    fixture.useStore();
    app::WobblestarAppDelegate app;
    app.applicationDidFinishLaunching();
    app.recordings();
    QVERIFY(AppFixture::recordingsWindow(app));
    // Never larger than the screen's free area allows.
    const QSize room = AppFixture::recordingsWindow(app)->screen()->availableGeometry().size();
    QVERIFY(AppFixture::recordingsWindow(app)->width() <= room.width() * 0.9 + 1);
    QVERIFY(AppFixture::recordingsWindow(app)->height() <= room.height() * 0.9 + 1);

    emit AppFixture::recordingsWindow(app)->replayRequested(
        write(QStringLiteral("ride.csv"), kRows), 0.2);
    QCOMPARE(app.statusBar()->messageText(), QStringLiteral("Replaying ride.csv from 0.2 s"));
    QVERIFY(app.topLevelWindow()->isVisible());
}

QTEST_MAIN(AppOpenRecordingTest)
#include "tst_app_open_recording.moc"
