#include "app/MeterView.h"

#include <QTest>

namespace {

class CountingMeterView : public app::MeterView {
public:
    void setNeedsDisplay() override { ++requests; }
    int requests = 0;
};

} // namespace

class MeterViewInputTest : public QObject {
    Q_OBJECT
private slots:
    void storesAndRequestsByFlag_data();
    void storesAndRequestsByFlag();
};

void MeterViewInputTest::storesAndRequestsByFlag_data() {
    QTest::addColumn<int>("flag");
    QTest::addColumn<int>("requests");
    QTest::newRow("off") << 0 << 0;
    QTest::newRow("on") << 1 << 3;
    QTest::newRow("any non-zero byte counts as on") << 2 << 3;
    QTest::newRow("negative byte counts as on") << -1 << 3;
}

void MeterViewInputTest::storesAndRequestsByFlag() {
    QFETCH(int, flag);
    QFETCH(int, requests);
    CountingMeterView view;
    view.setUpdatingIsEnabled(static_cast<std::int8_t>(flag));
    QCOMPARE(view.requests, 0);
    view.X(0.5f, -1.0f, 9.0f);
    view.X(0.25f, -2.0f, 1e6f);
    view.X(0.1f, -0.0f, -4.0f);
    QCOMPARE(view.requests, requests);
    // The newest triple is kept whatever the flag, widened from float exactly.
    QCOMPARE(view.storedAcceleration(0), static_cast<double>(0.1f));
    QCOMPARE(view.storedAcceleration(1), -0.0);
    QCOMPARE(view.storedAcceleration(2), -4.0);
}

QTEST_MAIN(MeterViewInputTest)
#include "tst_meterview_input.moc"
