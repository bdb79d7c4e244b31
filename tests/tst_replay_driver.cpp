#include "sensors/ReplayDriver.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using platform::Acceleration;
using platform::ReplayDriver;

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
    void lastReadingStaysAndFinishIsSaidOnce();
    void loopStartsAgain();
    void refusedFilePlaysNothing();

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

void ReplayDriverTest::lastReadingStaysAndFinishIsSaidOnce() {
    ReplayDriver driver(write(kFourRows), false);
    QVERIFY(driver.start(nullptr));
    QSignalSpy messages(&driver, &ReplayDriver::statusMessage);
    for (int i = 0; i <= 100; ++i)
        driver.read(i * 0.01);
    QCOMPARE(messages.count(), 1);
    QVERIFY(messages.first().first().toString().contains(QStringLiteral("finished")));
    QCOMPARE(driver.read(100.0)->x, 3.0);
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

QTEST_GUILESS_MAIN(ReplayDriverTest)
#include "tst_replay_driver.moc"
