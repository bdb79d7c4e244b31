#include "sensors/Acceleration.h"
#include "sensors/RecordingFormats.h"

#include <QTest>

using sensors::RecordingFormat;
using sensors::RowLayout;
using sensors::TimeKind;

Q_DECLARE_METATYPE(sensors::RecordingFormat)
Q_DECLARE_METATYPE(sensors::TimeKind)

// Each header is recognised by the row of its format, with its columns, unit and sign.
class RecordingFormatsTest : public QObject {
    Q_OBJECT
private slots:
    void recognisesHeader_data();
    void recognisesHeader();
    void refusesHeader_data();
    void refusesHeader();
    void readsStatedRate_data();
    void readsStatedRate();
};

namespace {

constexpr double kMetre = 1.0 / sensors::kStandardGravity;

QList<int> list(const std::array<int, 4>& columns) {
    return {columns[0], columns[1], columns[2], columns[3]};
}

} // namespace

void RecordingFormatsTest::recognisesHeader_data() {
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<double>("rate"); // as comments state it or --rate gives it
    QTest::addColumn<RecordingFormat>("format");
    QTest::addColumn<QList<int>>("columns"); // time, x, y, z
    QTest::addColumn<TimeKind>("time");
    QTest::addColumn<double>("toG"); // unit and sign; 0: the unit is told from the data
    QTest::addColumn<double>("timeScale");

    using F = RecordingFormat;
    QTest::newRow("ours") << QByteArray("Time, X, Y, Z") << 0.0 << F::Wobblestar
                          << QList<int>{0, 1, 2, 3} << TimeKind::Seconds << 1.0 << 1.0;
    QTest::newRow("phyphox, columns reordered")
        << QByteArray("Time (s);Acceleration z (m/s^2);Acceleration x (m/s^2);"
                      "Acceleration y (m/s^2)")
        << 0.0 << F::Phyphox << QList<int>{0, 2, 3, 1} << TimeKind::Seconds << -kMetre << 1.0;
    QTest::newRow("phyphox without g wins over plain phyphox")
        << QByteArray("\"Time (s)\",\"Linear Acceleration x (m/s^2)\",\"Linear Acceleration y "
                      "(m/s^2)\",\"Linear Acceleration z (m/s^2)\"")
        << 0.0 << F::PhyphoxLinear << QList<int>{0, 1, 2, 3} << TimeKind::Seconds << -kMetre << 1.0;
    QTest::newRow("sensor logger")
        << QByteArray("time,seconds_elapsed,z,y,x") << 0.0 << F::SensorLogger
        << QList<int>{1, 4, 3, 2} << TimeKind::Seconds << -kMetre << 1.0;
    QTest::newRow("physics toolbox")
        << QByteArray("time;gFx;gFy;gFz;TgF") << 0.0 << F::PhysicsToolbox << QList<int>{0, 1, 2, 3}
        << TimeKind::ClockOfDay << -1.0 << 1.0;
    QTest::newRow("iOS log, timestamp in ms")
        << QByteArray("loggingTime(txt),accelerometerTimestamp_sinceReboot(ms),"
                      "accelerometerAccelerationX(G),accelerometerAccelerationY(G),"
                      "accelerometerAccelerationZ(G)")
        << 0.0 << F::IosLog << QList<int>{1, 2, 3, 4} << TimeKind::Seconds << 1.0 << 1e-3;
    QTest::newRow("android log") << QByteArray("123456789000, 3, 0.1, 0.2, 9.8") << 0.0
                                 << F::AndroidLog << QList<int>{0, 2, 3, 4}
                                 << TimeKind::WholeNanoseconds << -kMetre << 1e-9;
    QTest::newRow("printer accelerometer, mm/s^2")
        << QByteArray("#time,accel_x,accel_y,accel_z") << 0.0 << F::PrinterAccelerometer
        << QList<int>{0, 1, 2, 3} << TimeKind::Seconds << -kMetre / 1000 << 1.0;
    QTest::newRow("vibration logger, count at the stated rate")
        << QByteArray("count,a_x,a_y,a_z,g_x,g_y,g_z") << 2000.0 << F::VibrationLogger
        << QList<int>{0, 1, 2, 3} << TimeKind::SampleCount << -1.0 << 1.0;
    QTest::newRow("sensor logger with named axes, unit from the data")
        << QByteArray("Timestamp,seconds_elapsed,AccelerationZ,AccelerationY,AccelerationX") << 0.0
        << F::SensorLoggerNamed << QList<int>{1, 4, 3, 2} << TimeKind::Seconds << 0.0 << 1.0;
    QTest::newRow("core motion, time column")
        << QByteArray("timestamp,gravity.x,gravity.y,gravity.z,userAcceleration.x,"
                      "userAcceleration.y,userAcceleration.z")
        << 0.0 << F::CoreMotion << QList<int>{0, 1, 2, 3} << TimeKind::Seconds << 1.0 << 1.0;
    QTest::newRow("core motion without time, read at --rate")
        << QByteArray("gravity.x,gravity.y,gravity.z,userAcceleration.x,userAcceleration.y,"
                      "userAcceleration.z")
        << 100.0 << F::CoreMotion << QList<int>{-1, 0, 1, 2} << TimeKind::RowNumber << 1.0 << 1.0;
    QTest::newRow("axes named Accel_X (m/s^2)")
        << QByteArray("time (ms);Accel_X (m/s^2);Accel_Y (m/s^2);Accel_Z (m/s^2)") << 0.0
        << F::NamedAxes << QList<int>{0, 1, 2, 3} << TimeKind::Seconds << -kMetre << 1e-3;
    QTest::newRow("axes named acc_x [g], time in us")
        << QByteArray("time_us,acc_x [g],acc_y [g],acc_z [g]") << 0.0 << F::NamedAxes
        << QList<int>{0, 1, 2, 3} << TimeKind::Seconds << -1.0 << 1e-6;
    QTest::newRow("axes named ax, ay, az in mm/s^2")
        << QByteArray("t\tax (mm/s^2)\tay (mm/s^2)\taz (mm/s^2)") << 0.0 << F::NamedAxes
        << QList<int>{0, 1, 2, 3} << TimeKind::Seconds << -kMetre / 1000 << 1.0;
    QTest::newRow("axes named accel_x, no unit, no time, --rate")
        << QByteArray("accel_x,accel_y,accel_z") << 400.0 << F::NamedAxes << QList<int>{-1, 0, 1, 2}
        << TimeKind::RowNumber << 0.0 << 1.0;
}

void RecordingFormatsTest::recognisesHeader() {
    QFETCH(QByteArray, header);
    QFETCH(double, rate);
    QFETCH(RecordingFormat, format);
    QFETCH(QList<int>, columns);
    QFETCH(TimeKind, time);
    QFETCH(double, toG);
    QFETCH(double, timeScale);

    RowLayout layout;
    QString error;
    QVERIFY2(sensors::matchHeader(header.toStdString(), rate, &layout, &error), qPrintable(error));
    QCOMPARE(layout.format->format, format);
    QCOMPARE(list(layout.columns), columns);
    QCOMPARE(layout.time, time);
    QCOMPARE(layout.sign * layout.unit, toG);
    QCOMPARE(layout.timeScale, timeScale);
}

void RecordingFormatsTest::refusesHeader_data() {
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QString>("expected"); // a part of the reason

    QTest::newRow("unknown") << QByteArray("a,b,c") << "expected a header of a known format";
    QTest::newRow("no separator") << QByteArray("hello") << "expected a header of a known format";
    QTest::newRow("phyphox without z")
        << QByteArray("\"Time (s)\",\"Acceleration x (m/s^2)\",\"Acceleration y (m/s^2)\"")
        << "expected a column \"Acceleration z (m/s^2)\"";
    QTest::newRow("vibration logger without a stated rate")
        << QByteArray("count,a_x,a_y,a_z") << "expected the sampling rate";
    QTest::newRow("core motion without user acceleration z")
        << QByteArray("timestamp,gravity.x,gravity.y,gravity.z,userAcceleration.x,"
                      "userAcceleration.y")
        << "expected a column \"userAcceleration.z\"";
    QTest::newRow("core motion without time or rate")
        << QByteArray("gravity.x,gravity.y,gravity.z,userAcceleration.x,userAcceleration.y,"
                      "userAcceleration.z")
        << "expected a time column";
    QTest::newRow("iOS log without time or rate")
        << QByteArray("AccelerationX,AccelerationY,AccelerationZ") << "expected a timestamp column";
    QTest::newRow("named axes in an unknown unit")
        << QByteArray("time,ax (ft/s^2),ay (ft/s^2),az (ft/s^2)") << "found \"ft/s^2\"";
}

void RecordingFormatsTest::refusesHeader() {
    QFETCH(QByteArray, header);
    QFETCH(QString, expected);

    RowLayout layout;
    QString error;
    QVERIFY(!sensors::matchHeader(header.toStdString(), 0.0, &layout, &error));
    QVERIFY2(error.contains(expected), qPrintable(error));
}

void RecordingFormatsTest::readsStatedRate_data() {
    QTest::addColumn<QByteArray>("comment");
    QTest::addColumn<double>("rate");

    QTest::newRow("logger config")
        << QByteArray("# Config: data_rate = 2000.0 Hz, filter = 488 Hz, acc_range = 4 g")
        << 2000.0;
    QTest::newRow("colon, no space") << QByteArray("# sample rate:3200hz") << 3200.0;
    QTest::newRow("no unit") << QByteArray("# data_rate = 2000") << 0.0;
    QTest::newRow("other numbers") << QByteArray("# Num. samples: 10000, Duration: 5.0 s") << 0.0;
}

void RecordingFormatsTest::readsStatedRate() {
    QFETCH(QByteArray, comment);
    QFETCH(double, rate);
    QCOMPARE(sensors::statedRate(comment.toStdString()), rate);
}

QTEST_GUILESS_MAIN(RecordingFormatsTest)
#include "tst_recording_formats.moc"
