#include "AppFixture.h"

#include <QProcess>
#include <QTest>
#include <csignal>
#include <sys/resource.h>

// Every write the program makes, failing as a full disk makes it fail: each says where, and why
// in the system's words. /dev/full refuses every write with ENOSPC; a file-size limit
// (RLIMIT_FSIZE, with SIGXFSZ ignored) lets a write store part of its block and refuses the rest
// with EFBIG, as a disk that fills up in the middle of a block does.
namespace {

// The limit for this process, while it lives.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        handler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, handler_);
    }

private:
    rlimit saved_{};
    void (*handler_)(int) = nullptr;
};

QStringList warnings;
void keepWarning(QtMsgType, const QMessageLogContext&, const QString& message) {
    warnings << message;
}

} // namespace

class WriteFailuresTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { fixture.makeSkins(); }
    void namedWithTheSystemsReason_data();
    void namedWithTheSystemsReason();

private:
    QString runProgram(const QString& write, const QString& target, rlim_t limit);
    QString runInWindow(const QString& write, const QString& target, rlim_t limit);

    AppFixture fixture;
    QTemporaryDir folder;
};

void WriteFailuresTest::namedWithTheSystemsReason_data() {
    QTest::addColumn<QString>("write"); // what the user did that writes
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("limit"); // bytes a file may grow to; 0 for none
    QTest::addColumn<QString>("where");
    QTest::addColumn<QString>("reason");

    const QString full = QStringLiteral("No space left on device");
    const QString tooLarge = QStringLiteral("File too large");
    QTest::newRow("full-rate CSV, disk full") << "record"
                                              << "/dev/full" << 0 << "/dev/full" << full;
    QTest::newRow("full-rate CSV, filled mid-block") << "record"
                                                     << "out.csv" << 2048 << "out.csv" << tooLarge;
    QTest::newRow("recording log in the store")
        << "stop" << QString() << 64 << "Wobblestar.conf" << tooLarge;
    QTest::newRow("settings store") << "back" << QString() << 64 << "Wobblestar.conf" << tooLarge;
    QTest::newRow("screenshot, filled mid-block") << "screenshot"
                                                  << "shot.png" << 2048 << "shot.png" << tooLarge;
    QTest::newRow("log saved to a file") << "save log"
                                         << "log.txt" << 64 << "log.txt" << tooLarge;
}

void WriteFailuresTest::namedWithTheSystemsReason() {
    QFETCH(QString, write);
    QFETCH(QString, target);
    QFETCH(int, limit);
    QFETCH(QString, where);
    QFETCH(QString, reason);

    if (!target.isEmpty() && !target.startsWith(QLatin1Char('/')))
        target = folder.filePath(target);
    const QString said = write == u"record" || write == u"screenshot"
                             ? runProgram(write, target, rlim_t(limit))
                             : runInWindow(write, target, rlim_t(limit));
    QVERIFY2(said.contains(where) && said.contains(reason), qPrintable(said));
    QVERIFY2(!said.contains(QLatin1String("Unknown error")), qPrintable(said));
}

// Records for three seconds at 40 per second, or takes a screenshot, without a display; returns
// standard error.
QString WriteFailuresTest::runProgram(const QString& write, const QString& target, rlim_t limit) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("WOBBLESTAR_CONFIG_DIR"), folder.filePath("config"));
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    process.setProcessEnvironment(environment);
    if (limit != 0) {
        process.setChildProcessModifier([limit] {
            const rlimit small{limit, limit};
            setrlimit(RLIMIT_FSIZE, &small);
            std::signal(SIGXFSZ, SIG_IGN);
        });
    }
    process.start(QStringLiteral(WOBBLESTAR_BINARY),
                  write == u"record" ? QStringList{"--source", "sim", "--record", "0.10",
                                                   "--duration", "3", "--csv", target}
                                     : QStringList{"--source", "sim", "--screenshot", target});
    if (!process.waitForFinished(30000) || process.exitCode() != 1)
        return QStringLiteral("exit status %1").arg(process.exitCode());
    return QString::fromLocal8Bit(process.readAllStandardError());
}

// Does `write` in the window while files may grow to `limit` bytes; returns what was said.
QString WriteFailuresTest::runInWindow(const QString& write, const QString& target, rlim_t limit) {
    // A log longer than the limit, so that each file written with it passes the limit.
    fixture.useStore("[General]\ntext=" + QByteArray(200, 'x') + '\n');
    app::WobblestarAppDelegate app;
    app.applicationDidFinishLaunching();
    app.setSampleFile(app::WobblestarAppDelegate::SampleFile::None);
    if (write == u"stop") {
        app.recordMenu();
        app.start();
        app.timerFired();
    } else if (write == u"back") {
        app.settings();
        controls(app).xAxis->setOn(!controls(app).xAxis->isOn());
    } else {
        AppFixture::setLogFileChooser(app, [target] { return target; });
    }
    warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(keepWarning);
    {
        const FileSizeLimit small(limit);
        if (write == u"stop")
            app.stop();
        else if (write == u"back")
            app.back();
        else
            app.saveLog();
    }
    qInstallMessageHandler(previous);
    return warnings.join(QLatin1Char('\n'));
}

QTEST_MAIN(WriteFailuresTest)
#include "tst_write_failures.moc"
