// The meters screen's needles: tips and passes through the recorder, pixels through QPainter at
// scale 1 and 2, and the skin showing through where a needle stood before.
#include "app/MeterView.h"
#include "drawing/PainterContext.h"
#include "drawing/RecordingContext.h"

#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QScreen>
#include <QTest>
#include <cmath>

using drawing::DrawingCall;
using drawing::RecordingContext;

namespace {

struct Segment {
    QPointF from;
    QPointF to;
};

// The segments of the first (shadow) or second (needle) stroke, in the order they were added.
std::vector<Segment> segmentsOfPass(const RecordingContext& recorder, int pass) {
    std::vector<Segment> segments;
    int strokes = 0;
    QPointF start;
    for (const DrawingCall& call : recorder.calls()) {
        if (call.operation == "strokePath" && ++strokes > pass)
            break;
        if (strokes != pass)
            continue;
        const QPointF p(call.arguments.size() >= 2 ? call.arguments[0] : 0,
                        call.arguments.size() >= 2 ? call.arguments[1] : 0);
        if (call.operation == "moveToPoint")
            start = p;
        else if (call.operation == "addLineToPoint")
            segments.push_back(Segment{start, p});
    }
    return segments;
}

bool near(QPointF a, QPointF b) {
    return std::abs(a.x() - b.x()) < 1e-4 && std::abs(a.y() - b.y()) < 1e-4;
}

} // namespace

class MeterDrawingTest : public QObject {
    Q_OBJECT
private slots:
    void needleTips_data();
    void needleTips();
    void passesInOrder();
    void pixels_data();
    void pixels();
    void oldNeedlesVanish();
    void requestsMergeIntoOnePaintPerFrame();
};

void MeterDrawingTest::needleTips_data() {
    QTest::addColumn<QList<float>>("reading");
    QTest::addColumn<QPointF>("origin");
    QTest::addColumn<QList<QPointF>>("tips"); // X, Y, Z
    const double r3 = 25.0 * std::sqrt(3.0);
    QTest::newRow("at rest, straight up") << QList<float>{0, 0, 0} << QPointF(0, 0)
                                          << QList<QPointF>{{241, 54}, {94, 144}, {386, 144}};
    QTest::newRow("+1 g and -1 g")
        << QList<float>{1, -1, 1} << QPointF(0, 0)
        << QList<QPointF>{{266, 104 - r3}, {69, 194 - r3}, {411, 194 - r3}};
    QTest::newRow("+3 g and -3 g, level with the pivot")
        << QList<float>{3, -3, 3} << QPointF(0, 0)
        << QList<QPointF>{{291, 104}, {44, 194}, {436, 194}};
    QTest::newRow("+6 g, straight down, not limited")
        << QList<float>{6, 6, -6} << QPointF(0, 0)
        << QList<QPointF>{{241, 154}, {94, 244}, {386, 244}};
    QTest::newRow("origin moves everything") << QList<float>{0, 0, 3} << QPointF(10, -20)
                                             << QList<QPointF>{{251, 34}, {104, 124}, {446, 174}};
}

void MeterDrawingTest::needleTips() {
    QFETCH(QList<float>, reading);
    QFETCH(QPointF, origin);
    QFETCH(QList<QPointF>, tips);
    app::MeterView view;
    view.X(reading[0], reading[1], reading[2]);
    RecordingContext recorder;
    view.drawRect(recorder, drawing::Rect{float(origin.x()), float(origin.y()), 480, 320});
    const std::vector<Segment> shadow = segmentsOfPass(recorder, 0);
    const std::vector<Segment> needle = segmentsOfPass(recorder, 1);
    QCOMPARE(shadow.size(), 9u);
    QCOMPARE(needle.size(), 9u);
    const QPointF centres[3] = {{241, 104}, {94, 194}, {386, 194}};
    const double shadowStarts[3] = {5, 1, 3};
    const double needleStarts[3] = {2, -2, 0};
    for (int g = 0; g < 3; ++g) {
        const QPointF c = centres[g] + origin;
        for (int s = 0; s < 3; ++s) {
            const Segment& back = shadow[3 * g + s];
            const Segment& front = needle[3 * g + s];
            QVERIFY2(near(front.to, tips[g]),
                     qPrintable(
                         QString("gauge %1 tip %2,%3").arg(g).arg(front.to.x()).arg(front.to.y())));
            // The shadow is cast 2 points to the right.
            QVERIFY(near(back.to, tips[g] + QPointF(2, 0)));
            QCOMPARE(back.from, c + QPointF(shadowStarts[s], 0));
            QCOMPARE(front.from, c + QPointF(needleStarts[s], 0));
        }
    }
    const auto caps = recorder.callsNamed("fillEllipseInRect");
    QCOMPARE(caps.size(), 6u);
    QCOMPARE(caps[2].arguments, (std::vector<double>{origin.x() + 235, origin.y() + 98, 12, 12}));
    QCOMPARE(caps[5].arguments, (std::vector<double>{origin.x() + 236, origin.y() + 99, 10, 10}));
}

void MeterDrawingTest::passesInOrder() {
    app::MeterView view;
    RecordingContext recorder;
    view.drawRect(recorder, drawing::Rect{0, 0, 480, 320});
    QStringList expected = {"setRGBStrokeColor", "setLineWidth"};
    for (int s = 0; s < 9; ++s)
        expected << "moveToPoint"
                 << "addLineToPoint";
    expected << "strokePath"
             << "setRGBStrokeColor"
             << "setLineWidth";
    for (int s = 0; s < 9; ++s)
        expected << "moveToPoint"
                 << "addLineToPoint";
    expected << "strokePath"
             << "setRGBFillColor"
             << "fillEllipseInRect"
             << "fillEllipseInRect"
             << "fillEllipseInRect"
             << "setRGBFillColor"
             << "fillEllipseInRect"
             << "fillEllipseInRect"
             << "fillEllipseInRect";
    QStringList actual;
    for (const DrawingCall& call : recorder.calls())
        actual << call.operation;
    QCOMPARE(actual, expected);
    const auto strokes = recorder.callsNamed("setRGBStrokeColor");
    QCOMPARE(strokes[0].arguments, (std::vector<double>{0, 0, 0, 1}));
    QCOMPARE(strokes[1].arguments, (std::vector<double>{1, 1, 1, 1}));
    for (const DrawingCall& width : recorder.callsNamed("setLineWidth"))
        QCOMPARE(width.arguments, std::vector<double>{1.5});
    // The caps ask for components of 255; the surface clamps them.
    const auto fills = recorder.callsNamed("setRGBFillColor");
    QCOMPARE(fills[0].arguments, (std::vector<double>{255, 255, 255, 1}));
    QCOMPARE(fills[1].arguments, (std::vector<double>{255, 0, 0, 1}));
    const auto caps = recorder.callsNamed("fillEllipseInRect");
    QCOMPARE(caps[0].arguments, (std::vector<double>{88, 188, 12, 12}));
    QCOMPARE(caps[1].arguments, (std::vector<double>{380, 188, 12, 12}));
    QCOMPARE(caps[3].arguments, (std::vector<double>{89, 189, 10, 10}));
    QCOMPARE(caps[4].arguments, (std::vector<double>{381, 189, 10, 10}));
}

void MeterDrawingTest::pixels_data() {
    QTest::addColumn<qreal>("ratio");
    QTest::addColumn<QPointF>("point");
    QTest::addColumn<QColor>("expected"); // premultiplied over a transparent surface
    // Antialiased edges: a 1-point ring and a slanted 1.5-point wedge never cover a pixel whole.
    QTest::addColumn<int>("tolerance");
    for (qreal ratio : {1.0, 2.0}) {
        const QByteArray r = ratio == 1.0 ? "@1x " : "@2x ";
        QTest::newRow(r + "red cap centre")
            << ratio << QPointF(241.2, 104.2) << QColor(255, 0, 0) << 1;
        QTest::newRow(r + "white ring")
            << ratio << QPointF(246.6, 104.2) << QColor(255, 255, 255) << 16;
        QTest::newRow(r + "white needle")
            << ratio << QPointF(241.2, 79.2) << QColor(255, 255, 255) << (ratio == 1.0 ? 20 : 1);
        QTest::newRow(r + "black shadow right of it")
            << ratio << QPointF(244.2, 79.2) << QColor(0, 0, 0) << 1;
        QTest::newRow(r + "nothing beside")
            << ratio << QPointF(260.2, 79.2) << QColor(0, 0, 0, 0) << 0;
        QTest::newRow(r + "nothing at the X = 1 g place")
            << ratio << QPointF(256.2, 70.2) << QColor(0, 0, 0, 0) << 0;
    }
}

void MeterDrawingTest::pixels() {
    QFETCH(qreal, ratio);
    QFETCH(QPointF, point);
    QFETCH(QColor, expected);
    QFETCH(int, tolerance);
    app::MeterView view;
    view.resize(480, 320);
    QImage image(view.size() * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        drawing::PainterContext context(painter);
        view.drawRect(context, view.bounds());
    }
    const QRgb actual = image.pixel(int(point.x() * ratio), int(point.y() * ratio));
    QVERIFY2(std::abs(qRed(actual) - expected.red()) <= tolerance &&
                 std::abs(qGreen(actual) - expected.green()) <= tolerance &&
                 std::abs(qBlue(actual) - expected.blue()) <= tolerance &&
                 std::abs(qAlpha(actual) - expected.alpha()) <= tolerance,
             qPrintable(QString::number(actual, 16)));
}

void MeterDrawingTest::oldNeedlesVanish() {
    // A skin stand-in behind the view, as on the meters screen.
    QWidget screen;
    screen.resize(480, 320);
    screen.setAutoFillBackground(true);
    QPalette palette = screen.palette();
    palette.setColor(QPalette::Window, QColor(40, 90, 160));
    screen.setPalette(palette);
    app::MeterView view;
    view.setParent(&screen);
    view.resize(480, 320);
    view.setUpdatingIsEnabled(1);
    screen.show();
    QVERIFY(QTest::qWaitForWindowExposed(&screen));

    const QPoint upright(241, 75); // on the needle at 0 g
    const QPoint tilted(255, 80);  // on the needle at +1 g, not at 0 g
    view.X(0, 0, 0);
    // What reached the window's backing store, after the real paint cycle.
    const auto shown = [&] { return screen.screen()->grabWindow(screen.winId()).toImage(); };
    const auto isNeedle = [&](QPoint p) { return qGray(shown().pixel(p)) > 230; };
    QTRY_VERIFY(isNeedle(upright));
    view.X(1, 0, 0);
    QTRY_VERIFY(isNeedle(tilted));
    const QImage after = shown();
    QCOMPARE(after.pixelColor(upright), QColor(40, 90, 160));
}

namespace {
class CountingMeterView : public app::MeterView {
public:
    void drawRect(drawing::DrawingContext& context, drawing::Rect rect) override {
        ++paints;
        app::MeterView::drawRect(context, rect);
    }
    int paints = 0;
};
} // namespace

void MeterDrawingTest::requestsMergeIntoOnePaintPerFrame() {
    CountingMeterView view;
    view.resize(480, 320);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QTRY_VERIFY(view.paints > 0);
    view.paints = 0;
    view.setUpdatingIsEnabled(1);
    QElapsedTimer clock;
    clock.start();
    // 200 samples, each followed by a turn of the event loop, as at a fast sensor rate.
    for (int k = 0; k < 200; ++k) {
        view.X(0.01f * float(k), 0, 0);
        QCoreApplication::processEvents();
    }
    QTRY_VERIFY(view.paints > 0);
    const qreal hz = view.screen()->refreshRate() > 0 ? view.screen()->refreshRate() : 60.0;
    // However fast the loop ran, no more paints than display frames (plus the first at once).
    const int frames = int(clock.elapsed() * hz / 1000.0) + 2;
    QVERIFY2(view.paints <= frames,
             qPrintable(QString("%1 paints in %2 frames").arg(view.paints).arg(frames)));
    QVERIFY(view.paints < 200);
}

QTEST_MAIN(MeterDrawingTest)
#include "tst_meter_drawing.moc"
