#include "AppFixture.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

using screens::Transition;
using Screen = app::WobblestarAppDelegate::Screen;

Q_DECLARE_METATYPE(app::WobblestarAppDelegate::Screen)
Q_DECLARE_METATYPE(screens::Transition)

// With animations on: every screen change is a 1.0 s transition of its kind that ends on the
// right screen, and the controls are inert while it runs.
class ScreenTransitionsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void transition_data();
    void transition();

private:
    AppFixture fixture;
};

void ScreenTransitionsTest::initTestCase() {
    QVERIFY(screens::ScreenTransition::animationsEnabled());
    fixture.makeSkins();
    fixture.useStore();
}

void ScreenTransitionsTest::transition_data() {
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QString>("action");
    QTest::addColumn<Transition>("kind");
    QTest::addColumn<Screen>("shown");

    QTest::newRow("settings") << QStringList{} << "settings" << Transition::CurlUp
                              << Screen::Settings;
    QTest::newRow("back") << QStringList{"settings"} << "back" << Transition::CurlDown
                          << Screen::Graph;
    QTest::newRow("info") << QStringList{"settings"} << "info" << Transition::FlipFromRight
                          << Screen::Info;
    QTest::newRow("close") << QStringList{"settings", "info"} << "close" << Transition::FlipFromLeft
                           << Screen::Settings;
    QTest::newRow("recordMenu") << QStringList{} << "recordMenu" << Transition::CurlUp
                                << Screen::Recording;
    QTest::newRow("closerecord") << QStringList{"recordMenu"} << "closerecord"
                                 << Transition::CurlDown << Screen::Graph;
    QTest::newRow("meterMenu") << QStringList{} << "meterMenu" << Transition::FlipFromRight
                               << Screen::Meters;
    QTest::newRow("closeMeter") << QStringList{"meterMenu"} << "closeMeter"
                                << Transition::FlipFromLeft << Screen::Graph;
}

void ScreenTransitionsTest::transition() {
    QFETCH(QStringList, before);
    QFETCH(QString, action);
    QFETCH(Transition, kind);
    QFETCH(Screen, shown);

    app::WobblestarAppDelegate app;
    app.applicationDidFinishLaunching();
    QVERIFY(QTest::qWaitForWindowExposed(app.topLevelWindow()));
    screens::ScreenTransition* transition = AppFixture::transition(app);
    QSignalSpy finished(transition, &screens::ScreenTransition::finished);
    for (const QString& step : before) {
        QMetaObject::invokeMethod(&app, step.toLatin1().constData());
        QVERIFY(finished.wait(5000));
    }

    QMetaObject::invokeMethod(&app, action.toLatin1().constData());
    QVERIFY(transition->isRunning());
    QCOMPARE(transition->kind(), kind);
    QCOMPARE(transition->duration(), 1.0);
    // The overlay covers the window and takes the keys: Escape and Space do nothing now.
    QVERIFY(transition->isVisible());
    QCOMPARE(transition->geometry(), app.window()->rect());
    const bool graphOn = controls(app).graphView->updatingIsEnabled();
    QTest::keyClick(app.window(), Qt::Key_Escape);
    QTest::keyClick(app.window(), Qt::Key_Space);
    QCOMPARE(AppFixture::shownScreen(app), shown);
    QCOMPARE(controls(app).graphView->updatingIsEnabled(), graphOn);
    QWidget* under = app.window()->childAt(app.window()->rect().center());
    QCOMPARE(under, transition);

    QVERIFY(finished.wait(5000));
    QVERIFY(!transition->isRunning());
    QVERIFY(!transition->isVisible());
    QCOMPARE(AppFixture::shownScreen(app), shown);
}

int main(int argc, char* argv[]) {
    qputenv("WOBBLESTAR_ANIMATIONS", "1");
    QApplication application(argc, argv);
    ScreenTransitionsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_screen_transitions.moc"
