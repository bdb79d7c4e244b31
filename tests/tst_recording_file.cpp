#include "sensors/RecordingFile.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

using sensors::Acceleration;
using sensors::kStandardGravity;
using sensors::parseRecording;
using sensors::Recording;
using sensors::RecordingFault;
using sensors::RecordingFormat;

Q_DECLARE_METATYPE(sensors::RecordingFormat)

namespace {

Recording parse(const QByteArray& text, RecordingFault* fault = nullptr) {
    return parseRecording(std::string_view(text.constData(), std::size_t(text.size())), fault);
}

bool near(double a, double b) {
    return std::abs(a - b) < 1e-9;
}

} // namespace

class RecordingFileTest : public QObject {
    Q_OBJECT
private slots:
    void readsEachFormat_data();
    void readsEachFormat();
    void refusesWithLine_data();
    void refusesWithLine();
    void incompleteLastLineIsSkippedWithWarning_data();
    void incompleteLastLineIsSkippedWithWarning();
    void readsAProcessOutputToItsEnd();
    void loadNamesFileLineAndExpectation();
    void readsRealPhyphoxExport();
    void saysRateAndUnit_data();
    void saysRateAndUnit();
};

void RecordingFileTest::readsEachFormat_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<RecordingFormat>("format");
    QTest::addColumn<int>("rows");
    // The last row, in g in the device convention, and its time after the first row.
    QTest::addColumn<double>("t");
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");
    QTest::addColumn<double>("z");
    QTest::addColumn<bool>("gravity");

    const double g = kStandardGravity;
    QTest::newRow("wobblestar") << QByteArray("time,x,y,z\n0.000,0.01,-0.02,-1.0\n"
                                              "0.025,0.5,-0.25,-0.75\n")
                                << RecordingFormat::Wobblestar << 2 << 0.025 << 0.5 << -0.25
                                << -0.75 << true;
    QTest::newRow("wobblestar CRLF, BOM, blank lines, times shifted to start at 0")
        << QByteArray("\xEF\xBB\xBFTime, X, Y, Z\r\n\r\n1.5,0,0,-1\r\n2.0,1,2,3\r\n\r\n")
        << RecordingFormat::Wobblestar << 2 << 0.5 << 1.0 << 2.0 << 3.0 << true;
    QTest::newRow("phyphox comma, decimal point, extra column")
        << QByteArray("\"Time (s)\",\"Acceleration x (m/s^2)\",\"Acceleration y (m/s^2)\","
                      "\"Acceleration z (m/s^2)\",\"Absolute acceleration (m/s^2)\"\n"
                      "8.211666427E-4,0,0,9.80665,9.80665\n"
                      "1.086216664E-2,-3.602109375E0,4.126918030E0,7.384144592E0,9.1\n")
        << RecordingFormat::Phyphox << 2 << 1.086216664e-2 - 8.211666427e-4 << 3.602109375 / g
        << -4.126918030 / g << -7.384144592 / g << true;
    QTest::newRow("phyphox tab, decimal comma")
        << QByteArray("\"Time (s)\"\t\"Acceleration x (m/s^2)\"\t\"Acceleration y (m/s^2)\"\t"
                      "\"Acceleration z (m/s^2)\"\n"
                      "0,0\t0,0\t0,0\t9,80665\n"
                      "1,751839330E-1\t1,5\t-2,5\t0\n")
        << RecordingFormat::Phyphox << 2 << 0.1751839330 << -1.5 / g << 2.5 / g << 0.0 << true;
    QTest::newRow("phyphox semicolon, decimal point, columns reordered")
        << QByteArray("Time (s);Acceleration z (m/s^2);Acceleration x (m/s^2);"
                      "Acceleration y (m/s^2)\n"
                      "0.5;9.80665;0;0\n"
                      "0.75;1;2;3\n")
        << RecordingFormat::Phyphox << 2 << 0.25 << -2.0 / g << -3.0 / g << -1.0 / g << true;
    QTest::newRow("android sensor log")
        << QByteArray("123456789000, 3, 0.0, 0.0, 9.80665\n"
                      "123466789000, 3, 1.0, -2.0, 4.903325\n")
        << RecordingFormat::AndroidLog << 2 << 0.01 << -1.0 / g << 2.0 / g << -0.5 << true;
    QTest::newRow("android sensor log, 4 fields")
        << QByteArray("5000000000,0,0,9.80665\n5020000000,-9.80665,0,0\n")
        << RecordingFormat::AndroidLog << 2 << 0.02 << 1.0 << 0.0 << 0.0 << true;
    QTest::newRow("phyphox without g, semicolon, decimal comma")
        << QByteArray("\"Time (s)\";\"Linear Acceleration x (m/s^2)\";\"Linear Acceleration y "
                      "(m/s^2)\";\"Linear Acceleration z (m/s^2)\";\"Absolute acceleration "
                      "(m/s^2)\"\n0,0;0,1;0;0;0,1\n0,01;0,2;-0,3;1,5;1,5\n")
        << RecordingFormat::PhyphoxLinear << 2 << 0.01 << -0.2 / g << 0.3 / g << -1.5 / g << false;
    QTest::newRow("phyphox simple experiment, resting: gravity")
        << QByteArray("\"Time (s)\",\"X (m/s^2)\",\"Y (m/s^2)\",\"Z (m/s^2)\"\n"
                      "0.0,0.1,9.7,0.2\n0.01,0.0,9.80665,0.0\n")
        << RecordingFormat::PhyphoxSimple << 2 << 0.01 << 0.0 << -1.0 << 0.0 << true;
    QTest::newRow("phyphox simple experiment, shaken: no gravity")
        << QByteArray("\"Time (s)\"\t\"X (m/s^2)\"\t\"Y (m/s^2)\"\t\"Z (m/s^2)\"\n"
                      "0\t0,2\t-0,1\t0\n0,5\t0,5\t0\t-0,25\n")
        << RecordingFormat::PhyphoxSimple << 2 << 0.5 << -0.5 / g << 0.0 << 0.25 / g << false;
    QTest::newRow("sensor logger total acceleration, z y x order")
        << QByteArray("time,seconds_elapsed,z,y,x\n"
                      "1700000000000000000,0.0,9.80665,0.0,0.0\n"
                      "1700000000010000000,0.01,1.0,-9.80665,2.0\n")
        << RecordingFormat::SensorLogger << 2 << 0.01 << -2.0 / g << 1.0 << -1.0 / g << true;
    QTest::newRow("sensor logger accelerometer, no gravity")
        << QByteArray("time,seconds_elapsed,z,y,x\n"
                      "1700000000000000000,0.5,0.1,0.0,0.0\n"
                      "1700000000010000000,0.51,0.0,0.3,-0.2\n")
        << RecordingFormat::SensorLogger << 2 << 0.01 << 0.2 / g << -0.3 / g << 0.0 << false;
    QTest::newRow("physics toolbox g-force, decimal comma, past midnight")
        << QByteArray("time;gFx;gFy;gFz;TgF\n23:59:59:9500;0,01;0,02;0,99;0,99\n"
                      "00:00:00:0500;-0,5;1;0,25;1,14\n")
        << RecordingFormat::PhysicsToolbox << 2 << 0.1 << 0.5 << -1.0 << -0.25 << true;
    QTest::newRow("iOS log in g")
        << QByteArray("loggingTime(txt);accelerometerTimestamp_sinceReboot(s);"
                      "accelerometerAccelerationX(G);accelerometerAccelerationY(G);"
                      "accelerometerAccelerationZ(G);motionUserAccelerationX(G)\n"
                      "2024-05-01 10:00:00.000;1200.50;0.0;0.0;-1.0;0.3\n"
                      "2024-05-01 10:00:00.010;1200.51;0.25;-0.5;-0.75;0.3\n")
        << RecordingFormat::IosLog << 2 << 0.01 << 0.25 << -0.5 << -0.75 << true;
    QTest::newRow("iOS log in g, plain names, decimal comma")
        << QByteArray("time;AccelerationX;AccelerationY;AccelerationZ\n0;0;0;-1\n"
                      "0,02;0,5;-0,5;0\n")
        << RecordingFormat::IosLog << 2 << 0.02 << 0.5 << -0.5 << 0.0 << true;
    QTest::newRow("printer accelerometer after a statistics line, mm/s^2")
        << QByteArray("##rate 3200.0 samples 2\n#time,accel_x,accel_y,accel_z\n"
                      "1021.500000,-12.3,45.6,9806.65\n1021.500312,9806.65,0,-4903.325\n")
        << RecordingFormat::PrinterAccelerometer << 2 << 0.000312 << -1.0 << 0.0 << 0.5 << true;
    QTest::newRow("vibration logger, count at the rate its comments state")
        << QByteArray("# PLab PicoQuake Data\n"
                      "# Time: 2024-04-21 15:54:46.333682, Device: C6E3 (E66368254F89A225)\n"
                      "# Config: data_rate = 2000.0 Hz, filter = 488 Hz, acc_range = 4 g\n"
                      "count,a_x,a_y,a_z,g_x,g_y,g_z\n1,0.01,0.02,1.00,19.71,123.73,93.19\n"
                      "2,0.5,-0.25,0.75,14.60,105.12,77.13\n")
        << RecordingFormat::VibrationLogger << 2 << 0.0005 << -0.5 << 0.25 << -0.75 << true;
    QTest::newRow("sensor logger with named axes, m/s^2 told from the data")
        << QByteArray("Timestamp,seconds_elapsed,AccelerationZ,AccelerationY,AccelerationX\n"
                      "2024-06-01T10:00:00.000Z,0.0,9.80665,0.0,0.0\n"
                      "2024-06-01T10:00:00.010Z,0.01,1.0,-9.80665,2.0\n")
        << RecordingFormat::SensorLoggerNamed << 2 << 0.01 << -2.0 / g << 1.0 << -1.0 / g << true;
    QTest::newRow("sensor logger with named axes, g told from the data")
        << QByteArray("Timestamp,seconds_elapsed,AccelerationZ,AccelerationY,AccelerationX\n"
                      "1,0.0,1.0,0.0,0.0\n2,0.02,0.5,-1.0,0.25\n")
        << RecordingFormat::SensorLoggerNamed << 2 << 0.02 << -0.25 << 1.0 << -0.5 << true;
    QTest::newRow("core motion, gravity plus user acceleration")
        << QByteArray("timestamp,attitude.roll,gravity.x,gravity.y,gravity.z,userAcceleration.x,"
                      "userAcceleration.y,userAcceleration.z\n"
                      "100.00,0.1,0.0,0.0,-1.0,0.0,0.0,0.0\n"
                      "100.01,0.1,0.0,-1.0,0.0,0.25,0.5,-0.125\n")
        << RecordingFormat::CoreMotion << 2 << 0.01 << 0.25 << -0.5 << -0.125 << true;
    QTest::newRow("axes named Accel_X (m/s^2)")
        << QByteArray("time,Accel_X (m/s^2),Accel_Y (m/s^2),Accel_Z (m/s^2)\n"
                      "0.0,0.0,0.0,9.80665\n0.001,9.80665,0,0\n")
        << RecordingFormat::NamedAxes << 2 << 0.001 << -1.0 << 0.0 << 0.0 << true;
    QTest::newRow("axes named ax, g told from the data, time in ms, decimal comma")
        << QByteArray("time_ms;ax;ay;az\n0;0,0;0,0;1,0\n10;0,5;0;0,75\n")
        << RecordingFormat::NamedAxes << 2 << 0.01 << -0.5 << 0.0 << -0.75 << true;
}

void RecordingFileTest::readsEachFormat() {
    QFETCH(QByteArray, text);
    QFETCH(RecordingFormat, format);
    QFETCH(int, rows);
    QFETCH(double, t);
    QFETCH(double, x);
    QFETCH(double, y);
    QFETCH(double, z);
    QFETCH(bool, gravity);

    RecordingFault fault;
    const Recording recording = parse(text, &fault);
    QVERIFY2(!recording.rows.empty(), qPrintable(fault.expected));
    QCOMPARE(recording.format, format);
    QCOMPARE(recording.hasGravity, gravity);
    QCOMPARE(int(recording.rows.size()), rows);
    QCOMPARE(recording.rows.front().timestamp, 0.0);
    const Acceleration& last = recording.rows.back();
    QVERIFY2(near(last.timestamp, t), qPrintable(QString::number(last.timestamp, 'g', 17)));
    QVERIFY(near(last.x, x));
    QVERIFY(near(last.y, y));
    QVERIFY(near(last.z, z));
}

void RecordingFileTest::refusesWithLine_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("expected"); // a part of the message

    const QByteArray phyphox = "\"Time (s)\",\"Acceleration x (m/s^2)\",\"Acceleration y "
                               "(m/s^2)\",\"Acceleration z (m/s^2)\"\n";
    QTest::newRow("empty file") << QByteArray() << 1 << "found an empty file";
    QTest::newRow("only blank lines") << QByteArray("\n  \n\r\n") << 1 << "found an empty file";
    QTest::newRow("unknown header") << QByteArray("a,b,c\n1,2,3\n") << 1 << "expected a header";
    QTest::newRow("header without rows")
        << QByteArray("time,x,y,z\n") << 2 << "found the end of the file";
    QTest::newRow("short row") << QByteArray("time,x,y,z\n0,0,0,-1\n0.1,0,0\n") << 3
                               << "expected 4 fields (time,x,y,z) separated by ',', found 3";
    QTest::newRow("word for a number") << QByteArray("time,x,y,z\n0,0,0,-1\n\n0.2,0,zero,-1\n") << 4
                                       << "expected a number for y, found \"zero\"";
    QTest::newRow("not a number") << QByteArray("time,x,y,z\n0,nan,0,-1\n") << 2
                                  << "expected a number for x";
    QTest::newRow("time goes back") << QByteArray("time,x,y,z\n0,0,0,-1\n0.2,0,0,-1\n0.1,0,0,-1\n")
                                    << 4 << "expected a time at or after the previous row's";
    QTest::newRow("decimal comma with comma separator") << phyphox + "0,0,0,0\n0,5,0,0,0\n"
                                                        << 3 << "expected 4 fields";
    QTest::newRow("phyphox without z")
        << QByteArray("\"Time (s)\",\"Acceleration x (m/s^2)\",\"Acceleration y (m/s^2)\"\n") << 1
        << "expected a column \"Acceleration z (m/s^2)\"";
    QTest::newRow("phyphox without g, missing z")
        << QByteArray("Time (s);Linear Acceleration x (m/s^2);Linear Acceleration y (m/s^2)\n") << 1
        << "expected a column \"Linear Acceleration z (m/s^2)\"";
    QTest::newRow("phyphox truncated last row") << phyphox + "0,0,0,9.8\n0.01,0,0,9.8\n0.02,0.1,\n"
                                                << 4 << "found 3";
    QTest::newRow("android wrong count") << QByteArray("100, 3, 0, 0, 9.8\n200, 4, 0, 0, 9.8\n")
                                         << 2 << "expected 3 (the number of values)";
    QTest::newRow("android fractional stamp")
        << QByteArray("100, 3, 0, 0, 9.8\n200.5, 3, 0, 0, 9.8\n") << 2
        << "expected a timestamp in whole nanoseconds";
    QTest::newRow("android missing value")
        << QByteArray("100, 3, 0\n") << 1 << "expected 5 fields (timestamp_ns, 3, x, y, z)";
    // Damaged and absurd files: refused with the line, never played as nonsense.
    QTest::newRow("spreadsheet-damaged phyphox, every number times 1e7")
        << phyphox + "0,0,0,98066500\n23000000,0,0,98066500\n"
        << 2 << "within ±1000 g";
    QTest::newRow("reading beyond a 32-bit float")
        << QByteArray("time,x,y,z\n0,0,0,-1\n0.01,0,0,1e39\n") << 3 << "32-bit float for z";
    QTest::newRow("time jumps by more than an hour")
        << QByteArray("time,x,y,z\n0,0,0,-1\n3600,0,0,-1\n7200.5,0,0,-1\n") << 4
        << "within an hour";
    QTest::newRow("times of -1e308 then 1e308 overflow the step")
        << QByteArray("time,x,y,z\n-1e308,0,0,-1\n1e308,0,0,-1\n") << 3 << "within an hour";
    QTest::newRow("no line end within 1 MB")
        << QByteArray("time,x,y,z\n") + QByteArray(1 << 20, '0') << 2 << "line end within 1 MB";
    QTest::newRow("physics toolbox, not a time of day")
        << QByteArray("time;gFx;gFy;gFz;TgF\n11:61:00:0;0;0;1;1\n") << 2
        << "expected a time of day";
    QTest::newRow("a NUL in a value is shown escaped")
        << QByteArray("time,x,y,z\n0,0,0,-1\n0.1,0") + '\0' + QByteArray("1,0,-1\n") << 3
        << "expected a number for x, found \"0\\x001\"";
    QTest::newRow("only comment lines")
        << QByteArray("# logger\n# data_rate = 100 Hz\n") << 1 << "found only comment lines";
    QTest::newRow("sample count without a stated rate")
        << QByteArray("count,a_x,a_y,a_z\n1,0,0,1\n") << 1 << "expected the sampling rate";
    QTest::newRow("core motion without a time column")
        << QByteArray("gravity.x,gravity.y,gravity.z,userAcceleration.x,userAcceleration.y,"
                      "userAcceleration.z\n0,0,-1,0,0,0\n")
        << 1 << "--rate HZ";
    QTest::newRow("unit told from the data, then a reading beyond 1000 g")
        << QByteArray("t,ax,ay,az\n0,0,0,9.8\n0.1,0,0,9.8\n0.2,0,0,98000\n") << 4
        << "within ±1000 g";
}

void RecordingFileTest::refusesWithLine() {
    QFETCH(QByteArray, text);
    QFETCH(int, line);
    QFETCH(QString, expected);

    RecordingFault fault;
    const Recording recording = parse(text, &fault);
    QVERIFY(recording.rows.empty()); // nothing from a refused file
    QCOMPARE(fault.line, line);
    QVERIFY2(fault.expected.contains(expected), qPrintable(fault.expected));
}

void RecordingFileTest::incompleteLastLineIsSkippedWithWarning_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("warning"); // empty: none

    const QByteArray rows = "time,x,y,z\n0,0,0,-1\n0.01,0,0,-1\n";
    QTest::newRow("cut in the middle of a row") << rows + "0.02,0.1," << 2 << "line 4";
    QTest::newRow("cut in a number") << rows + "0.02,0.1,0,-1e" << 2 << "line 4";
    QTest::newRow("complete row without a line end") << rows + "0.02,0.1,0,-1" << 3 << "";
}

void RecordingFileTest::incompleteLastLineIsSkippedWithWarning() {
    QFETCH(QByteArray, text);
    QFETCH(int, rows);
    QFETCH(QString, warning);

    RecordingFault fault;
    const Recording recording = parse(text, &fault);
    QCOMPARE(int(recording.rows.size()), rows);
    QCOMPARE(recording.warning.isEmpty(), warning.isEmpty());
    QVERIFY2(recording.warning.contains(warning), qPrintable(recording.warning));
}

void RecordingFileTest::readsAProcessOutputToItsEnd() {
    // A sequential device delivers its rows in pieces and then ends without closing.
    QProcess logger;
    logger.start(
        QStringLiteral("sh"),
        {QStringLiteral("-c"), QStringLiteral("printf 'time,x,y,z\\n0,0,0,-1\\n'; sleep 0.2; "
                                              "printf '0.1,1,0,-1\\n0.2,2,0,-1\\n'")});
    QVERIFY(logger.waitForStarted());
    sensors::RecordingReader reader(&logger, QStringLiteral("logger"));
    QString error;
    QVERIFY2(reader.open(&error), qPrintable(error));
    QList<double> seen;
    Acceleration row;
    while (reader.next(&row))
        seen << row.x;
    QCOMPARE(seen, (QList<double>{0, 1, 2}));
    QCOMPARE(reader.error(), QString());
}

void RecordingFileTest::loadNamesFileLineAndExpectation() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ride.csv"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("time,x,y,z\n0,0,0,-1\n0.1,0,0\n");
    file.close();

    QString error;
    QVERIFY(sensors::loadRecording(path, &error).rows.empty());
    QCOMPARE(error, QStringLiteral("Cannot replay \"%1\", line 3: expected 4 fields (time,x,y,z) "
                                   "separated by ',', found 3")
                        .arg(path));

    QVERIFY(
        sensors::loadRecording(dir.filePath(QStringLiteral("missing.csv")), &error).rows.empty());
    QVERIFY(error.contains(QStringLiteral("missing.csv")));
}

void RecordingFileTest::readsRealPhyphoxExport() {
    // The first 3 s of a phone on an amusement-park ride, exported by phyphox (see
    // tests/data/README.md for its origin).
    QString error;
    const Recording recording =
        sensors::loadRecording(qEnvironmentVariable("WOBBLESTAR_TEST_DATA") +
                                   QStringLiteral("/coaster-phyphox-excerpt.csv"),
                               &error);
    QVERIFY2(!recording.rows.empty(), qPrintable(error));
    QCOMPARE(recording.format, RecordingFormat::Phyphox);
    QCOMPARE(recording.rows.size(), std::size_t(300));
    // First row: -3.979774017, 4.251309357, 7.686815186 m/s².
    QVERIFY(near(recording.rows.front().x, 3.979774017 / kStandardGravity));
    QVERIFY(near(recording.rows.front().z, -7.686815186 / kStandardGravity));
    QVERIFY(near(recording.rows.back().timestamp, 3.003057500 - 8.211666427e-4));
    for (const Acceleration& row : recording.rows) {
        const double magnitude = std::sqrt(row.x * row.x + row.y * row.y + row.z * row.z);
        QVERIFY(magnitude > 0.1 && magnitude < 4.0);
    }
}

void RecordingFileTest::saysRateAndUnit_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<double>("given"); // --rate
    QTest::addColumn<double>("rate");  // the file's own, as the reader says it
    QTest::addColumn<double>("last");  // the last row's time
    QTest::addColumn<QString>("notice");

    QTest::newRow("from the times of the first rows")
        << QByteArray("time,x,y,z\n0,0,0,-1\n0.0005,0,0,-1\n0.001,0,0,-1\n") << 0.0 << 2000.0
        << 0.001 << "";
    QTest::newRow("stated in a comment, beside times")
        << QByteArray("# data_rate = 1600 Hz\ntime,x,y,z\n0,0,0,-1\n0.1,0,0,-1\n") << 0.0 << 1600.0
        << 0.1 << "";
    QTest::newRow("no time column, read at --rate")
        << QByteArray("gravity.x,gravity.y,gravity.z,userAcceleration.x,userAcceleration.y,"
                      "userAcceleration.z\n0,0,-1,0,0,0\n0,0,-1,0,0,0\n0,0,-1,0,0,0\n")
        << 50.0 << 50.0 << 0.04 << "placed at the 50 Hz given with --rate";
    QTest::newRow("sample count at the rate its comments state")
        << QByteArray("# data_rate = 2000.0 Hz\ncount,a_x,a_y,a_z\n0,0,0,1\n1,0,0,1\n2,0,0,1\n")
        << 0.0 << 2000.0 << 0.001 << "placed at the 2000 Hz its comments state";
    QTest::newRow("unit told from the data is said")
        << QByteArray("t,ax,ay,az\n0,0,0,9800\n0.01,0,0,9812\n") << 0.0 << 100.0 << 0.01
        << "read in mm/s^2";
    QTest::newRow("no gravity, no unit: said to be assumed")
        << QByteArray("t,ax,ay,az\n0,0,0,0.01\n0.01,0,0.02,0\n") << 0.0 << 100.0 << 0.01
        << "cannot tell one: read in m/s^2";
}

void RecordingFileTest::saysRateAndUnit() {
    QFETCH(QByteArray, text);
    QFETCH(double, given);
    QFETCH(double, rate);
    QFETCH(double, last);
    QFETCH(QString, notice);

    sensors::RecordingReader reader(std::string_view(text.constData(), std::size_t(text.size())),
                                    QStringLiteral("vibration.csv"));
    reader.setRate(given);
    QString error;
    QVERIFY2(reader.open(&error), qPrintable(error));
    QVERIFY2(std::abs(reader.rate() - rate) < 1e-6 * rate,
             qPrintable(QString::number(reader.rate())));
    QCOMPARE(reader.notice().isEmpty(), notice.isEmpty());
    QVERIFY2(reader.notice().contains(notice), qPrintable(reader.notice()));
    Acceleration row;
    double time = -1.0;
    while (reader.next(&row))
        time = row.timestamp;
    QVERIFY(near(time, last));
}

QTEST_GUILESS_MAIN(RecordingFileTest)
#include "tst_recording_file.moc"
