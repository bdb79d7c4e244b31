#include "sensors/AxisMap.h"

#include <QTest>

using platform::Acceleration;
using platform::AxisMap;

class AxisMapTest : public QObject {
    Q_OBJECT
private slots:
    void mapsReadings_data();
    void mapsReadings();
    void rejectsBadMaps_data();
    void rejectsBadMaps();
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

QTEST_GUILESS_MAIN(AxisMapTest)
#include "tst_axis_map.moc"
