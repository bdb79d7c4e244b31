#include "AppFixture.h"
#include "features/RecordingLog.h"
#include "screens/StatusBar.h"
#include "screens/WindowPlacement.h"
#include "sensors/Accelerometer.h"

#include <QBackingStore>
#include <QScrollBar>
#include <QSettings>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QToolBar>

using screens::FittedWindow;
using sensors::Accelerometer;

// The desktop window: the phone-sized interface scaled as a whole into a window of any size,
// and the status-bar hint of a first start.
class FittedWindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void firstWindowFitsTheScreen_data();
    void firstWindowFitsTheScreen();
    void scalesToAnySize_data();
    void scalesToAnySize();
    void graphFramesLeaveNothingBehind_data();
    void graphFramesLeaveNothingBehind();
    void axesHint_data();
    void axesHint();
    void placementRemembered_data();
    void placementRemembered();
    void logReadsAcross_data();
    void logReadsAcross();

private:
    AppFixture fixture;
};

void FittedWindowTest::initTestCase() {
    fixture.makeSkins();
    // Double-resolution skins beside the test's own, for windows drawn at 1.5 and more.
    for (const char* name : AppFixture::kSkinNames)
        for (const char* suffix : {"", "90"}) {
            const QString base = QStringLiteral("%1%2").arg(name, suffix);
            const QImage single(fixture.skins.filePath(base + ".png"));
            single.scaled(single.size() * 2).save(fixture.skins.filePath(base + "@2x.png"));
        }
}

void FittedWindowTest::init() {
    Accelerometer::sharedAccelerometer().setDelegate(nullptr);
}

void FittedWindowTest::firstWindowFitsTheScreen_data() {
    QTest::addColumn<QSize>("available");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("1920 x 1080 desktop") << QSize(1920, 1040) << QSize(640, 960);
    QTest::newRow("1366 x 768 laptop") << QSize(1366, 728) << QSize(320, 480);
    QTest::newRow("4K desktop") << QSize(3840, 2100) << QSize(960, 1440);
    // 1366 x 768 at scale 2: 683 x 384 points, less the task bar.
    QTest::newRow("laptop at 2x") << QSize(683, 360) << QSize(208, 312);
    QTest::newRow("wide and low") << QSize(1600, 300) << QSize(168, 252);
}

void FittedWindowTest::firstWindowFitsTheScreen() {
    QFETCH(QSize, available);
    QFETCH(QSize, expected);
    const QSize size = FittedWindow::initialSize(QSize(320, 480), available);
    QCOMPARE(size, expected);
    QVERIFY(size.width() + FittedWindow::kFrameAllowance <= available.width());
    QVERIFY(size.height() + FittedWindow::kFrameAllowance <= available.height());
}

void FittedWindowTest::scalesToAnySize_data() {
    QTest::addColumn<QSize>("window");
    QTest::addColumn<double>("pixelRatio");
    QTest::addColumn<bool>("meters");
    for (const double ratio : {1.0, 1.5, 2.0})
        for (const QSize window : {QSize(240, 360), QSize(900, 700), QSize(400, 1000)})
            QTest::addRow("%dx%d at %.1f", window.width(), window.height(), ratio)
                << window << ratio << false;
    QTest::newRow("meters, wide window") << QSize(1000, 500) << 1.5 << true;
    // About maximised on 1920 x 1080: the double-resolution skins, drawn at 2.17.
    QTest::newRow("1900x1040 at 1.0") << QSize(1900, 1040) << 1.0 << false;
}

void FittedWindowTest::scalesToAnySize() {
    QFETCH(QSize, window);
    QFETCH(double, pixelRatio);
    QFETCH(bool, meters);
    fixture.useStore("[General]\nx=1\ny=1\nz=1\ndesign=1\n");
    app::WobblestarAppDelegate app;
    app.applicationDidFinishLaunching();
    FittedWindow* top = app.topLevelWindow();
    QVERIFY(QTest::qWaitForWindowExposed(top));
    if (meters)
        app.meterMenu();
    top->resize(window);
    QCoreApplication::processEvents();

    const QSize layout = app.window()->size();
    const double scale = top->layoutScale();
    // The whole layout fits, and fills the window along one side.
    QVERIFY(layout.width() * scale <= window.width() + 0.5);
    QVERIFY(layout.height() * scale <= window.height() + 0.5);
    QVERIFY(std::abs(layout.width() * scale - window.width()) < 1.0 ||
            std::abs(layout.height() * scale - window.height()) < 1.0);

    // What the window shows, at the device's pixel ratio: the layout, centred in the letterbox.
    QPixmap canvas(window * pixelRatio);
    canvas.setDevicePixelRatio(pixelRatio);
    canvas.fill(Qt::transparent);
    static_cast<QWidget*>(top)->render(&canvas);
    const QImage shown = canvas.toImage();
    const QRectF content((window.width() - layout.width() * scale) / 2.0,
                         (window.height() - layout.height() * scale) / 2.0, layout.width() * scale,
                         layout.height() * scale);
    const QColor letterbox = top->letterboxColor();
    auto at = [&](QPointF point) { return shown.pixelColor((point * pixelRatio).toPoint()); };
    if (content.left() >= 2.0)
        QCOMPARE(at(QPointF(1, window.height() / 2.0)).rgb(), letterbox.rgb());
    if (content.top() >= 2.0)
        QCOMPARE(at(QPointF(window.width() / 2.0, 1)).rgb(), letterbox.rgb());

    // The toolbar (the gauges' Done button) lies wholly inside the window, and it is drawn
    // there: its dark bar, not the letterbox or the skin.
    QWidget* bottom =
        meters ? controls(app).metersView->findChild<QWidget*>(QStringLiteral("closeMeter"))
               : controls(app).toolbar;
    QVERIFY(bottom->isVisible());
    if (!meters) {
        const QRectF bar(content.left() + bottom->x() * scale, content.top() + bottom->y() * scale,
                         bottom->width() * scale, bottom->height() * scale);
        QVERIFY(QRectF(QPointF(0, 0), QSizeF(window)).contains(bar.adjusted(0.5, 0.5, -0.5, -0.5)));
        QVERIFY(at(QPointF(bar.left() + 2, bar.bottom() - 2)).lightness() < 12);
        // The skin reaches the graph screen's far corner, below the last strip, in its colour.
        const QColor skin = controls(app).one->pixmap().toImage().pixelColor(0, 0);
        const QColor corner = at(content.topLeft() + QPointF(316, 425) * scale);
        QVERIFY2(std::abs(corner.red() - skin.red()) + std::abs(corner.green() - skin.green()) +
                         std::abs(corner.blue() - skin.blue()) <=
                     6,
                 qPrintable(corner.name() + QStringLiteral(" for ") + skin.name()));
    }
    // The drawing follows the device scale: nearer 2 than 1, the double-resolution skins.
    QCOMPARE(controls(app).one->pixmap().devicePixelRatio() > 1.0, top->deviceScale() >= 1.5);
}

void FittedWindowTest::graphFramesLeaveNothingBehind_data() {
    QTest::addColumn<QSize>("window");
    QTest::addColumn<bool>("filtered"); // the readouts change with every sample
    QTest::newRow("1x") << QSize(320, 480) << false;
    QTest::newRow("2.17x, maximised") << QSize(1900, 1040) << false;
    QTest::newRow("1.46x, filtered") << QSize(500, 700) << true;
}

// Each frame repaints only the bands the traces reach and the readouts that changed: what the
// window shows after many such frames is what one full repaint of the same readings shows.
void FittedWindowTest::graphFramesLeaveNothingBehind() {
    QFETCH(QSize, window);
    QFETCH(bool, filtered);
    fixture.useStore("[General]\nx=1\ny=1\nz=1\n");
    app::WobblestarAppDelegate app;
    app.applicationDidFinishLaunching();
    FittedWindow* top = app.topLevelWindow();
    QVERIFY(QTest::qWaitForWindowExposed(top));
    top->resize(window);
    app::GraphView* graph = controls(app).graphView;
    // Only the readings below reach the graph.
    sensors::Accelerometer::sharedAccelerometer().setDelegate(nullptr);
    graph->setFilteringEnabled(filtered);
    QTest::qWait(50);
    // A swing on X that dies away, Y beyond full scale, a step on Z, then calm: traces that
    // grow, shrink, leave the strips and come back, a frame every few samples.
    for (int i = 0; i < 400; ++i) {
        const double t = i / 120.0;
        const float x = i < 200 ? float(2.5 * std::exp(-t) * std::sin(12.0 * t)) : 0.01f;
        const float y = i > 40 && i < 90 ? 4.0f : -0.5f;
        const float z = i < 120 ? 1.0f : -1.0f;
        graph->updateHistoryWithX(x, y, z);
        if (i % 3 == 0)
            QTest::qWait(17);
    }
    graph->setUpdatingIsEnabled(false);
    QTest::qWait(50);
    const auto shown = [top] {
        return static_cast<QImage*>(top->backingStore()->paintDevice())->copy();
    };
    const QImage framed = shown();
    top->viewport()->repaint();
    const QImage whole = shown();
    QCOMPARE(framed.size(), whole.size());
    // The graph's pixels; the status bar's clock may have moved on between the two.
    const QRect area = top->viewportTransform()
                           .mapRect(QRectF(graph->geometry()))
                           .toAlignedRect()
                           .intersected(whole.rect());
    int differing = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            differing += framed.pixel(x, y) != whole.pixel(x, y);
    QCOMPARE(differing, 0);
}

void FittedWindowTest::axesHint_data() {
    QTest::addColumn<QByteArray>("store");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<bool>("hint");
    QTest::newRow("first start") << QByteArray() << QStringList() << true;
    QTest::newRow("one axis on") << QByteArray("[General]\nz=1\n") << QStringList() << false;
    QTest::newRow("settings shown") << QByteArray() << QStringList{"settings"} << false;
    QTest::newRow("meters shown") << QByteArray() << QStringList{"meterMenu"} << false;
    QTest::newRow("axis switched on")
        << QByteArray() << QStringList{"settings", "yOn", "back"} << false;
    QTest::newRow("last axis switched off")
        << QByteArray("[General]\nx=1\n") << QStringList{"settings", "xOff", "back"} << true;
}

void FittedWindowTest::axesHint() {
    QFETCH(QByteArray, store);
    QFETCH(QStringList, steps);
    QFETCH(bool, hint);
    fixture.useStore(store);
    app::WobblestarAppDelegate app;
    app.applicationDidFinishLaunching();
    for (const QString& step : steps) {
        if (step == u"yOn")
            controls(app).yAxis->setOn(true);
        else if (step == u"xOff")
            controls(app).xAxis->setOn(false);
        else
            QMetaObject::invokeMethod(&app, step.toLatin1().constData());
    }
    QCOMPARE(app.statusBar()->hint(),
             hint ? QStringLiteral("All axes off: switch them on in Settings") : QString());
    if (!hint)
        return;
    // The bar shows the hint where the source name was, in a colour that reads on black.
    const QImage bar = app.statusBar()->grab().toImage();
    int warm = 0;
    for (int x = 0; x < bar.width() / 2; ++x)
        for (int y = 0; y < bar.height(); ++y) {
            const QColor c = bar.pixelColor(x, y);
            warm += c.red() > 200 && c.green() > 150 && c.blue() < 120;
        }
    QVERIFY(warm > 20);
}

void FittedWindowTest::placementRemembered_data() {
    QTest::addColumn<QByteArray>("store");
    QTest::addColumn<QRect>("restored");
    QTest::addColumn<bool>("fullScreen");
    const QRect first(0, 0, 320, 480);
    QTest::newRow("first start") << QByteArray() << first << false;
    QTest::newRow("remembered") << QByteArray("[windows]\nmain\\geometry=@Rect(40 30 300 450)\n")
                                << QRect(40, 30, 300, 450) << false;
    QTest::newRow("full screen")
        << QByteArray("[windows]\nmain\\geometry=@Rect(40 30 300 450)\nmain\\fullScreen=true\n")
        << QRect(40, 30, 300, 450) << true;
    // The screen it lay on is gone: the window keeps the size it was given.
    QTest::newRow("off every screen")
        << QByteArray("[windows]\nmain\\geometry=@Rect(5000 30 300 450)\nmain\\fullScreen=true\n")
        << first << false;
    QTest::newRow("damaged") << QByteArray("[windows]\nmain\\geometry=wide\n") << first << false;
}

void FittedWindowTest::placementRemembered() {
    QFETCH(QByteArray, store);
    QFETCH(QRect, restored);
    QFETCH(bool, fullScreen);
    fixture.useStore(store);
    QWidget window;
    window.setGeometry(0, 0, 320, 480);
    QCOMPARE(screens::WindowPlacement::restore(&window, QStringLiteral("main")),
             restored != QRect(0, 0, 320, 480));
    QCOMPARE(window.geometry(), restored);
    QCOMPARE(window.isFullScreen(), fullScreen);
    // What is remembered reads back the same; the preferences are not touched.
    window.setGeometry(60, 50, 280, 420);
    screens::WindowPlacement::remember(&window, QStringLiteral("main"));
    QSettings settings;
    QCOMPARE(settings.value(QStringLiteral("windows/main/geometry")).toRect(),
             QRect(60, 50, 280, 420));
    QCOMPARE(settings.childKeys(), QStringList());
}

void FittedWindowTest::logReadsAcross_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("recorded");
    const QString widest = features::RecordingLog::sampleLine(-8.88f, -8.88f, -8.88f);
    const QString header = features::RecordingLog::header(
        QStringLiteral("0.10s"), QDateTime(QDate(2026, 12, 9), QTime(10, 0)));
    QTest::newRow("restored log") << header + widest + widest << QString();
    QTest::newRow("recorded lines") << header << widest + widest + widest;
    // Typed blanks, a tab, a line longer than any the log writes: still not cut, but scrolled.
    QTest::newRow("edited") << header + widest + QStringLiteral("  \t  ") + widest << QString();
}

void FittedWindowTest::logReadsAcross() {
    QFETCH(QString, stored);
    QFETCH(QString, recorded);
    fixture.useStore();
    QSettings().setValue(QStringLiteral("text"), stored);
    const qsizetype widest = features::RecordingLog::sampleLine(-8.88f, -8.88f, -8.88f).size() - 1;
    app::WobblestarAppDelegate app;
    app.applicationDidFinishLaunching();
    QPlainTextEdit* log = controls(app).recordingText;
    if (!recorded.isEmpty())
        features::RecordingLog::appendToView(log, recorded);
    QCoreApplication::processEvents();
    // Laid out as painting lays it out, one line at a time.
    auto* layout = qobject_cast<QPlainTextDocumentLayout*>(log->document()->documentLayout());
    for (QTextBlock block = log->document()->begin(); block.isValid(); block = block.next())
        layout->ensureBlockLayout(block);
    QCoreApplication::processEvents();
    // Only the drawing changes: the text keeps every blank.
    QCOMPARE(log->toPlainText(), stored + recorded);
    // Every sample line on one line, whole within the view beside the vertical bar: X, Y and Z
    // read together.
    const qreal room = log->viewport()->width() - 2.0 * log->document()->documentMargin();
    for (QTextBlock block = log->document()->begin(); block.isValid(); block = block.next()) {
        if (!block.text().startsWith(u"[X]"))
            continue;
        QCOMPARE(block.layout()->lineCount(), 1);
        const qreal width = block.layout()->lineAt(0).naturalTextWidth();
        if (block.text().size() == widest)
            QVERIFY2(width <= room, qPrintable(QStringLiteral("%1 > %2").arg(width).arg(room)));
    }
    if (!stored.contains(u'\t'))
        QCOMPARE(log->horizontalScrollBar()->maximum(), 0);
}

QTEST_MAIN(FittedWindowTest)
#include "tst_fitted_window.moc"
