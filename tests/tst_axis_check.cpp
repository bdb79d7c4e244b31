#include "AppFixture.h"
#include "features/AxisCheckDialog.h"

#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

using sensors::Acceleration;
using sensors::Accelerometer;
using sensors::AxisMap;

namespace {

// A built-in sensor mounted a quarter turn off and upside down, held in whatever pose the test
// chooses.
class MountedSensor final : public sensors::AccelerometerDriver {
public:
    QString description() const override { return QStringLiteral("test chip"); }
    bool start(QString*) override { return true; }
    std::optional<AxisMap> axisMap() const override { return map; }
    void setAxisMap(const AxisMap& m) override { map = m; }
    QString axisSettingKey() const override { return QStringLiteral("axes/iio"); }
    std::optional<Acceleration> read(double now) override {
        Acceleration reading = map.apply(mounting.apply(pose));
        reading.timestamp = now;
        return reading;
    }
    Acceleration pose{0, 0, -1, 0};
    AxisMap mounting = *AxisMap::parse(QStringLiteral("y,x,-z"), nullptr);
    AxisMap map;
};

} // namespace

// The guided axis check from the settings screen: two poses, and the sensor reads right.
class AxisCheckTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { fixture.makeSkins(); }
    void twoPosesStoreAWorkingMap_data();
    void twoPosesStoreAWorkingMap();

private:
    AppFixture fixture;
};

void AxisCheckTest::twoPosesStoreAWorkingMap_data() {
    QTest::addColumn<bool>("turnable");
    QTest::addColumn<bool>("moveDuringFirstPose");
    QTest::newRow("built-in sensor") << true << false;
    QTest::newRow("moved during the first pose, asked again") << true << true;
    QTest::newRow("simulated sensor: nothing to turn") << false << false;
}

void AxisCheckTest::twoPosesStoreAWorkingMap() {
    QFETCH(bool, turnable);
    QFETCH(bool, moveDuringFirstPose);
    fixture.useStore();
    Accelerometer& accelerometer = Accelerometer::sharedAccelerometer();
    auto owned = std::make_unique<MountedSensor>();
    MountedSensor* sensor = owned.get();
    if (turnable)
        accelerometer.setDriver(std::move(owned));
    else
        accelerometer.setDriver(nullptr); // the simulated sensor stands in

    app::WobblestarAppDelegate app;
    app.applicationDidFinishLaunching();
    app.settings();
    auto* button = app.window()->findChild<QPushButton*>(QStringLiteral("checkAxes"));
    QVERIFY(button);
    QTest::mouseClick(button, Qt::LeftButton);
    auto* dialog = qobject_cast<AxisCheckDialog*>(AppFixture::axisCheck(app));
    QVERIFY(dialog);
    auto* instruction = dialog->findChild<QLabel*>(QStringLiteral("instruction"));
    auto* measure = dialog->findChild<QPushButton*>(QStringLiteral("measure"));
    if (!turnable) {
        QVERIFY2(instruction->text().contains(QLatin1String("cannot be turned")),
                 qPrintable(instruction->text()));
        QVERIFY(measure->isHidden());
        return;
    }
    QVERIFY(instruction->text().contains(QLatin1String("flat on a table")));

    QSignalSpy steps(&dialog->check(), &AxisCheck::stepChanged);
    QTest::mouseClick(measure, Qt::LeftButton);
    if (moveDuringFirstPose) {
        QTest::qWait(300);
        sensor->pose = Acceleration{0.4, 0.0, -0.9, 0};
        QVERIFY(steps.wait(3000));
        QVERIFY(dialog->findChild<QLabel*>(QStringLiteral("problem"))
                    ->text()
                    .contains(QLatin1String("moved")));
        QVERIFY(instruction->text().contains(QLatin1String("flat on a table")));
        sensor->pose = Acceleration{0, 0, -1, 0};
        QTest::mouseClick(measure, Qt::LeftButton);
    }
    QVERIFY(steps.wait(3000));
    QVERIFY2(instruction->text().contains(QLatin1String("straight up in portrait")),
             qPrintable(instruction->text()));

    sensor->pose = Acceleration{0, -1, 0, 0};
    QTest::mouseClick(measure, Qt::LeftButton);
    QVERIFY(steps.wait(3000));
    QVERIFY2(instruction->text().startsWith(QLatin1String("Done")),
             qPrintable(instruction->text()));

    // Stored, and in use at once: left edge up reads +X, as neither pose showed.
    QCOMPARE(QSettings().value(QStringLiteral("axes/iio")).toString(), sensor->map.toString());
    sensor->pose = Acceleration{1, 0, 0, 0};
    const Acceleration reading = *sensor->read(0.0);
    QCOMPARE(reading.x, 1.0);
    QCOMPARE(reading.y, 0.0);
    QCOMPARE(reading.z, 0.0);
    accelerometer.setDriver(nullptr);
}

QTEST_MAIN(AxisCheckTest)
#include "tst_axis_check.moc"
