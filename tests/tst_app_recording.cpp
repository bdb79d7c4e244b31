#include "AppFixture.h"
#include "features/RecordingLog.h"
#include "sensors/RecordingFile.h"
#include "sensors/ReplayDriver.h"

#include <QAbstractButton>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>
#include <QTimer>

using desktop::MailComposer;
using sensors::Acceleration;
using sensors::Accelerometer;
using SampleFile = app::WobblestarAppDelegate::SampleFile;

namespace {

const QString kStamp = QStringLiteral(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d [+-]\d{4})");

// The time stamps of a finished log, in order; the rest of the text must then equal `expected`
// with "%1" and "%2" filled by them.
QString withStamps(const QString& log, const QString& expected) {
    QRegularExpression stamp(QLatin1Char('^') + kStamp + QLatin1Char('$'),
                             QRegularExpression::MultilineOption);
    QStringList found;
    for (const QRegularExpressionMatch& match : stamp.globalMatch(log))
        found << match.captured();
    if (found.size() != 2)
        return QStringLiteral("<%1 time stamps>").arg(found.size());
    return expected.arg(found[0], found[1]);
}

// A mail program that is there and takes every URL, remembering the last one.
struct FakeMail {
    QUrl opened;
    bool installed = true;
    bool launches = true;
    MailComposer composer() {
        return MailComposer(
            [this](const QUrl& url) {
                opened = url;
                return launches;
            },
            [this]() -> std::optional<bool> { return installed; });
    }
};

} // namespace

// The recording screen wired to its actions: the log, the buttons, the store, mail, the
// full-rate file, quitting during a recording, and the headless --record run.
class AppRecordingTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void logText_data();
    void logText();
    void secondStartReplacesLog();
    void states_data();
    void states();
    void timerTicksIntoLog();
    void storedKeys();
    void storeWriteFailureKeepsLog();
    void mailFailure_data();
    void mailFailure();
    void mailOpened();
    void saveLogFailure();
    void quitDuringRecording_data();
    void quitDuringRecording();
    void fullRateFileReplays();
    void defaultSampleFile();
    void sampleFileErrorShownOnce();
    void headlessRecord_data();
    void headlessRecord();

private:
    std::unique_ptr<app::WobblestarAppDelegate> makeApp();
    static void deliver(app::WobblestarAppDelegate& app, double x, double y, double z,
                        double timestamp = 0.0) {
        app.accelerometer(Accelerometer::sharedAccelerometer(), Acceleration{x, y, z, timestamp});
    }

    AppFixture fixture;
    QTemporaryDir data;
};

void AppRecordingTest::initTestCase() {
    fixture.makeSkins();
    // Full-rate files of the default kind land here, not in the user's data folder.
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
}

void AppRecordingTest::init() {
    Accelerometer::sharedAccelerometer().setDelegate(nullptr);
    Accelerometer::sharedAccelerometer().setUpdateInterval(0.0);
    fixture.useStore("[General]\ntext=earlier log\nsegment2=2\n");
}

std::unique_ptr<app::WobblestarAppDelegate> AppRecordingTest::makeApp() {
    auto app = std::make_unique<app::WobblestarAppDelegate>();
    app->applicationDidFinishLaunching();
    // No sampling in the background: the tests hand in every reading themselves.
    Accelerometer::sharedAccelerometer().setDelegate(nullptr);
    AppFixture::setMailComposer(*app, FakeMail().composer());
    app->setSampleFile(SampleFile::None);
    app->recordMenu();
    return app;
}

void AppRecordingTest::logText_data() {
    QTest::addColumn<int>("period");
    // Readings handed in before each tick; an empty row ticks with what is there.
    QTest::addColumn<QList<QList<double>>>("readings");
    QTest::addColumn<bool>("xShown");
    QTest::addColumn<QString>("expected");

    const QString head = QStringLiteral("Recording Frequency: %3 \n\nRecording Started:\n%1\n");
    const QString foot = QStringLiteral("\n\nRecording Ended:\n%2");
    auto log = [&](const char* label, const QString& lines) {
        return QString(head).replace(QLatin1String("%3"), QLatin1String(label)) + lines + foot;
    };

    QTest::newRow("stop before the first tick")
        << 0 << QList<QList<double>>{} << true << log("0.10s", QString());
    QTest::newRow("no sample yet")
        << 1 << QList<QList<double>>{{}, {}} << true
        << log("0.25s", "\n[X]: +0.00              [Y]: +0.00              "
                        "[Z]: +0.00"
                        "\n[X]: +0.00              [Y]: +0.00              "
                        "[Z]: +0.00");
    QTest::newRow("signs and rounding")
        << 2 << QList<QList<double>>{{1.0, -1.02, 0.006}, {-0.004, 0.996, -2.5}} << true
        << log("0.50s", "\n[X]: +1.00              [Y]: -1.02              [Z]: +0.01"
                        "\n[X]: -0.00              [Y]: +1.00              [Z]: -2.50");
    // The log takes the raw reading, whatever the graph's axis switches say.
    QTest::newRow("axis switched off") << 3 << QList<QList<double>>{{0.25, 0.5, -0.75}} << false
                                       << log("0.75s", "\n[X]: +0.25              [Y]: +0.50"
                                                       "              [Z]: -0.75");
    QTest::newRow("latest reading only")
        << 0 << QList<QList<double>>{{9.0, 9.0, 9.0}, {0.1, 0.2, 0.3}} << true
        << log("0.10s", "\n[X]: +9.00              [Y]: +9.00              [Z]: +9.00"
                        "\n[X]: +0.10              [Y]: +0.20              [Z]: +0.30");
    QTest::newRow("no period chosen")
        << -1 << QList<QList<double>>{} << true << log("none", QString());
}

void AppRecordingTest::logText() {
    QFETCH(int, period);
    QFETCH(QList<QList<double>>, readings);
    QFETCH(bool, xShown);
    QFETCH(QString, expected);

    auto app = makeApp();
    controls(*app).xAxis->setOn(xShown);
    controls(*app).segment->setSelectedSegmentIndex(period);
    app->start();
    for (const QList<double>& reading : readings) {
        if (!reading.isEmpty())
            deliver(*app, reading[0], reading[1], reading[2]);
        const int before = controls(*app).recordingText->toPlainText().size();
        app->timerFired();
        // One line per tick while every value has one digit before the point.
        if (std::abs(reading.value(0)) < 9.0)
            QCOMPARE(controls(*app).recordingText->toPlainText().size() - before, 59);
    }
    app->stop();
    const QString log = controls(*app).recordingText->toPlainText();
    QCOMPARE(log, withStamps(log, expected));
}

void AppRecordingTest::secondStartReplacesLog() {
    auto app = makeApp();
    app->start();
    app->timerFired();
    app->stop();
    app->start();
    const QString log = controls(*app).recordingText->toPlainText();
    QVERIFY(QRegularExpression(QStringLiteral("^Recording Frequency: 0\\.50s \n\nRecording "
                                              "Started:\n") +
                               kStamp + QStringLiteral("\n$"))
                .match(log)
                .hasMatch());
    app->stop();
}

void AppRecordingTest::states_data() {
    QTest::addColumn<int>("period");
    QTest::addColumn<int>("timerField"); // -1: none
    QTest::addColumn<int>("interval");
    QTest::newRow("0.10") << 0 << 0 << 100;
    QTest::newRow("0.25") << 1 << 1 << 250;
    QTest::newRow("0.50") << 2 << 2 << 500;
    QTest::newRow("0.75") << 3 << 3 << 750;
    QTest::newRow("none") << -1 << -1 << 0;
}

void AppRecordingTest::states() {
    QFETCH(int, period);
    QFETCH(int, timerField);
    QFETCH(int, interval);

    auto app = makeApp();
    auto buttons = [&] {
        return QList<bool>{controls(*app).start->isEnabled(), controls(*app).stop->isEnabled(),
                           controls(*app).emailrecord->isEnabled(),
                           controls(*app).closerecord->isEnabled()};
    };
    const QList<bool> idle{true, false, true, true};
    QCOMPARE(buttons(), idle);
    QVERIFY(!AppFixture::isRecording(*app));

    controls(*app).segment->setSelectedSegmentIndex(period);
    app->start();
    QCOMPARE(buttons(), (QList<bool>{false, true, false, false}));
    QVERIFY(AppFixture::isRecording(*app));
    QVERIFY(!controls(*app).graphView->updatingIsEnabled());
    for (int field = 0; field < 4; ++field) {
        QTimer* timer = AppFixture::recordingTimer(*app, field);
        QCOMPARE(timer != nullptr, field == timerField);
        if (timer) {
            QVERIFY(timer->isActive());
            QCOMPARE(timer->interval(), interval);
        }
    }
    // A running recording cannot be left by Esc either.
    QTest::keyClick(app->window(), Qt::Key_Escape);
    QCOMPARE(AppFixture::shownScreen(*app), app::WobblestarAppDelegate::Screen::Recording);

    // Another period chosen during the recording leaves the running timer alone, and stop
    // still finds it.
    controls(*app).segment->setSelectedSegmentIndex((period + 1) % 4);
    app->stop();
    QCOMPARE(buttons(), idle);
    QVERIFY(!AppFixture::isRecording(*app));
    QVERIFY(controls(*app).graphView->updatingIsEnabled());
    for (int field = 0; field < 4; ++field)
        QVERIFY(!AppFixture::recordingTimer(*app, field));
}

void AppRecordingTest::timerTicksIntoLog() {
    auto app = makeApp();
    controls(*app).segment->setSelectedSegmentIndex(0);
    deliver(*app, 0.5, 0.25, -1.0);
    app->start();
    QTRY_VERIFY(controls(*app).recordingText->toPlainText().count(QLatin1String("\n[X]: +0.50")) >=
                2);
    app->stop();
}

void AppRecordingTest::storedKeys() {
    auto app = makeApp();
    QCOMPARE(controls(*app).recordingText->toPlainText(), QStringLiteral("earlier log"));
    controls(*app).segment->setSelectedSegmentIndex(3);
    app->start();
    QCOMPARE(QSettings().value("segment2").toInt(), 3);
    // The log reaches the store only when the recording stops.
    QCOMPARE(QSettings().value("text").toString(), QStringLiteral("earlier log"));
    app->timerFired();
    app->stop();
    const QSettings onDisk(desktop::settingsStorePath(), QSettings::IniFormat);
    QCOMPARE(onDisk.value("text").toString(), controls(*app).recordingText->toPlainText());
    QCOMPARE(onDisk.value("segment2").toInt(), 3);
    QVERIFY(!AppFixture::messageBox(*app));
}

void AppRecordingTest::storeWriteFailureKeepsLog() {
    // A configuration folder that cannot be created (a file stands in its way) fails every
    // write, for root too.
    QTemporaryDir folder;
    QFile blocker(folder.filePath(QStringLiteral("blocker")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    qputenv("WOBBLESTAR_CONFIG_DIR", blocker.fileName().toUtf8() + "/config");
    desktop::setUpSettingsStore();

    auto app = makeApp();
    app->start();
    app->timerFired();
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("could not be written")));
    app->stop();
    QVERIFY(AppFixture::messageBox(*app));
    QVERIFY(AppFixture::messageBox(*app)->text().contains(QLatin1String("could not be written")));
    QVERIFY(
        controls(*app).recordingText->toPlainText().contains(QLatin1String("Recording Ended:")));
    QVERIFY(!AppFixture::isRecording(*app));
}

void AppRecordingTest::mailFailure_data() {
    QTest::addColumn<bool>("installed");
    QTest::addColumn<bool>("launches");
    QTest::addColumn<int>("logLines");
    QTest::addColumn<QString>("says");
    QTest::newRow("no mail program") << false << true << 3 << "No mail program";
    QTest::newRow("launcher failed") << true << false << 3 << "could not be started";
    QTest::newRow("too long") << true << true << 3000 << "too long";
}

void AppRecordingTest::mailFailure() {
    QFETCH(bool, installed);
    QFETCH(bool, launches);
    QFETCH(int, logLines);
    QFETCH(QString, says);

    auto app = makeApp();
    FakeMail mail;
    mail.installed = installed;
    mail.launches = launches;
    AppFixture::setMailComposer(*app, mail.composer());
    QStringList lines(logLines, QStringLiteral("[X]: +0.01 ä & to=x#"));
    controls(*app).recordingText->setPlainText(lines.join(QLatin1Char('\n')));

    QTemporaryDir folder;
    const QString chosen = folder.filePath(QStringLiteral("log.txt"));
    AppFixture::setLogFileChooser(*app, [&] { return chosen; });

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(says));
    app->emailrecord();
    QMessageBox* box = AppFixture::messageBox(*app);
    QVERIFY(box);
    QVERIFY(box->isVisible());
    QVERIFY2(box->text().contains(says), qPrintable(box->text()));
    QVERIFY(box->text().contains(QLatin1String("Save the log to a file")));

    // Taking the offer writes the log exactly as shown.
    QAbstractButton* save = box->buttons().value(0);
    for (QAbstractButton* button : box->buttons())
        if (box->buttonRole(button) == QMessageBox::AcceptRole)
            save = button;
    save->click();
    QTRY_VERIFY(QFileInfo::exists(chosen));
    QFile file(chosen);
    QVERIFY(file.open(QIODevice::ReadOnly));
    // A text file: the last line ends too.
    QCOMPARE(QString::fromUtf8(file.readAll()),
             controls(*app).recordingText->toPlainText() + u'\n');

    // Feedback fails the same way, without the offer; a README page needs no mail program.
    // The box went away with the click.
    QTRY_VERIFY(!AppFixture::messageBox(*app));
    const bool feedbackIsMail = desktop::feedbackUrl().scheme() == u"mailto";
    if (launches && (installed || !feedbackIsMail)) {
        app->email();
        QTRY_VERIFY(!AppFixture::messageBox(*app));
    } else {
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(feedbackIsMail ? says : QStringLiteral("opened")));
        app->email();
        QVERIFY(!AppFixture::messageBox(*app)->text().contains(QLatin1String("Save the log")));
    }
}

void AppRecordingTest::mailOpened() {
    auto app = makeApp();
    FakeMail mail;
    AppFixture::setMailComposer(*app, mail.composer());
    app->start();
    app->timerFired();
    app->stop();
    app->emailrecord();
    QVERIFY(!AppFixture::messageBox(*app));
    QCOMPARE(mail.opened, desktop::recordMailUrl(controls(*app).recordingText->toPlainText()));
    app->email();
    QCOMPARE(mail.opened, desktop::feedbackUrl());
}

void AppRecordingTest::saveLogFailure() {
    auto app = makeApp();
    QTemporaryDir folder;
    // A folder of that name already stands where the file should go.
    const QString chosen = folder.path();
    AppFixture::setLogFileChooser(*app, [&] { return chosen; });
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("could not be saved")));
    QVERIFY(!app->saveLog());
    QVERIFY(AppFixture::messageBox(*app));
    // Cancelling the dialog is no failure and says nothing.
    AppFixture::messageBox(*app)->close();
    AppFixture::setLogFileChooser(*app, [] { return QString(); });
    QVERIFY(!app->saveLog());
    QTRY_VERIFY(!AppFixture::messageBox(*app));
}

void AppRecordingTest::quitDuringRecording_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("recording");
    QTest::newRow("window closed") << "close" << true;
    QTest::newRow("application quits") << "aboutToQuit" << true;
    QTest::newRow("idle, window closed") << "close" << false;
    QTest::newRow("idle, application quits") << "aboutToQuit" << false;
}

void AppRecordingTest::quitDuringRecording() {
    QFETCH(QString, how);
    QFETCH(bool, recording);

    auto app = makeApp();
    if (recording) {
        app->start();
        app->timerFired();
    }
    if (how == u"close")
        app->window()->close();
    else // what quit() from Ctrl+Q or QuitOnSignals sets off when the event loop ends
        QVERIFY(QMetaObject::invokeMethod(qApp, "aboutToQuit"));

    QVERIFY(!AppFixture::isRecording(*app));
    const QSettings onDisk(desktop::settingsStorePath(), QSettings::IniFormat);
    const QString stored = onDisk.value("text").toString();
    if (recording) {
        QVERIFY(QRegularExpression(QStringLiteral("\n\\[X\\]: \\+0\\.00 .*\n\nRecording "
                                                  "Ended:\n") +
                                   kStamp + QLatin1Char('$'))
                    .match(stored)
                    .hasMatch());
        QCOMPARE(stored, controls(*app).recordingText->toPlainText());
    } else {
        QCOMPARE(stored, QStringLiteral("earlier log"));
    }
}

void AppRecordingTest::fullRateFileReplays() {
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("ride.csv"));
    QFile(path).open(QIODevice::WriteOnly); // an older file is replaced

    auto app = makeApp();
    app->setSampleFile(SampleFile::Named, path);
    const double t0 = Accelerometer::sharedAccelerometer().now();
    deliver(*app, 7.0, 7.0, 7.0, t0); // before the start: not written
    const double startsAfter = Accelerometer::sharedAccelerometer().now();
    app->start();
    const double origin = Accelerometer::sharedAccelerometer().now();
    std::vector<Acceleration> sent;
    for (int i = 0; i < 200; ++i) {
        const double t = origin + 0.0125 * (i + 1);
        sent.push_back({std::sin(i * 0.1) * 2.5, -1.0 / (i + 3), 0.1f * i - 9.0, t});
        deliver(*app, sent.back().x, sent.back().y, sent.back().z, t);
        if (i == 100)
            app->timerFired();
    }
    app->stop();
    deliver(*app, 7.0, 7.0, 7.0, origin + 10.0); // after the stop: not written
    QCOMPARE(app->sampleWriter()->path(), path);
    QVERIFY(!app->sampleWriter()->hasFailed());

    QString error;
    const std::vector<Acceleration> rows = sensors::loadRecording(path, &error).rows;
    QVERIFY2(!rows.empty(), qPrintable(error));
    QCOMPARE(rows.size(), sent.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        QCOMPARE(float(rows[i].x), float(sent[i].x));
        QCOMPARE(float(rows[i].y), float(sent[i].y));
        QCOMPARE(float(rows[i].z), float(sent[i].z));
        // The replay counts from its first row; the spacing stays, to the microsecond.
        QVERIFY(std::abs(rows[i].timestamp - (sent[i].timestamp - sent[0].timestamp)) < 2e-6);
    }
    // And the written times count from the start.
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    file.readLine();
    const double first = file.readLine().split(',').at(0).toDouble();
    QVERIFY(first >= sent[0].timestamp - origin - 1e-6);
    QVERIFY(first <= sent[0].timestamp - startsAfter + 1e-6);
}

void AppRecordingTest::defaultSampleFile() {
    auto app = makeApp();
    app->setSampleFile(SampleFile::Default);
    app->start();
    deliver(*app, 0.1, 0.2, 0.3, Accelerometer::sharedAccelerometer().now());
    app->stop();
    const QString path = app->sampleWriter()->path();
    QCOMPARE(QFileInfo(path).absolutePath(),
             QDir(data.path()).filePath(QStringLiteral("Wobblestar/recordings")));
    QVERIFY(QRegularExpression(QStringLiteral(R"(^\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d(_\d+)?\.csv$)"))
                .match(QFileInfo(path).fileName())
                .hasMatch());
    QString error;
    QCOMPARE(sensors::loadRecording(path, &error).rows.size(), size_t(1));
    // The screen says where the samples went.
    QVERIFY(controls(*app).sampleFileLabel->text().startsWith(QLatin1String("Samples: ")));
    QCOMPARE(controls(*app).sampleFileLabel->toolTip(), QDir::toNativeSeparators(path));

    // A second recording in the same second gets a file of its own.
    app->start();
    app->stop();
    QVERIFY(app->sampleWriter()->path() != path);
}

void AppRecordingTest::sampleFileErrorShownOnce() {
    QTemporaryDir folder;
    QFile blocker(folder.filePath(QStringLiteral("blocker")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    auto app = makeApp();
    app->setSampleFile(SampleFile::Named, blocker.fileName() + QStringLiteral("/ride.csv"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("full-rate")));
    app->start();
    QMessageBox* box = AppFixture::messageBox(*app);
    QVERIFY(box);
    QVERIFY(box->text().contains(QLatin1String("full-rate")));
    QVERIFY(controls(*app).sampleFileLabel->text().startsWith(QLatin1String("Not written")));
    for (int i = 0; i < 50; ++i)
        deliver(*app, 0.1, 0.2, 0.3, Accelerometer::sharedAccelerometer().now());
    app->timerFired();
    app->stop();
    // No second message replaced the first; the log itself went on.
    QCOMPARE(AppFixture::messageBox(*app), box);
    QVERIFY(controls(*app).recordingText->toPlainText().contains(QLatin1String("[Z]: +0.30")));
}

void AppRecordingTest::headlessRecord_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("csv");
    QTest::newRow("0.10 for 0.35 s")
        << QStringList{"--source", "sim", "--record", "0.10", "--duration", "0.35"} << 0 << false;
    QTest::newRow("with --csv") << QStringList{"--source",   "sim:7", "--record", "0.10s",
                                               "--duration", "0.35",  "--csv",    "CSV"}
                                << 0 << true;
    QTest::newRow("period not in the table")
        << QStringList{"--source", "sim", "--record", "0.2", "--duration", "1"} << 2 << false;
    QTest::newRow("no duration") << QStringList{"--source", "sim", "--record", "0.10"} << 2
                                 << false;
}

void AppRecordingTest::headlessRecord() {
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(bool, csv);

    QTemporaryDir home;
    const QString config = home.filePath(QStringLiteral("config"));
    const QString store = config + QStringLiteral("/Wobblestar/Wobblestar.conf");
    QDir().mkpath(QFileInfo(store).path());
    const QByteArray stored = "[General]\nsegment=1\nsegment2=3\ntext=kept log\n";
    {
        QFile file(store);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(stored);
    }
    const QDateTime storedAt = QFileInfo(store).lastModified();
    const QString csvPath = home.filePath(QStringLiteral("out.csv"));
    arguments.replaceInStrings(QStringLiteral("CSV"), csvPath);

    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("WOBBLESTAR_CONFIG_DIR"), config);
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(WOBBLESTAR_BINARY), arguments);
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), status);
    const QByteArray out = process.readAllStandardOutput();
    const QByteArray err = process.readAllStandardError();

    if (status != 0) {
        QVERIFY(out.isEmpty());
        const QList<QByteArray> lines = err.trimmed().split('\n');
        QVERIFY2(lines.last().startsWith("wobblestar: --"), err.constData());
    } else {
        const QRegularExpression format(
            QStringLiteral("^Recording Frequency: 0\\.10s \n\nRecording Started:\n") + kStamp +
            QStringLiteral("\n((\n\\[X\\]: [+-]\\d\\.\\d\\d {14}\\[Y\\]: [+-]\\d\\.\\d\\d {14}"
                           "\\[Z\\]: [+-]\\d\\.\\d\\d){1,3})\n\nRecording Ended:\n") +
            kStamp + QStringLiteral("\n$"));
        QVERIFY2(format.match(QString::fromUtf8(out)).hasMatch(), out.constData());
    }
    // The store and the log in it are as they were; no file was written beside them.
    QFile file(store);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), stored);
    QCOMPARE(QFileInfo(store).lastModified(), storedAt);
    QCOMPARE(QDir(QFileInfo(store).path()).entryList(QDir::Files).size(), 1);
    QVERIFY(!QFileInfo::exists(home.filePath(QStringLiteral("data/Wobblestar"))));

    QCOMPARE(QFileInfo::exists(csvPath), csv);
    if (csv) {
        QString error;
        const sensors::Recording recording = sensors::loadRecording(csvPath, &error);
        QVERIFY2(!recording.rows.empty(), qPrintable(error));
    }
}

QTEST_MAIN(AppRecordingTest)
#include "tst_app_recording.moc"
