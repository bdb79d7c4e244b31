#include "sensors/SimulatedDriver.h"

#include <QTest>
#include <cmath>

using sensors::Acceleration;
using sensors::SimulatedDriver;

namespace {

double magnitude(const Acceleration& a) {
    return std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z);
}

} // namespace

class SimulatedDriverTest : public QObject {
    Q_OBJECT
private slots:
    void sameSeedSameReadings_data();
    void sameSeedSameReadings();
    void differentSeedsDiffer();
    void restsFaceUp();
    void holdsBetweenChipSamples();
    void isSometimesShakenBeyondThreeG();
};

void SimulatedDriverTest::sameSeedSameReadings_data() {
    QTest::addColumn<quint64>("seed");
    QTest::newRow("default seed") << quint64(SimulatedDriver::kDefaultSeed);
    QTest::newRow("seed 42") << quint64(42);
    QTest::newRow("largest seed") << quint64(~0ULL);
}

void SimulatedDriverTest::sameSeedSameReadings() {
    QFETCH(quint64, seed);
    SimulatedDriver first(seed);
    SimulatedDriver second(seed);
    // Read in different orders: a reading depends only on the seed and the time.
    for (int i = 0; i < 2000; ++i) {
        const double t = i * 0.0123;
        const Acceleration a = first.readingAt(t);
        const Acceleration b = second.readingAt(2000 * 0.0123 - t);
        const Acceleration c = second.readingAt(t);
        QCOMPARE(a.x, c.x);
        QCOMPARE(a.y, c.y);
        QCOMPARE(a.z, c.z);
        Q_UNUSED(b);
    }
}

void SimulatedDriverTest::differentSeedsDiffer() {
    SimulatedDriver a(1), b(2);
    int same = 0;
    for (int i = 0; i < 100; ++i)
        same += a.readingAt(i * 0.1).x == b.readingAt(i * 0.1).x;
    QCOMPARE(same, 0);
}

void SimulatedDriverTest::restsFaceUp() {
    // The first seconds are quiet: a face-up device reads about (0, 0, -1) g.
    SimulatedDriver driver(7);
    double sumX = 0, sumY = 0, sumZ = 0;
    const int n = 400;
    for (int i = 0; i < n; ++i) {
        const Acceleration a = driver.readingAt(i * 0.01);
        QVERIFY(std::abs(magnitude(a) - 1.0) < 0.05);
        sumX += a.x;
        sumY += a.y;
        sumZ += a.z;
    }
    QVERIFY(std::abs(sumX / n) < 0.3);
    QVERIFY(std::abs(sumY / n) < 0.3);
    QVERIFY(sumZ / n < -0.9);
}

void SimulatedDriverTest::holdsBetweenChipSamples() {
    SimulatedDriver driver;
    const double sample = 1.0 / SimulatedDriver::kSensorRate;
    const Acceleration a = driver.readingAt(10 * sample + 0.1 * sample);
    const Acceleration b = driver.readingAt(10 * sample + 0.9 * sample);
    const Acceleration c = driver.readingAt(11 * sample + 0.1 * sample);
    QCOMPARE(a.x, b.x);
    QVERIFY(a.x != c.x);
}

void SimulatedDriverTest::isSometimesShakenBeyondThreeG() {
    // Ten minutes of simulation: taps and shakes happen, some past the graph's ±3 g scale,
    // and nothing is NaN.
    SimulatedDriver driver;
    double largest = 0.0;
    int disturbed = 0;
    for (int i = 0; i < 600 * 120; ++i) {
        const Acceleration a = driver.readingAt(i / 120.0);
        QVERIFY(std::isfinite(a.x) && std::isfinite(a.y) && std::isfinite(a.z));
        const double m = std::max({std::abs(a.x), std::abs(a.y), std::abs(a.z)});
        largest = std::max(largest, m);
        disturbed += std::abs(magnitude(a) - 1.0) > 0.3;
    }
    QVERIFY(largest > 3.0);
    QVERIFY(largest < 8.0);
    QVERIFY(disturbed > 600);
}

QTEST_GUILESS_MAIN(SimulatedDriverTest)
#include "tst_simulated_driver.moc"
