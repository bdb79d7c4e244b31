#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>

// The program as a user starts it from a terminal, under faults: wrong arguments, signals at
// awkward moments, a display that is not there. Every case ends with a clear line and a status,
// never a hang or an abort.
// Signals the program only while it runs: a process id of 0 would signal this test's whole
// process group.
void signalProcess(const QProcess& process, int signalNumber) {
    if (process.state() == QProcess::Running && process.processId() > 0)
        ::kill(pid_t(process.processId()), signalNumber);
}

class ProcessFaultsTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void commandLine_data();
    void commandLine();
    void fileNameNotUtf8();
    void stopSignals_data();
    void stopSignals();
    void displayNotReachable_data();
    void displayNotReachable();
    void sourceMessagesOnStandardError();
    void everyLineSaysWhose_data();
    void everyLineSaysWhose();

private:
    // Starts the program without a display, with its settings in a fresh folder.
    void start(QProcess& process, const QStringList& arguments,
               const QMap<QString, QString>& extra = {});
    QProcessEnvironment environment() const;
    // A fresh folder per test function and row.
    std::unique_ptr<QTemporaryDir> folder;
    QDir home;
};

void ProcessFaultsTest::init() {
    folder = std::make_unique<QTemporaryDir>();
    QVERIFY(folder->isValid());
    home = QDir(folder->path());
}

QProcessEnvironment ProcessFaultsTest::environment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("WOBBLESTAR_CONFIG_DIR"), home.filePath("config"));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath("data"));
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    return environment;
}

void ProcessFaultsTest::start(QProcess& process, const QStringList& arguments,
                              const QMap<QString, QString>& extra) {
    QProcessEnvironment variables = environment();
    for (auto it = extra.cbegin(); it != extra.cend(); ++it)
        variables.insert(it.key(), it.value());
    process.setProcessEnvironment(variables);
    process.start(QStringLiteral(WOBBLESTAR_BINARY), arguments);
    QVERIFY(process.waitForStarted());
}

void ProcessFaultsTest::commandLine_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    const QStringList shot = {"--source", "sim", "--screenshot", "SHOT"};
    QTest::newRow("--after beyond an hour")
        << shot + QStringList{"--after", "3000000"} << "--after";
    QTest::newRow("--after negative") << shot + QStringList{"--after", "-1"} << "--after";
    QTest::newRow("--after nan") << shot + QStringList{"--after", "nan"} << "--after";
    QTest::newRow("--after inf") << shot + QStringList{"--after", "inf"} << "--after";
    QTest::newRow("--scale below 0.25") << shot + QStringList{"--scale", "0.1"} << "--scale";
    QTest::newRow("--scale above 8") << shot + QStringList{"--scale", "8.5"} << "--scale";
    QTest::newRow("--screenshot empty")
        << QStringList{"--source", "sim", "--screenshot", ""} << "--screenshot";
    QTest::newRow("--screenshot= empty")
        << QStringList{"--source", "sim", "--screenshot="} << "--screenshot";
    QTest::newRow("--csv empty") << QStringList{"--record", "0.10", "--duration", "1", "--csv", ""}
                                 << "--csv";
    QTest::newRow("--source empty")
        << QStringList{"--source", " ", "--screenshot", "SHOT"} << "--source";
    QTest::newRow("--analyze empty") << QStringList{"--analyze", ""} << "--analyze";
    QTest::newRow("--plot empty") << QStringList{"--analyze", "a.csv", "--plot", ""} << "--plot";
    QTest::newRow("--screen unknown")
        << shot + QStringList{"--screen", "gauges"} << "Unknown screen";
}

// One line on standard error naming the option, exit status 2, and no file written.
void ProcessFaultsTest::commandLine() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    const QString shot = home.filePath(QStringLiteral("shot.png"));
    arguments.replaceInStrings(QStringLiteral("SHOT"), shot);
    QProcess process;
    start(process, arguments);
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 2);
    const QByteArray error = process.readAllStandardError();
    QCOMPARE(error.count('\n'), 1);
    QVERIFY2(error.startsWith("wobblestar: " + message.toUtf8()), error.constData());
    QVERIFY(!QFile::exists(shot));
}

// Linux file names are bytes; one that is not UTF-8 is written under exactly those bytes, and
// read back as a replay.
void ProcessFaultsTest::fileNameNotUtf8() {
    const QByteArray homeBytes = QFile::encodeName(home.path());
    const QByteArray name = homeBytes + "/ride\xff\xfe.csv";
    const QByteArray shot = homeBytes + "/shot\xe9.png";
    {
        QFile file(home.filePath(QStringLiteral("plain.csv")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("time,x,y,z\n0,0,0,-1\n0.1,0,0,-1\n0.2,0,0,-1\n");
    }
    QVERIFY(::rename(QFile::encodeName(home.filePath("plain.csv")).constData(), name.constData()) ==
            0);

    // Through a shell: QProcess passes its arguments as UTF-8 text.
    QProcess process;
    process.setProcessEnvironment(environment());
    process.setProgram(QStringLiteral("/bin/sh"));
    process.setArguments(
        {QStringLiteral("-c"),
         QStringLiteral("exec \"$0\" --source \"replay:$(printf '%s/ride\\377\\376.csv' \"$1\")\" "
                        "--after 0.3 --screenshot \"$(printf '%s/shot\\351.png' \"$1\")\""),
         QStringLiteral(WOBBLESTAR_BINARY), home.path()});
    process.start();
    QVERIFY(process.waitForFinished(30000));
    QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
    struct stat info {};
    QVERIFY(::stat(shot.constData(), &info) == 0);
    QVERIFY(info.st_size > 0);
    // Only the two files: nothing was written under a mangled name.
    int files = 0;
    DIR* listing = ::opendir(homeBytes.constData());
    while (const dirent* entry = ::readdir(listing))
        files += entry->d_name[0] != '.';
    ::closedir(listing);
    QCOMPARE(files, 2);
}

void ProcessFaultsTest::stopSignals_data() {
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGHUP, the terminal closed") << SIGHUP;
}

// A headless recording ended by a signal prints its log, with its ending, and succeeds; a
// start-up that blocks (a replay "file" that is a FIFO nobody writes) ends at the second
// signal.
void ProcessFaultsTest::stopSignals() {
    QFETCH(int, signalNumber);
    QProcess recording;
    const QString csv = home.filePath(QStringLiteral("ride.csv"));
    start(recording, {"--source", "sim", "--record", "0.10", "--duration", "600", "--csv", csv});
    // The full-rate file appears when the recording starts.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(csv), 20000);
    signalProcess(recording, signalNumber);
    QVERIFY(recording.waitForFinished(30000));
    QCOMPARE(recording.exitStatus(), QProcess::NormalExit);
    QCOMPARE(recording.exitCode(), 0);
    const QByteArray log = recording.readAllStandardOutput();
    QVERIFY2(log.startsWith("Recording Frequency: 0.10s"), log.constData());
    QVERIFY2(log.contains("\n\nRecording Ended:\n"), log.constData());

    const QString fifo = home.filePath(QStringLiteral("fifo.csv"));
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    QProcess blocked;
    start(blocked, {"--source", "replay:" + fifo, "--screenshot", home.filePath("never.png")});
    QTest::qWait(1000);
    signalProcess(blocked, signalNumber);
    QTest::qWait(200);
    signalProcess(blocked, signalNumber);
    if (blocked.state() != QProcess::NotRunning)
        QVERIFY(blocked.waitForFinished(30000));
    QVERIFY(!QFile::exists(home.filePath("never.png")));
    // Ended by the signal or with its status: never a success.
    QVERIFY(blocked.exitStatus() == QProcess::CrashExit ||
            blocked.exitCode() == 128 + signalNumber);
}

void ProcessFaultsTest::displayNotReachable_data() {
    QTest::addColumn<QString>("variable");
    QTest::addColumn<QString>("value");
    QTest::newRow("DISPLAY of no server") << "DISPLAY"
                                          << ":64999";
    QTest::newRow("WAYLAND_DISPLAY of no compositor") << "WAYLAND_DISPLAY"
                                                      << "wayland-64999";
    // The platform named outright, as a desktop file or a user may: Qt would abort.
    QTest::newRow("xcb asked for, no server") << "QT_QPA_PLATFORM"
                                              << "xcb";
    QTest::newRow("wayland asked for, no compositor") << "QT_QPA_PLATFORM"
                                                      << "wayland";
}

// The same message and status as without any display, not an abort.
void ProcessFaultsTest::displayNotReachable() {
    QFETCH(QString, variable);
    QFETCH(QString, value);
    QProcess process;
    start(process, {"--source", "sim"}, {{variable, value}});
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 2);
    const QByteArray error = process.readAllStandardError();
    QVERIFY2(error.contains("wobblestar: no display found"), error.constData());
}

// A driver's message reaches a headless run's standard error as one line.
void ProcessFaultsTest::sourceMessagesOnStandardError() {
    const QString replay = home.filePath(QStringLiteral("short.csv"));
    {
        QFile file(replay);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("time,x,y,z\n0,0,0,-1\n0.05,0,0,-1\n0.1,0,0,-1\n");
    }
    QProcess process;
    start(process, {"--source", "replay:" + replay, "--record", "0.10", "--duration", "1"});
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitCode(), 0);
    const QList<QByteArray> lines = process.readAllStandardError().split('\n');
    QVERIFY(lines.contains("wobblestar: Replay of short.csv finished"));
}

// Every line on standard error says whose it is, Qt's own warnings included.
void ProcessFaultsTest::everyLineSaysWhose_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("variable");
    QTest::addColumn<QString>("value");
    const QStringList record = {"--record", "0.10", "--duration", "0.3"};
    QTest::newRow("the simulator said") << QStringList{"--source", "sim:1"} + record << ""
                                        << "";
    QTest::newRow("axes ignored") << QStringList{"--source", "sim", "--axes", "x,x,z"} + record
                                  << ""
                                  << "";
    QTest::newRow("no runtime folder")
        << QStringList{"--source", "sim"} + record << "XDG_RUNTIME_DIR"
        << "/nonexistent/runtime";
}

void ProcessFaultsTest::everyLineSaysWhose() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, variable);
    QFETCH(QString, value);
    QProcess process;
    QMap<QString, QString> extra;
    if (!variable.isEmpty())
        extra.insert(variable, value);
    start(process, arguments, extra);
    QVERIFY(process.waitForFinished(30000));
    const QByteArray error = process.readAllStandardError();
    QVERIFY2(!error.isEmpty(), "expected something on standard error");
    for (const QByteArray& line : error.split('\n')) {
        if (!line.isEmpty())
            QVERIFY2(line.startsWith("wobblestar: "), error.constData());
    }
}

QTEST_GUILESS_MAIN(ProcessFaultsTest)
#include "tst_process_faults.moc"
