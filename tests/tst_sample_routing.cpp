#include "AppFixture.h"

#include <QTest>

using sensors::Acceleration;
using sensors::Accelerometer;

class SampleRoutingTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void axisMask_data();
    void axisMask();
    void switchTakesEffectWithNextSample();
    void sampleRate_data();
    void sampleRate();
    void unknownIndexLeavesAccelerometerAlone_data();
    void unknownIndexLeavesAccelerometerAlone();
};

void SampleRoutingTest::init() {
    Accelerometer::sharedAccelerometer().setDelegate(nullptr);
    Accelerometer::sharedAccelerometer().setUpdateInterval(0.0);
}

void SampleRoutingTest::axisMask_data() {
    QTest::addColumn<bool>("xOn");
    QTest::addColumn<bool>("yOn");
    QTest::addColumn<bool>("zOn");
    const bool on = true, off = false;
    QTest::newRow("on on on") << on << on << on;
    QTest::newRow("off on on") << off << on << on;
    QTest::newRow("off off on") << off << off << on;
    QTest::newRow("on off on") << on << off << on;
    QTest::newRow("on on off") << on << on << off;
    QTest::newRow("on off off") << on << off << off;
    QTest::newRow("off on off") << off << on << off;
    QTest::newRow("off off off") << off << off << off;
}

void SampleRoutingTest::axisMask() {
    QFETCH(bool, xOn);
    QFETCH(bool, yOn);
    QFETCH(bool, zOn);
    app::WobblestarAppDelegate delegate;
    controls(delegate).xAxis->setOn(xOn);
    controls(delegate).yAxis->setOn(yOn);
    controls(delegate).zAxis->setOn(zOn);
    // Values that a float cannot hold exactly, to see the narrowing.
    const Acceleration sample{0.1, -1.2345678901234, 3.3};
    delegate.accelerometer(Accelerometer::sharedAccelerometer(), sample);

    app::GraphView* graph = controls(delegate).graphView;
    QCOMPARE(graph->nextSlot(), 1u);
    QCOMPARE(graph->historyValue(0, 0), xOn ? double(float(0.1)) : 0.0);
    QCOMPARE(graph->historyValue(0, 1), yOn ? double(float(-1.2345678901234)) : 0.0);
    QCOMPARE(graph->historyValue(0, 2), zOn ? double(float(3.3)) : 0.0);
    // The latest sample and the gauges always get all three axes.
    QCOMPARE(delegate.latestX(), float(0.1));
    QCOMPARE(delegate.latestY(), float(-1.2345678901234));
    QCOMPARE(delegate.latestZ(), float(3.3));
    QCOMPARE(controls(delegate).meterView->storedAcceleration(0), double(float(0.1)));
    QCOMPARE(controls(delegate).meterView->storedAcceleration(1), double(float(-1.2345678901234)));
    QCOMPARE(controls(delegate).meterView->storedAcceleration(2), double(float(3.3)));
}

void SampleRoutingTest::switchTakesEffectWithNextSample() {
    app::WobblestarAppDelegate delegate;
    delegate.accelerometer(Accelerometer::sharedAccelerometer(), Acceleration{1.0, 1.0, 1.0});
    controls(delegate).yAxis->setOn(true);
    delegate.accelerometer(Accelerometer::sharedAccelerometer(), Acceleration{1.0, 1.0, 1.0});
    QCOMPARE(controls(delegate).graphView->historyValue(0, 1), 0.0);
    QCOMPARE(controls(delegate).graphView->historyValue(1, 1), 1.0);
    QCOMPARE(controls(delegate).graphView->historyValue(1, 0), 0.0);
}

void SampleRoutingTest::sampleRate_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<double>("interval");
    QTest::newRow("40 per second") << 0 << 0.025;
    QTest::newRow("80 per second") << 1 << 0.0125;
    QTest::newRow("120 per second") << 2 << 0.008333333333333333;
}

void SampleRoutingTest::sampleRate() {
    QFETCH(int, index);
    QFETCH(double, interval);
    app::WobblestarAppDelegate delegate;
    controls(delegate).segmentcontroller->setSelectedSegmentIndex(index);
    delegate.applySampleRate();
    Accelerometer& accelerometer = Accelerometer::sharedAccelerometer();
    QCOMPARE(accelerometer.updateInterval(), interval); // exact: the double of the table
    QCOMPARE(accelerometer.delegate(), &delegate);
}

void SampleRoutingTest::unknownIndexLeavesAccelerometerAlone_data() {
    QTest::addColumn<int>("index");
    QTest::newRow("no segment selected") << -1;
    QTest::newRow("index 3") << 3;
    QTest::newRow("index 7") << 7;
}

void SampleRoutingTest::unknownIndexLeavesAccelerometerAlone() {
    QFETCH(int, index);
    app::WobblestarAppDelegate delegate;
    controls(delegate).segmentcontroller->setSelectedSegmentIndex(index);
    delegate.applySampleRate();
    Accelerometer& accelerometer = Accelerometer::sharedAccelerometer();
    QCOMPARE(accelerometer.delegate(), nullptr);
    QCOMPARE(accelerometer.updateInterval(), 0.0);

    // With a valid index first, a later unknown one keeps that interval and delegate.
    controls(delegate).segmentcontroller->setSelectedSegmentIndex(1);
    delegate.applySampleRate();
    controls(delegate).segmentcontroller->setSelectedSegmentIndex(index);
    delegate.applySampleRate();
    QCOMPARE(accelerometer.updateInterval(), 0.0125);
    QCOMPARE(accelerometer.delegate(), &delegate);
}

QTEST_MAIN(SampleRoutingTest)
#include "tst_sample_routing.moc"
