#include "sensors/Accelerometer.h"

#include <QTest>
#include <QThread>
#include <cmath>
#include <limits>

using sensors::Acceleration;
using sensors::Accelerometer;
using sensors::AccelerometerDelegate;
using sensors::AccelerometerDriver;

namespace {

// A driver whose readings the test sets; it has none until told.
class ScriptedDriver : public AccelerometerDriver {
public:
    QString description() const override { return QStringLiteral("scripted"); }
    bool start(QString*) override { return true; }
    void setUpdateInterval(double seconds) override { requestedInterval = seconds; }
    std::optional<Acceleration> read(double) override {
        ++reads;
        return reading;
    }
    std::optional<Acceleration> reading;
    double requestedInterval = 0.0;
    int reads = 0;
};

class RecordingDelegate : public AccelerometerDelegate {
public:
    void accelerometer(Accelerometer&, const Acceleration& acceleration) override {
        received.push_back(acceleration);
        onMainThread =
            onMainThread && QThread::currentThread() == QCoreApplication::instance()->thread();
    }
    std::vector<Acceleration> received;
    bool onMainThread = true;
};

} // namespace

class AccelerometerTest : public QObject {
    Q_OBJECT
private slots:
    void deliversOnlyAfterDelegateIsSet();
    void deliversTheDriversNewestReading();
    void skipsWhileTheDriverHasNoReading();
    void passesTheIntervalToTheDriver();
    void nullDelegateStopsDelivery();
    void defaultsToTheSimulatedSensor();
    void dropsReadingsNoAccelerometerGives_data();
    void dropsReadingsNoAccelerometerGives();
};

void AccelerometerTest::deliversOnlyAfterDelegateIsSet() {
    Accelerometer accelerometer;
    auto driver = std::make_unique<ScriptedDriver>();
    driver->reading = Acceleration{0.0, 0.0, -1.0};
    accelerometer.setDriver(std::move(driver));
    accelerometer.setUpdateInterval(0.005);
    RecordingDelegate delegate;
    QTest::qWait(50);
    QVERIFY(delegate.received.empty());
    accelerometer.setDelegate(&delegate);
    QTRY_VERIFY(delegate.received.size() >= 3);
    QVERIFY(delegate.onMainThread);
}

void AccelerometerTest::deliversTheDriversNewestReading() {
    Accelerometer accelerometer;
    auto owned = std::make_unique<ScriptedDriver>();
    ScriptedDriver* driver = owned.get();
    accelerometer.setDriver(std::move(owned));
    driver->reading = Acceleration{0.25, -0.5, 2.0};
    RecordingDelegate delegate;
    accelerometer.setDelegate(&delegate);
    accelerometer.setUpdateInterval(0.005);
    QTRY_VERIFY(!delegate.received.empty());
    QCOMPARE(delegate.received.back().x, 0.25);
    QCOMPARE(delegate.received.back().y, -0.5);
    QCOMPARE(delegate.received.back().z, 2.0);
    QVERIFY(delegate.received.back().timestamp > 0.0);
    // Timestamps are the service's clock and never go backwards.
    QTRY_VERIFY(delegate.received.size() >= 3);
    for (size_t i = 1; i < delegate.received.size(); ++i)
        QVERIFY(delegate.received[i].timestamp >= delegate.received[i - 1].timestamp);
}

void AccelerometerTest::skipsWhileTheDriverHasNoReading() {
    Accelerometer accelerometer;
    auto owned = std::make_unique<ScriptedDriver>();
    ScriptedDriver* driver = owned.get();
    accelerometer.setDriver(std::move(owned));
    RecordingDelegate delegate;
    accelerometer.setDelegate(&delegate);
    accelerometer.setUpdateInterval(0.005);
    QTRY_VERIFY(driver->reads >= 3);
    QVERIFY(delegate.received.empty());
    driver->reading = Acceleration{1.0, 0.0, 0.0};
    QTRY_VERIFY(!delegate.received.empty());
    QTRY_VERIFY(accelerometer.deliveredRate() > 0.0);
    // A source gone quiet (a phone paused, a replay at its end) shows 0/s, not the timer's rate.
    driver->reading.reset();
    QTRY_COMPARE(accelerometer.deliveredRate(), 0.0);
}

void AccelerometerTest::passesTheIntervalToTheDriver() {
    Accelerometer accelerometer;
    accelerometer.setUpdateInterval(0.0125);
    auto owned = std::make_unique<ScriptedDriver>();
    ScriptedDriver* driver = owned.get();
    accelerometer.setDriver(std::move(owned));
    QCOMPARE(driver->requestedInterval, 0.0125);
    accelerometer.setUpdateInterval(1.0 / 120);
    QCOMPARE(driver->requestedInterval, 1.0 / 120);
}

void AccelerometerTest::nullDelegateStopsDelivery() {
    Accelerometer accelerometer;
    auto owned = std::make_unique<ScriptedDriver>();
    ScriptedDriver* driver = owned.get();
    driver->reading = Acceleration{};
    accelerometer.setDriver(std::move(owned));
    RecordingDelegate delegate;
    accelerometer.setDelegate(&delegate);
    accelerometer.setUpdateInterval(0.005);
    QTRY_VERIFY(!delegate.received.empty());
    accelerometer.setDelegate(nullptr);
    QCoreApplication::processEvents();
    const size_t count = delegate.received.size();
    QTest::qWait(40);
    QCOMPARE(delegate.received.size(), count);
}

void AccelerometerTest::defaultsToTheSimulatedSensor() {
    Accelerometer accelerometer;
    RecordingDelegate delegate;
    accelerometer.setUpdateInterval(0.005);
    accelerometer.setDelegate(&delegate);
    QVERIFY(accelerometer.driver() != nullptr);
    QVERIFY(accelerometer.driver()->description().startsWith(QLatin1String("simulated")));
    QTRY_VERIFY(!delegate.received.empty());
    QVERIFY(delegate.received.front().z < -0.5);
}

void AccelerometerTest::dropsReadingsNoAccelerometerGives_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("delivered");
    constexpr double inf = std::numeric_limits<double>::infinity();
    QTest::newRow("16 g, a sensor's full range") << 16.0 << true;
    QTest::newRow("-1000 g, the limit") << -1000.0 << true;
    QTest::newRow("1000.5 g") << 1000.5 << false;
    QTest::newRow("1e30 g, a finite float") << 1e30 << false;
    QTest::newRow("1e308 g, beyond float") << 1e308 << false;
    QTest::newRow("-inf") << -inf << false;
    QTest::newRow("nan") << std::nan("") << false;
}

// Whatever axis holds it, a value no accelerometer gives never reaches the delegate (the graph,
// the gauges, the log and the CSV file all take their readings from there).
void AccelerometerTest::dropsReadingsNoAccelerometerGives() {
    QFETCH(double, value);
    QFETCH(bool, delivered);
    for (int axis = 0; axis < 3; ++axis) {
        Accelerometer accelerometer;
        auto owned = std::make_unique<ScriptedDriver>();
        ScriptedDriver* driver = owned.get();
        Acceleration reading{0.0, 0.0, -1.0};
        (axis == 0 ? reading.x : axis == 1 ? reading.y : reading.z) = value;
        driver->reading = reading;
        accelerometer.setDriver(std::move(owned));
        RecordingDelegate delegate;
        accelerometer.setDelegate(&delegate);
        accelerometer.setUpdateInterval(0.005);
        QTRY_VERIFY(driver->reads >= 3);
        QCOMPARE(!delegate.received.empty(), delivered);
        QCOMPARE(accelerometer.droppedReadings() >= 2, !delivered);
    }
}

QTEST_GUILESS_MAIN(AccelerometerTest)
#include "tst_accelerometer.moc"
