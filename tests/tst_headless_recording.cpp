#include "features/HeadlessRecording.h"

#include <QTest>

using features::LaunchAction;
using features::LaunchOptions;

class HeadlessRecordingTest : public QObject {
    Q_OBJECT
private slots:
    void commandLine_data();
    void commandLine();
};

void HeadlessRecordingTest::commandLine_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("requested"); // a valid headless recording
    QTest::addColumn<int>("periodIndex");
    QTest::addColumn<QString>("error"); // start of the one line, or empty

    auto row = [](const char* name, QStringList arguments, bool requested, int index,
                  QString error) {
        QTest::newRow(name) << arguments << requested << index << error;
    };
    row("plain start", {}, false, 0, {});
    row("0.10", {"--record", "0.10", "--duration", "5"}, true, 0, {});
    row("0.25 with csv", {"--record", "0.25", "--duration", "1.5", "--csv", "a.csv"}, true, 1, {});
    row("0.50 short form", {"--record", ".5", "--duration", "1"}, true, 2, {});
    row("0.75 as labelled", {"--record", "0.75s", "--duration", "1"}, true, 3, {});
    row("0.1", {"--record", "0.1", "--duration", "1"}, true, 0, {});
    row("unknown period", {"--record", "0.2", "--duration", "1"}, false, 0,
        "--record needs a period of 0.10, 0.25, 0.50 or 0.75 seconds, not '0.2'");
    row("not a number", {"--record", "fast", "--duration", "1"}, false, 0,
        "--record needs a period");
    row("comma decimal", {"--record", "0,25", "--duration", "1"}, false, 0,
        "--record needs a period");
    row("no duration", {"--record", "0.10"}, false, 0, "--record needs --duration");
    row("infinite duration", {"--record", "0.10", "--duration", "inf"}, false, 0,
        "--duration needs a positive, finite");
    row("duration alone", {"--duration", "3"}, false, 0, "--duration and --csv belong");
    row("csv alone", {"--csv", "a.csv"}, false, 0, "--duration and --csv belong");
    row("at the sensor's fastest",
        {"--record", "0.10", "--duration", "1", "--csv", "a.csv", "--record-rate", "native"}, true,
        0, {});
    row("at a sensor rate in Hz", {"--record", "0.10", "--duration", "1", "--record-rate", "1600"},
        true, 0, {});
    row("a sensor rate of neither", {"--record", "0.10", "--duration", "1", "--record-rate", "max"},
        false, 0, "--record-rate needs native or a number");
    row("a sensor rate beyond 10 kHz",
        {"--record", "0.10", "--duration", "1", "--record-rate", "20000"}, false, 0,
        "--record-rate needs native or a number");
    row("with screenshot", {"--record", "0.10", "--duration", "1", "--screenshot", "a.png"}, false,
        0, "--record and --screenshot");
}

void HeadlessRecordingTest::commandLine() {
    QFETCH(QStringList, arguments);
    QFETCH(bool, requested);
    QFETCH(int, periodIndex);
    QFETCH(QString, error);

    LaunchOptions options;
    QString parseError, output;
    arguments.prepend("wobblestar");
    const LaunchAction action =
        features::parseLaunchOptions(arguments, options, &parseError, &output);
    if (action == LaunchAction::Fail) {
        // Rejected before it reaches here (a bad --duration number): also exit status 2.
        QVERIFY2(!error.isEmpty() && parseError.contains(error.section(u',', 0, 0)),
                 qPrintable(parseError));
        return;
    }
    QString message;
    const auto request = features::HeadlessRecording::requestFromOptions(options, &message);
    QCOMPARE(request.has_value(), requested);
    QVERIFY2(message.startsWith(error) && message.isEmpty() == error.isEmpty(),
             qPrintable(message));
    QVERIFY(!message.contains('\n'));
    if (request) {
        QCOMPARE(request->periodIndex, periodIndex);
        QCOMPARE(request->duration, options.duration);
        QCOMPARE(request->csvPath, options.csv);
    }
}

QTEST_GUILESS_MAIN(HeadlessRecordingTest)
#include "tst_headless_recording.moc"
