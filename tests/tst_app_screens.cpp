#include "AppFixture.h"
#include "drawing/Images.h"
#include "screens/LandscapeScreen.h"
#include "screens/StatusBar.h"

#include <QAction>
#include <QSettings>
#include <QTest>
#include <QToolBar>

using sensors::Accelerometer;
using Screen = app::WobblestarAppDelegate::Screen;

Q_DECLARE_METATYPE(app::WobblestarAppDelegate::Screen)

// The eight screen changes, pausing across them, skins and the keyboard.
class AppScreensTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void screenChange_data();
    void screenChange();
    void pauseTitles_data();
    void pauseTitles();
    void skinOnInfoBeforeBack();
    void skinIndexOutOfRange();
    void missingImageLeavesViewEmpty();
    void orientation_data();
    void orientation();
    void keyboard_data();
    void keyboard();

private:
    void invoke(app::WobblestarAppDelegate& app, const QStringList& actions);
    AppFixture fixture;
};

void AppScreensTest::initTestCase() {
    fixture.makeSkins();
}

void AppScreensTest::init() {
    Accelerometer::sharedAccelerometer().setDelegate(nullptr);
    Accelerometer::sharedAccelerometer().setUpdateInterval(0.0);
    // Metal is stored; each action below runs with Ancient chosen, to show who dresses.
    fixture.useStore("[General]\ndesign=1\n");
}

void AppScreensTest::invoke(app::WobblestarAppDelegate& app, const QStringList& actions) {
    for (const QString& action : actions)
        QVERIFY2(QMetaObject::invokeMethod(&app, action.toLatin1().constData()),
                 qPrintable(action));
}

void AppScreensTest::screenChange_data() {
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QString>("action");
    QTest::addColumn<Screen>("shown");
    QTest::addColumn<bool>("graphOn");
    QTest::addColumn<bool>("meterOn");
    // The image view the action dresses with the skin chosen now; "" for none.
    QTest::addColumn<QString>("dressed");
    QTest::addColumn<int>("orientation");

    QTest::newRow("settings") << QStringList{} << "settings" << Screen::Settings << false << false
                              << "three" << 1;
    QTest::newRow("back") << QStringList{"settings"} << "back" << Screen::Graph << true << false
                          << "one" << 1;
    QTest::newRow("info") << QStringList{"settings"} << "info" << Screen::Info << false << false
                          << "two" << 1;
    QTest::newRow("close") << QStringList{"settings", "info"} << "close" << Screen::Settings
                           << false << false << "" << 1;
    QTest::newRow("recordMenu") << QStringList{} << "recordMenu" << Screen::Recording << false
                                << false << "four" << 1;
    QTest::newRow("closerecord") << QStringList{"recordMenu"} << "closerecord" << Screen::Graph
                                 << true << false << "" << 1;
    QTest::newRow("meterMenu") << QStringList{} << "meterMenu" << Screen::Meters << false << true
                               << "five" << 4;
    QTest::newRow("closeMeter") << QStringList{"meterMenu"} << "closeMeter" << Screen::Graph << true
                                << false << "" << 1;
}

void AppScreensTest::screenChange() {
    QFETCH(QStringList, before);
    QFETCH(QString, action);
    QFETCH(Screen, shown);
    QFETCH(bool, graphOn);
    QFETCH(bool, meterOn);
    QFETCH(QString, dressed);
    QFETCH(int, orientation);

    app::WobblestarAppDelegate app;
    app.applicationDidFinishLaunching();
    invoke(app, before);
    QHash<QString, QString> skinsBefore;
    const QList<QLabel*> views = {controls(app).one, controls(app).two, controls(app).three,
                                  controls(app).four, controls(app).five};
    for (QLabel* view : views)
        skinsBefore[view->objectName()] = AppFixture::skinOf(view);
    controls(app).design->setSelectedSegmentIndex(2);

    invoke(app, {action});

    QCOMPARE(AppFixture::shownScreen(app), shown);
    QCOMPARE(controls(app).graphView->updatingIsEnabled(), graphOn);
    QCOMPARE(controls(app).meterView->updatingIsEnabled(), meterOn);
    QCOMPARE(app.statusBar()->statusBarOrientation(), orientation);
    QCOMPARE(AppFixture::idleTimer(app).idleTimerDisabled(), shown == Screen::Meters);
    const QHash<Screen, QWidget*> roots = {{Screen::Graph, controls(app).graphView},
                                           {Screen::Settings, controls(app).settingsView},
                                           {Screen::Info, controls(app).infoView},
                                           {Screen::Recording, controls(app).RecordView},
                                           {Screen::Meters, AppFixture::metersHost(app)}};
    for (auto it = roots.cbegin(); it != roots.cend(); ++it)
        QCOMPARE(it.value()->isVisible(), it.key() == shown);
    // The shown screen lies above every other and below the status bar.
    const QObjectList& children = app.window()->children();
    QVERIFY(children.indexOf(roots[shown]) > children.indexOf(controls(app).toolbar));
    QVERIFY(children.indexOf(roots[shown]) < children.indexOf(app.statusBar()));

    for (QLabel* view : views) {
        const QString name = view->objectName();
        const QString expected = name == dressed
                                     ? QStringLiteral("ancient") + (name == u"five" ? "90" : "")
                                     : skinsBefore[name];
        QCOMPARE(AppFixture::skinOf(view), expected);
    }
}

void AppScreensTest::pauseTitles_data() {
    QTest::addColumn<QStringList>("away");
    QTest::newRow("settings") << QStringList{"settings", "back"};
    QTest::newRow("settings and info") << QStringList{"settings", "info", "close", "back"};
    QTest::newRow("recording") << QStringList{"recordMenu", "closerecord"};
    QTest::newRow("meters") << QStringList{"meterMenu", "closeMeter"};
}

void AppScreensTest::pauseTitles() {
    QFETCH(QStringList, away);
    app::WobblestarAppDelegate app;
    app.applicationDidFinishLaunching();
    QAction* pause = controls(app).toolbar->actions().at(0);

    app.toggleRun();
    QCOMPARE(pause->text(), QStringLiteral("Resume"));
    QVERIFY(!controls(app).graphView->updatingIsEnabled());
    invoke(app, away);
    // Back on the graph it runs, and the item says that pressing it pauses.
    QVERIFY(controls(app).graphView->updatingIsEnabled());
    QCOMPARE(pause->text(), QStringLiteral("Pause"));
    app.toggleRun();
    QCOMPARE(pause->text(), QStringLiteral("Resume"));
    QVERIFY(!controls(app).graphView->updatingIsEnabled());
    app.toggleRun();
    QCOMPARE(pause->text(), QStringLiteral("Pause"));
    QVERIFY(controls(app).graphView->updatingIsEnabled());

    // The gauges run whenever their screen is entered, and their item says so.
    app.meterMenu();
    app.toggleRunMeters();
    QCOMPARE(controls(app).metersPause->text(), QStringLiteral("Resume"));
    QVERIFY(!controls(app).meterView->updatingIsEnabled());
    app.closeMeter();
    app.meterMenu();
    QVERIFY(controls(app).meterView->updatingIsEnabled());
    QCOMPARE(controls(app).metersPause->text(), QStringLiteral("Pause"));
}

void AppScreensTest::skinOnInfoBeforeBack() {
    app::WobblestarAppDelegate app;
    app.applicationDidFinishLaunching();
    app.settings();
    QCOMPARE(AppFixture::skinOf(controls(app).three), QStringLiteral("metal"));
    controls(app).design->setSelectedSegmentIndex(3);
    app.info();
    QCOMPARE(AppFixture::skinOf(controls(app).two), QStringLiteral("black"));
    app.close();
    // The settings screen keeps the skin it had when entered from the graph.
    QCOMPARE(AppFixture::skinOf(controls(app).three), QStringLiteral("metal"));
    QCOMPARE(AppFixture::skinOf(controls(app).one), QStringLiteral("metal"));
    app.back();
    QCOMPARE(AppFixture::skinOf(controls(app).one), QStringLiteral("black"));
}

void AppScreensTest::skinIndexOutOfRange() {
    app::WobblestarAppDelegate app;
    app.applicationDidFinishLaunching();
    app.meterMenu();
    app.closeMeter();
    controls(app).design->setSelectedSegmentIndex(4); // out of range: no segment selected
    QCOMPARE(controls(app).design->selectedSegmentIndex(), -1);
    for (const char* action : {"settings", "info", "close", "back", "recordMenu", "closerecord",
                               "meterMenu", "closeMeter"})
        invoke(app, {QString::fromLatin1(action)});
    QCOMPARE(AppFixture::skinOf(controls(app).one), QStringLiteral("metal"));
    QCOMPARE(AppFixture::skinOf(controls(app).five), QStringLiteral("metal90"));
    QCOMPARE(AppFixture::skinOf(controls(app).two), QString());
    QCOMPARE(AppFixture::skinOf(controls(app).three), QString());
    QCOMPARE(AppFixture::skinOf(controls(app).four), QString());
    QSettings store;
    QCOMPARE(store.value("design").toInt(), -1);
}

void AppScreensTest::missingImageLeavesViewEmpty() {
    QVERIFY(drawing::imageNamed(QStringLiteral("no-such-skin.png")).isNull());
    QWidget window;
    Ui::Wobblestar ui;
    ui.setupUi(&window);
    app::ScreenNavigator screens(ui, window);
    screens.loadSkins([](const QString& name) {
        return drawing::imageNamed(name == u"metal.png" ? QStringLiteral("no-such-skin.png")
                                                        : name);
    });
    ui.one->setPixmap(drawing::imageNamed(QStringLiteral("carbon.png")));
    ui.design->setSelectedSegmentIndex(1);
    screens.dress(ui.one);
    QVERIFY(ui.one->pixmap().isNull());
}

void AppScreensTest::orientation_data() {
    QTest::addColumn<bool>("fixed");
    QTest::newRow("desktop turns the window") << false;
    QTest::newRow("fixed orientation") << true;
}

void AppScreensTest::orientation() {
    QFETCH(bool, fixed);
    app::WobblestarAppDelegate app;
    app.setFixedOrientation(fixed);
    app.applicationDidFinishLaunching();
    screens::LandscapeScreen* host = AppFixture::metersHost(app);
    QCOMPARE(host->screenBounds(), QSizeF(480, 320));
    QCOMPARE(host->screenRotation(), 270.0);
    // Turned into the portrait window, the screen sits below the status bar, whole.
    QCOMPARE(host->screenCenter(), fixed ? QPointF(160, 250) : QPointF(160, 240));

    for (int round = 0; round < 2; ++round) {
        app.meterMenu();
        QCOMPARE(app.window()->size(), fixed ? QSize(320, 480) : QSize(480, 320));
        QCOMPARE(app.statusBar()->width(), app.window()->width());
        QCOMPARE(host->geometry(), app.window()->rect());
        QCOMPARE(host->deviceRotation(), fixed ? 0 : 90);
        app.closeMeter();
        QCOMPARE(app.window()->size(), QSize(320, 480));
        QCOMPARE(host->deviceRotation(), 0);
        // The quarter turn is made once, at start-up.
        QCOMPARE(host->screenRotation(), 270.0);
    }
}

void AppScreensTest::keyboard_data() {
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<int>("key");
    QTest::addColumn<Screen>("shown");
    QTest::addColumn<bool>("graphOn");
    QTest::addColumn<bool>("meterOn");

    QTest::newRow("space pauses the graph")
        << QStringList{} << int(Qt::Key_Space) << Screen::Graph << false << false;
    QTest::newRow("space pauses the meters")
        << QStringList{"meterMenu"} << int(Qt::Key_Space) << Screen::Meters << false << false;
    QTest::newRow("escape on the graph")
        << QStringList{} << int(Qt::Key_Escape) << Screen::Graph << true << false;
    QTest::newRow("escape leaves settings")
        << QStringList{"settings"} << int(Qt::Key_Escape) << Screen::Graph << true << false;
    QTest::newRow("escape leaves info") << QStringList{"settings", "info"} << int(Qt::Key_Escape)
                                        << Screen::Settings << false << false;
    QTest::newRow("escape leaves recording")
        << QStringList{"recordMenu"} << int(Qt::Key_Escape) << Screen::Graph << true << false;
    QTest::newRow("escape leaves meters")
        << QStringList{"meterMenu"} << int(Qt::Key_Escape) << Screen::Graph << true << false;
}

void AppScreensTest::keyboard() {
    QFETCH(QStringList, before);
    QFETCH(int, key);
    QFETCH(Screen, shown);
    QFETCH(bool, graphOn);
    QFETCH(bool, meterOn);
    app::WobblestarAppDelegate app;
    app.applicationDidFinishLaunching();
    QVERIFY(QTest::qWaitForWindowExposed(app.topLevelWindow()));
    app.topLevelWindow()->activateWindow();
    invoke(app, before);
    QTest::keyClick(app.window(), Qt::Key(key));
    QCOMPARE(AppFixture::shownScreen(app), shown);
    QCOMPARE(controls(app).graphView->updatingIsEnabled(), graphOn);
    QCOMPARE(controls(app).meterView->updatingIsEnabled(), meterOn);
}

QTEST_MAIN(AppScreensTest)
#include "tst_app_screens.moc"
