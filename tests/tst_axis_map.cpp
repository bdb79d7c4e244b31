#include "sensors/AxisMap.h"

#include <QTest>

using sensors::Acceleration;
using sensors::AxisMap;

class AxisMapTest : public QObject {
    Q_OBJECT
private slots:
    void mapsReadings_data();
    void mapsReadings();
    void rejectsBadMaps_data();
    void rejectsBadMaps();
    void posesSettleTheMounting_data();
    void posesSettleTheMounting();
    void refusesPosesThatSayNothing_data();
    void refusesPosesThatSayNothing();
};

void AxisMapTest::mapsReadings_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("canonical");
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");
    QTest::addColumn<double>("z");
    // The sensor reads (0.1, 0.2, 0.3) in every row.
    QTest::newRow("identity") << "x,y,z"
                              << "x,y,z" << 0.1 << 0.2 << 0.3;
    QTest::newRow("z turned over") << "x,y,-z"
                                   << "x,y,-z" << 0.1 << 0.2 << -0.3;
    QTest::newRow("quarter turn") << "-y,x,z"
                                  << "-y,x,z" << -0.2 << 0.1 << 0.3;
    QTest::newRow("all turned over") << "-x,-y,-z"
                                     << "-x,-y,-z" << -0.1 << -0.2 << -0.3;
    QTest::newRow("spaces, capitals, plus") << " +Z , X,-y "
                                            << "z,x,-y" << 0.3 << 0.1 << -0.2;
}

void AxisMapTest::mapsReadings() {
    QFETCH(QString, text);
    QFETCH(QString, canonical);
    QFETCH(double, x);
    QFETCH(double, y);
    QFETCH(double, z);
    QString error;
    const std::optional<AxisMap> map = AxisMap::parse(text, &error);
    QVERIFY2(map, qPrintable(error));
    QCOMPARE(map->toString(), canonical);
    const Acceleration out = map->apply(Acceleration{0.1, 0.2, 0.3, 7.5});
    QCOMPARE(out.x, x);
    QCOMPARE(out.y, y);
    QCOMPARE(out.z, z);
    QCOMPARE(out.timestamp, 7.5);
}

void AxisMapTest::rejectsBadMaps_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("reason");
    QTest::newRow("empty") << ""
                           << "three terms";
    QTest::newRow("two terms") << "x,y"
                               << "three terms";
    QTest::newRow("four terms") << "x,y,z,x"
                                << "three terms";
    QTest::newRow("axis twice") << "x,-x,z"
                                << "x is used twice";
    QTest::newRow("not an axis") << "x,y,w"
                                 << "'w' is not an axis";
    QTest::newRow("double sign") << "x,--y,z"
                                 << "'--y' is not an axis";
}

void AxisMapTest::rejectsBadMaps() {
    QFETCH(QString, text);
    QFETCH(QString, reason);
    QString error;
    QVERIFY(!AxisMap::parse(text, &error));
    QVERIFY2(error.contains(reason), qPrintable(error));
    QVERIFY2(error.contains(QLatin1String("x,y,-z")), "the message shows how to write a map");
}

void AxisMapTest::posesSettleTheMounting_data() {
    QTest::addColumn<QString>("mounting");
    QTest::addColumn<QString>("present");
    // `mounting` turns the device's true reading into the chip's; `present` is the map the
    // source applies now. Together they turn, never mirror: that is what the check corrects.
    QTest::newRow("already right") << "x,y,z"
                                   << "x,y,z";
    QTest::newRow("chip a quarter turn off") << "y,-x,z"
                                             << "x,y,z";
    QTest::newRow("X and Y swapped, Z flipped") << "y,x,-z"
                                                << "x,y,z";
    QTest::newRow("upside down") << "-x,y,-z"
                                 << "x,y,z";
    QTest::newRow("chip measuring the reaction, on its side") << "-z,-x,-y"
                                                              << "-x,-y,-z";
    QTest::newRow("present map already half right") << "z,x,y"
                                                    << "-y,x,z";
}

void AxisMapTest::posesSettleTheMounting() {
    QFETCH(QString, mounting);
    QFETCH(QString, present);
    QString error;
    const AxisMap chip = *AxisMap::parse(mounting, &error);
    const AxisMap before = *AxisMap::parse(present, &error);
    auto delivered = [&](const AxisMap& map, double x, double y, double z) {
        return chip.then(map).apply(Acceleration{x, y, z, 0.0});
    };
    const std::optional<AxisMap> correction = AxisMap::fromPoses(
        delivered(before, 0.02, -0.01, -0.98), delivered(before, 0.03, -1.01, 0.05), &error);
    QVERIFY2(correction, qPrintable(error));
    QCOMPARE(correction->handedness(), 1);

    // The source's new map reads every pose right, the third one (left edge up) included,
    // which neither measured pose fixed.
    const AxisMap after = before.then(*correction);
    const struct { double x, y, z; } poses[] = {{0, 0, -1}, {0, -1, 0}, {1, 0, 0}, {0, 0, 1}};
    for (const auto& pose : poses) {
        const Acceleration reading = delivered(after, pose.x, pose.y, pose.z);
        QCOMPARE(reading.x, pose.x);
        QCOMPARE(reading.y, pose.y);
        QCOMPARE(reading.z, pose.z);
    }
}

void AxisMapTest::refusesPosesThatSayNothing_data() {
    QTest::addColumn<double>("ux");
    QTest::addColumn<double>("uy");
    QTest::addColumn<double>("uz");
    QTest::addColumn<double>("px");
    QTest::addColumn<double>("py");
    QTest::addColumn<double>("pz");
    QTest::addColumn<QString>("reason");
    QTest::newRow("no gravity: a disconnected sensor")
        << 0.0 << 0.0 << 0.0 << 0.0 << -1.0 << 0.0 << "Lying face up";
    QTest::newRow("tilted half-way while lying")
        << 0.0 << -0.7 << -0.7 << 0.0 << -1.0 << 0.0 << "Lying face up";
    QTest::newRow("shaken while upright")
        << 0.0 << 0.0 << -1.0 << 0.0 << -2.5 << 0.0 << "Held upright";
    QTest::newRow("still face up the second time")
        << 0.0 << 0.0 << -1.0 << 0.0 << 0.05 << -1.0 << "same axis";
}

void AxisMapTest::refusesPosesThatSayNothing() {
    QFETCH(double, ux);
    QFETCH(double, uy);
    QFETCH(double, uz);
    QFETCH(double, px);
    QFETCH(double, py);
    QFETCH(double, pz);
    QFETCH(QString, reason);
    QString error;
    QVERIFY(!AxisMap::fromPoses(Acceleration{ux, uy, uz, 0}, Acceleration{px, py, pz, 0}, &error));
    QVERIFY2(error.contains(reason), qPrintable(error));
}

QTEST_GUILESS_MAIN(AxisMapTest)
#include "tst_axis_map.moc"
