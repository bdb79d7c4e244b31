#include "sensors/ReplayDriver.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <sys/stat.h>

using sensors::Acceleration;
using sensors::ReplayDriver;
using Kind = sensors::AccelerometerDriver::MessageKind;

namespace {

// Rows at 0, 0.1, 0.2 and 0.3 s whose x is the row number.
const QByteArray kFourRows = "time,x,y,z\n0.0,0,0,-1\n0.1,1,0,-1\n0.2,2,0,-1\n0.3,3,0,-1\n";

} // namespace

class ReplayDriverTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void pacedByServiceTime_data();
    void pacedByServiceTime();
    void startsFromTime_data();
    void startsFromTime();
    void finishIsSaidOnceAndReadingsStop();
    void loopStartsAgain();
    void refusedFilePlaysNothing();
    void laterBadRowStopsWithItsLine();
    void saysWhenNoGravity();
    void endlessInputIsRefused();
    void fifoPlaysAndAWaitingReadEnds();
    void fastFileIsAveragedNotAliased_data();
    void fastFileIsAveragedNotAliased();

private:
    QString write(const QByteArray& text);
    QTemporaryDir dir_;
};

QString ReplayDriverTest::write(const QByteArray& text) {
    const QString path = dir_.filePath(QStringLiteral("recording.csv"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    file.write(text);
    return path;
}

void ReplayDriverTest::init() {
    QVERIFY(dir_.isValid());
}

void ReplayDriverTest::pacedByServiceTime_data() {
    QTest::addColumn<bool>("loop");
    QTest::addColumn<double>("elapsed"); // seconds since the first read
    QTest::addColumn<double>("x");       // the row expected

    QTest::newRow("first read") << false << 0.0 << 0.0;
    QTest::newRow("between rows holds the earlier") << false << 0.15 << 1.0;
    QTest::newRow("exactly at a row") << false << 0.2 << 2.0;
    QTest::newRow("last row") << false << 0.3 << 3.0;
    QTest::newRow("past the end stays") << false << 7.5 << 3.0;
    // One pass lasts 0.4 s: 0.3 s of rows and one mean row interval on the last row.
    QTest::newRow("loop, last row holds one interval") << true << 0.39 << 3.0;
    QTest::newRow("loop, second pass") << true << 0.4 + 0.15 << 1.0;
    QTest::newRow("loop, many passes later") << true << 40.0 + 0.25 << 2.0;
}

void ReplayDriverTest::pacedByServiceTime() {
    QFETCH(bool, loop);
    QFETCH(double, elapsed);
    QFETCH(double, x);

    ReplayDriver driver(write(kFourRows), loop);
    QString error;
    QVERIFY2(driver.start(&error), qPrintable(error));
    const double first = 12.5; // the service has been running for a while
    QCOMPARE(driver.read(first)->x, 0.0);
    const std::optional<Acceleration> reading = driver.read(first + elapsed);
    QVERIFY(reading);
    QCOMPARE(reading->x, x);
    QCOMPARE(reading->timestamp, first + elapsed);
}

void ReplayDriverTest::startsFromTime_data() {
    QTest::addColumn<double>("from");
    QTest::addColumn<double>("elapsed");
    QTest::addColumn<double>("x");

    QTest::newRow("at a row") << 0.2 << 0.0 << 2.0;
    QTest::newRow("between rows holds the earlier") << 0.15 << 0.0 << 1.0;
    QTest::newRow("and plays on from there") << 0.15 << 0.1 << 2.0;
}

void ReplayDriverTest::startsFromTime() {
    QFETCH(double, from);
    QFETCH(double, elapsed);
    QFETCH(double, x);

    ReplayDriver driver(write(kFourRows), false, from);
    QVERIFY(driver.start(nullptr));
    driver.read(5.0);
    const std::optional<Acceleration> reading = driver.read(5.0 + elapsed);
    QVERIFY(reading);
    QCOMPARE(reading->x, x);
}

void ReplayDriverTest::finishIsSaidOnceAndReadingsStop() {
    ReplayDriver driver(write(kFourRows), false);
    QVERIFY(driver.start(nullptr));
    QSignalSpy messages(&driver, &ReplayDriver::statusMessage);
    int readings = 0;
    for (int i = 0; i <= 100; ++i)
        readings += driver.read(i * 0.01) ? 1 : 0;
    QCOMPARE(messages.count(), 1);
    QVERIFY(messages.first().first().toString().contains(QStringLiteral("finished")));
    QCOMPARE(messages.first().at(1).value<Kind>(), Kind::Notice);
    // 0.00 up to 0.30: the last row is delivered once, then nothing, so the rate falls to 0.
    QCOMPARE(readings, 31);
    QVERIFY(!driver.read(100.0));
    QCOMPARE(messages.count(), 1);
}

void ReplayDriverTest::loopStartsAgain() {
    ReplayDriver driver(write(kFourRows), true);
    QVERIFY(driver.start(nullptr));
    QSignalSpy messages(&driver, &ReplayDriver::statusMessage);
    QList<double> seen;
    for (int i = 0; i < 10; ++i)
        seen << driver.read(i * 0.1 + 0.05)->x;
    QCOMPARE(seen, (QList<double>{0, 1, 2, 3, 0, 1, 2, 3, 0, 1}));
    QCOMPARE(messages.count(), 2); // one per finished pass
}

void ReplayDriverTest::refusedFilePlaysNothing() {
    ReplayDriver driver(write("time,x,y,z\n0,0,0,-1\n0.1,0,0,-1\n0.2,oops,0,-1\n"), false);
    QString error;
    QVERIFY(!driver.start(&error));
    QVERIFY2(error.contains(QStringLiteral("recording.csv\", line 4")), qPrintable(error));
    QVERIFY(!driver.read(0.0));
    QVERIFY(!driver.read(1.0));
}

void ReplayDriverTest::laterBadRowStopsWithItsLine() {
    QByteArray text = "time,x,y,z\n";
    for (int i = 0; i < 100; ++i)
        text += QByteArray::number(i * 0.01) + ",0,0,-1\n";
    text += "1.0,0,0,-1e9\n"; // beyond the check of the first rows
    ReplayDriver driver(write(text), false);
    QVERIFY(driver.start(nullptr));
    QSignalSpy messages(&driver, &ReplayDriver::statusMessage);
    QVERIFY(driver.read(0.0));
    QVERIFY(driver.read(0.5));
    driver.read(2.0);
    QCOMPARE(messages.count(), 1);
    QVERIFY2(messages.first().first().toString().contains(QStringLiteral("line 102: expected "
                                                                         "readings within")),
             qPrintable(messages.first().first().toString()));
    QCOMPARE(messages.first().at(1).value<Kind>(), Kind::Lost);
    QVERIFY(!driver.read(3.0));
}

void ReplayDriverTest::saysWhenNoGravity() {
    ReplayDriver driver(write("Time (s);Linear Acceleration x (m/s^2);Linear Acceleration y "
                              "(m/s^2);Linear Acceleration z (m/s^2)\n0;0,1;0;0\n1;0;0;0\n"),
                        false);
    QVERIFY(driver.start(nullptr));
    QSignalSpy messages(&driver, &ReplayDriver::statusMessage);
    driver.read(0.0);
    driver.read(0.1);
    QCOMPARE(messages.count(), 1);
    QVERIFY(messages.first().first().toString().contains(QStringLiteral("holds no gravity")));
}

void ReplayDriverTest::endlessInputIsRefused() {
    ReplayDriver driver(QStringLiteral("/dev/zero"), false);
    QString error;
    QVERIFY(!driver.start(&error));
    QVERIFY2(error.contains(QStringLiteral("line end within 1 MB")), qPrintable(error));
}

void ReplayDriverTest::fifoPlaysAndAWaitingReadEnds() {
    const QString fifo = dir_.filePath(QStringLiteral("live"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    {
        // No writer ever comes: start() does not wait for one, and destroying the driver ends
        // the read that waits (the test would hang otherwise).
        ReplayDriver waiting(fifo, false);
        QVERIFY(waiting.start(nullptr));
        QVERIFY(!waiting.read(0.0));
    }
    ReplayDriver driver(fifo, false);
    QVERIFY(driver.start(nullptr));
    QSignalSpy messages(&driver, &ReplayDriver::statusMessage);
    QFile writer(fifo);
    QVERIFY(writer.open(QIODevice::WriteOnly)); // waits for the driver's reader
    writer.write(kFourRows);
    writer.close();
    // The replay keeps the rows' pace, so a reading thread scheduled late may let a row be
    // overtaken; the rows that play come in order, from the first to the last.
    QList<double> seen;
    for (int i = 0; i < 100000 && !driver.isFinished(); ++i) {
        const std::optional<Acceleration> reading = driver.read(10.0 + i * 0.001);
        if (reading && (seen.isEmpty() || seen.last() != reading->x))
            seen << reading->x;
        QTest::qWait(1);
    }
    QVERIFY(!seen.isEmpty());
    QCOMPARE(seen.first(), 0.0);
    QCOMPARE(seen.last(), 3.0);
    QVERIFY(std::is_sorted(seen.begin(), seen.end()));
    QVERIFY(messages.last().first().toString().contains(QStringLiteral("finished")));
}

void ReplayDriverTest::fastFileIsAveragedNotAliased_data() {
    QTest::addColumn<double>("fileRate");
    QTest::addColumn<double>("serviceRate");

    QTest::newRow("3200 Hz file at 40/s") << 3200.0 << 40.0;
    QTest::newRow("3200 Hz file at 80/s") << 3200.0 << 80.0;
    QTest::newRow("3200 Hz file at 120/s") << 3200.0 << 120.0;
    QTest::newRow("10 kHz file at 120/s") << 10000.0 << 120.0;
}

void ReplayDriverTest::fastFileIsAveragedNotAliased() {
    QFETCH(double, fileRate);
    QFETCH(double, serviceRate);

    // A 1 kHz vibration of 0.5 g on x: sampled at the service's rate it would alias to a slow
    // wave of nearly the full amplitude; averaged over each interval it all but vanishes.
    QByteArray text = "time,x,y,z\n";
    for (int i = 0; i < int(fileRate); ++i) {
        const double t = i / fileRate;
        text += QByteArray::number(t, 'f', 6) + ',' +
                QByteArray::number(0.5 * std::sin(2 * M_PI * 1000.0 * t + 0.3), 'f', 6) + ",0,-1\n";
    }
    ReplayDriver driver(write(text), false);
    QString error;
    QVERIFY2(driver.start(&error), qPrintable(error));
    QVERIFY2(driver.description().contains(QStringLiteral("recorded at %1 Hz").arg(int(fileRate))),
             qPrintable(driver.description()));
    double largest = 0.0;
    for (int tick = 1; tick < int(0.9 * serviceRate); ++tick) {
        const std::optional<Acceleration> reading = driver.read(tick / serviceRate);
        QVERIFY(reading);
        if (tick > 1)
            largest = std::max(largest, std::abs(reading->x));
    }
    QVERIFY2(largest < 0.05, qPrintable(QString::number(largest)));
}

QTEST_GUILESS_MAIN(ReplayDriverTest)
#include "tst_replay_driver.moc"
