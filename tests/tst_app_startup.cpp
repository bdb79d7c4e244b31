#include "AppFixture.h"
#include "screens/LandscapeScreen.h"
#include "screens/StatusBar.h"

#include <QAction>
#include <QSettings>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

using sensors::Accelerometer;

// Start-up from the store, and what leaving the settings screen writes back.
class AppStartupTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void restore_data();
    void restore();
    void toolbar();
    void damagedStore_data();
    void damagedStore();
    void backRewritesSixKeys_data();
    void backRewritesSixKeys();
    void backResumesGraphAndItsPauseTitle();
    void recordingRate_data();
    void recordingRate();

private:
    AppFixture fixture;
};

void AppStartupTest::initTestCase() {
    fixture.makeSkins();
}

void AppStartupTest::init() {
    Accelerometer::sharedAccelerometer().setDelegate(nullptr);
    Accelerometer::sharedAccelerometer().setUpdateInterval(0.0);
}

void AppStartupTest::restore_data() {
    QTest::addColumn<QByteArray>("store");
    QTest::addColumn<int>("rate");
    QTest::addColumn<double>("interval");
    QTest::addColumn<int>("skin");
    QTest::addColumn<QString>("graphSkin");
    QTest::addColumn<QString>("axes"); // x, y, z, filter as 1/0
    QTest::addColumn<int>("period");
    QTest::addColumn<QString>("log");

    QTest::newRow("empty store") << QByteArray() << 0 << 0.025 << 0 << "carbon"
                                 << "0000" << 0 << "";
    QTest::newRow("full store")
        << QByteArray("[General]\nsegment=2\ndesign=3\nx=1\ny=0\nz=1\nf=1\nsegment2=3\n"
                      "text=Recording Frequency: 0.75s \n")
        << 2 << 1.0 / 120.0 << 3 << "black"
        << "1011" << 3 << "Recording Frequency: 0.75s";
    QTest::newRow("80 per second, metal")
        << QByteArray("[General]\nsegment=1\ndesign=1\nx=0\ny=1\nz=0\nf=0\nsegment2=1\n") << 1
        << 0.0125 << 1 << "metal"
        << "0100" << 1 << "";
    // A flag is a one-byte boolean: only the low byte counts.
    QTest::newRow("flags narrowed to a byte")
        << QByteArray("[General]\nx=256\ny=257\nz=-1\nf=2\n") << 0 << 0.025 << 0 << "carbon"
        << "0111" << 0 << "";
    // Out of range: no segment selected, nothing sampled, the graph's image view untouched.
    QTest::newRow("indices out of range")
        << QByteArray("[General]\nsegment=7\ndesign=9\nsegment2=-3\n") << -1 << 0.0 << -1 << ""
        << "0000" << -1 << "";
}

void AppStartupTest::restore() {
    QFETCH(QByteArray, store);
    QFETCH(int, rate);
    QFETCH(double, interval);
    QFETCH(int, skin);
    QFETCH(QString, graphSkin);
    QFETCH(QString, axes);
    QFETCH(int, period);
    QFETCH(QString, log);
    fixture.useStore(store);

    app::WobblestarAppDelegate app;
    app.applicationDidFinishLaunching();

    QCOMPARE(app.settingsMessage(), QString());
    QCOMPARE(controls(app).segmentcontroller->selectedSegmentIndex(), rate);
    QCOMPARE(controls(app).design->selectedSegmentIndex(), skin);
    QCOMPARE(controls(app).segment->selectedSegmentIndex(), period);
    const QString switches = QString::number(controls(app).xAxis->isOn()) +
                             QString::number(controls(app).yAxis->isOn()) +
                             QString::number(controls(app).zAxis->isOn()) +
                             QString::number(controls(app).Filter->isOn());
    QCOMPARE(switches, axes);
    QCOMPARE(controls(app).recordingText->toPlainText().trimmed(), log);
    QCOMPARE(AppFixture::skinOf(controls(app).one), graphSkin);
    QCOMPARE(controls(app).graphView->filteringIsEnabled(), axes.endsWith(u'1'));

    Accelerometer& accelerometer = Accelerometer::sharedAccelerometer();
    QCOMPARE(accelerometer.updateInterval(), interval);
    QCOMPARE(accelerometer.delegate() == &app, rate >= 0);
    QCOMPARE(app.statusBar()->rateText().startsWith(u"No rate"), rate < 0);

    QVERIFY(app.window()->isVisible());
    QCOMPARE(app.window()->windowTitle(), QStringLiteral("Wobblestar"));
    QCOMPARE(app.window()->size(), QSize(320, 480));
    QCOMPARE(AppFixture::shownScreen(app), app::WobblestarAppDelegate::Screen::Graph);
    QVERIFY(controls(app).graphView->isVisible());
    QVERIFY(!controls(app).settingsView->isVisible());
    QVERIFY(!AppFixture::metersHost(app)->isVisible());
    QVERIFY(controls(app).graphView->updatingIsEnabled());
    QVERIFY(!controls(app).meterView->updatingIsEnabled());
    QCOMPARE(app.statusBar()->statusBarStyle(), 2);
    QCOMPARE(app.statusBar()->geometry(), QRect(0, 0, 320, 20));
    // Restoring writes nothing.
    QCOMPARE(QFileInfo::exists(desktop::settingsStorePath()), !store.isNull());
}

void AppStartupTest::toolbar() {
    fixture.useStore();
    app::WobblestarAppDelegate app;
    app.applicationDidFinishLaunching();
    QVERIFY(controls(app).toolbar);
    QCOMPARE(controls(app).toolbar->geometry(), QRect(0, 434, 320, 46));
    const QList<QAction*> items = controls(app).toolbar->actions();
    QCOMPARE(items.size(), 4);
    const QStringList titles = {"Pause", "Recording", "G-Meters", "Settings"};
    const int widths[] = {65, 80, 68, 65};
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(items[i]->text(), titles[i]);
        QWidget* button = controls(app).toolbar->widgetForAction(items[i]);
        QCOMPARE(button->width(), widths[i]);
        // Every button fits on the bar.
        QVERIFY(controls(app).toolbar->rect().contains(button->geometry()));
        QVERIFY(button->isVisible());
    }
}

void AppStartupTest::damagedStore_data() {
    QTest::addColumn<QByteArray>("store");
    QTest::addColumn<int>("rate");
    QTest::addColumn<bool>("xOn");
    QTest::addColumn<QString>("log");

    QTest::newRow("does not parse") << QByteArray("[General\nsegment=2\nx=1\n") << 0 << false << "";
    QTest::newRow("binary") << QByteArray("\x01\x02\x00\xff\xfe[", 6) << 0 << false << "";
    // The sound values survive; only the damaged ones restore as absent.
    QTest::newRow("word for a number")
        << QByteArray("[General]\nsegment=fast\nx=1\ntext=kept log\n") << 0 << true << "kept log";
    QTest::newRow("list for the log")
        << QByteArray("[General]\nsegment=1\ntext=a, b\n") << 1 << false << "";
    QTest::newRow("word for a flag")
        << QByteArray("[General]\nsegment=2\nx=yes\n") << 2 << false << "";
}

void AppStartupTest::damagedStore() {
    QFETCH(QByteArray, store);
    QFETCH(int, rate);
    QFETCH(bool, xOn);
    QFETCH(QString, log);
    fixture.useStore(store);
    const QString path = desktop::settingsStorePath();

    app::WobblestarAppDelegate app;
    app.applicationDidFinishLaunching();

    QVERIFY(!app.settingsMessage().isEmpty());
    QVERIFY(app.settingsMessage().contains(u".bad"));
    QCOMPARE(controls(app).segmentcontroller->selectedSegmentIndex(), rate);
    QCOMPARE(controls(app).xAxis->isOn(), xOn);
    QCOMPARE(controls(app).recordingText->toPlainText(), log);

    // The damaged file is kept, byte for byte, and survives the next save.
    QFile kept(path + QStringLiteral(".bad"));
    app.settings();
    app.back();
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), store);
    QSettings saved;
    QCOMPARE(saved.status(), QSettings::NoError);
    QCOMPARE(saved.value("segment").toInt(), rate);
    QCOMPARE(saved.value("text").toString(), log);

    // The next start finds a sound store and says nothing.
    app::WobblestarAppDelegate again;
    again.applicationDidFinishLaunching();
    QCOMPARE(again.settingsMessage(), QString());
    QCOMPARE(controls(again).recordingText->toPlainText(), log);
}

void AppStartupTest::backRewritesSixKeys_data() {
    QTest::addColumn<bool>("change");
    QTest::newRow("unchanged") << false;
    QTest::newRow("changed") << true;
}

void AppStartupTest::backRewritesSixKeys() {
    QFETCH(bool, change);
    fixture.useStore("[General]\nsegment2=2\ntext=old log\n");
    app::WobblestarAppDelegate app;
    app.applicationDidFinishLaunching();
    controls(app).Filter->setOn(true);
    app.back(); // filter on, so the graph keeps a low-pass state
    app.accelerometer(Accelerometer::sharedAccelerometer(), {0.5, 0.5, 0.5});
    controls(app).xAxis->setOn(true);
    app.accelerometer(Accelerometer::sharedAccelerometer(), {0.5, 0.5, 0.5});
    QVERIFY(controls(app).graphView->filterState(0) != 0.0);
    Accelerometer::sharedAccelerometer().setUpdateInterval(0.5);

    app.settings();
    if (change) {
        controls(app).segmentcontroller->setSelectedSegmentIndex(2);
        controls(app).design->setSelectedSegmentIndex(3);
        controls(app).zAxis->setOn(true);
        controls(app).Filter->setOn(false);
    }
    controls(app).segment->setSelectedSegmentIndex(0); // the recording period is not saved here
    app.back();

    QSettings store;
    const QStringList expected = change ? QStringList{"2", "3", "1", "0", "1", "0"}
                                        : QStringList{"0", "0", "1", "0", "0", "1"};
    const QStringList keys = {"segment", "design", "x", "y", "z", "f"};
    for (int i = 0; i < keys.size(); ++i)
        QCOMPARE(store.value(keys[i]).toString(), expected[i]);
    QCOMPARE(store.value("segment2").toInt(), 2);
    QCOMPARE(store.value("text").toString(), QStringLiteral("old log"));
    // The filter flag is sent again, which resets the state; the interval is set again.
    QCOMPARE(controls(app).graphView->filterState(0), 0.0);
    QCOMPARE(Accelerometer::sharedAccelerometer().updateInterval(), change ? 1.0 / 120.0 : 0.025);
}

void AppStartupTest::backResumesGraphAndItsPauseTitle() {
    fixture.useStore();
    app::WobblestarAppDelegate app;
    app.applicationDidFinishLaunching();
    app.toggleRun();
    QVERIFY(!controls(app).graphView->updatingIsEnabled());
    app.settings();
    app.back();
    QVERIFY(controls(app).graphView->updatingIsEnabled());
    QCOMPARE(controls(app).toolbar->actions().at(0)->text(), QStringLiteral("Pause"));
}

// A recording without a display takes the stored rate, and 40 per second for one the control
// does not have; the period comes from the command line.
void AppStartupTest::recordingRate_data() {
    QTest::addColumn<QByteArray>("store");
    QTest::addColumn<double>("interval");
    QTest::newRow("nothing stored") << QByteArray() << 0.025;
    QTest::newRow("120 per second") << QByteArray("[General]\nsegment=2\n") << 1.0 / 120.0;
    QTest::newRow("beyond the control") << QByteArray("[General]\nsegment=3\n") << 0.025;
    QTest::newRow("none selected") << QByteArray("[General]\nsegment=-1\n") << 0.025;
}

void AppStartupTest::recordingRate() {
    QFETCH(QByteArray, store);
    QFETCH(double, interval);
    fixture.useStore(store);
    app::WobblestarAppDelegate app;
    app.setHeadless(true);
    app.prepareRecording(3);
    QCOMPARE(Accelerometer::sharedAccelerometer().updateInterval(), interval);
    QCOMPARE(Accelerometer::sharedAccelerometer().delegate(), &app);
    QCOMPARE(controls(app).segment->selectedSegmentIndex(), 3);
}

QTEST_MAIN(AppStartupTest)
#include "tst_app_startup.moc"
