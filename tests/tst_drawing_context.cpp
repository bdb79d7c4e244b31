#include "drawing/Layer.h"
#include "drawing/PainterContext.h"
#include "drawing/RecordingContext.h"

#include <QImage>
#include <QPainter>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <vector>

using drawing::Font;
using drawing::PainterContext;
using drawing::Rect;

Q_DECLARE_METATYPE(drawing::Rect)

class DrawingContextTest : public QObject {
    Q_OBJECT
private slots:
    void fillColoursAreClamped_data();
    void fillColoursAreClamped();
    void fillRectsDrawsWhatQPainterDraws_data();
    void fillRectsDrawsWhatQPainterDraws();
    void strokeFollowsPathThenEmptiesIt();
    void textHangsFromItsPoint();
    void recorderKeepsCallsInOrder();
    void savedStateComesBack_data();
    void savedStateComesBack();
    void layerStartsFromTheInitialState_data();
    void layerStartsFromTheInitialState();
    void layerIsDrawnAgainOnlyWhenItsKeyChanges_data();
    void layerIsDrawnAgainOnlyWhenItsKeyChanges();
    void layerLooksAsDrawn_data();
    void layerLooksAsDrawn();
};

namespace {

// A white 1-point line, a red square and an antialiased diagonal, all in the state in force.
void drawProbe(drawing::DrawingContext& context) {
    context.beginPath();
    context.moveToPoint(0, 10.5f);
    context.addLineToPoint(40, 10.5f);
    context.moveToPoint(0, 20);
    context.addLineToPoint(40, 39);
    context.strokePath();
    context.fillRect(Rect{28, 2, 8, 8});
}

QImage drawn(const std::function<void(PainterContext&)>& draw, qreal ratio = 1.0) {
    QImage image(QSize(40, 40) * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::black);
    {
        QPainter painter(&image);
        PainterContext context(painter);
        draw(context);
    }
    return image;
}

} // namespace

void DrawingContextTest::fillColoursAreClamped_data() {
    QTest::addColumn<float>("red");
    QTest::addColumn<float>("green");
    QTest::addColumn<float>("blue");
    QTest::addColumn<QColor>("expected");
    QTest::newRow("255 clamps to white") << 255.0f << 255.0f << 255.0f << QColor(255, 255, 255);
    QTest::newRow("red above 1") << 255.0f << 0.0f << 0.0f << QColor(255, 0, 0);
    QTest::newRow("negative clamps to 0") << -1.0f << 0.5f << 2.0f << QColor(0, 128, 255);
}

void DrawingContextTest::fillColoursAreClamped() {
    QFETCH(float, red);
    QFETCH(float, green);
    QFETCH(float, blue);
    QFETCH(QColor, expected);
    QImage image(40, 40, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        PainterContext context(painter);
        context.setRGBFillColor(red, green, blue, 1.0f);
        context.fillEllipseInRect(Rect{8, 8, 24, 24});
    }
    const QColor centre = image.pixelColor(20, 20);
    QVERIFY2(std::abs(centre.red() - expected.red()) <= 1 &&
                 std::abs(centre.green() - expected.green()) <= 1 &&
                 std::abs(centre.blue() - expected.blue()) <= 1,
             qPrintable(centre.name()));
    QCOMPARE(image.pixelColor(2, 2).alpha(), 0); // outside the ellipse
}

void DrawingContextTest::fillRectsDrawsWhatQPainterDraws_data() {
    QTest::addColumn<qreal>("ratio");
    QTest::addColumn<bool>("antialiasing");
    QTest::addColumn<float>("alpha");
    QTest::newRow("1x, opaque bars") << 1.0 << true << 1.0f;
    QTest::newRow("1x, translucent") << 1.0 << true << 0.6f;
    QTest::newRow("1.5x, opaque bars") << 1.5 << true << 1.0f;
    QTest::newRow("without antialiasing") << 1.0 << false << 1.0f;
}

void DrawingContextTest::fillRectsDrawsWhatQPainterDraws() {
    QFETCH(qreal, ratio);
    QFETCH(bool, antialiasing);
    QFETCH(float, alpha);
    // Bars one point wide with fractional ends, a wider strip, one partly and one far outside.
    const std::vector<Rect> rects = {{3, 2.3f, 1, 30.4f},     {4, 6, 1, 0.5f}, {5, 12.7f, 1, 2},
                                     {12.25f, 1, 3.5f, 6.5f}, {-5, 35, 50, 9}, {1e7f, 1e7f, 4, 4}};
    const QImage ours = drawn(
        [&](PainterContext& context) {
            context.setAllowsAntialiasing(antialiasing);
            context.setRGBFillColor(1, 0.5f, 0, alpha);
            context.fillRects(rects);
        },
        ratio);
    const QColor colour = QColor::fromRgbF(1, 0.5f, 0, alpha);
    QImage qt = drawn([](PainterContext&) {}, ratio);
    {
        QPainter painter(&qt);
        painter.setRenderHint(QPainter::Antialiasing, antialiasing);
        for (const Rect& r : rects)
            painter.fillRect(QRectF(r.x, r.y, r.width, r.height), colour);
    }
    QVERIFY(ours != drawn([](PainterContext&) {}, ratio));
    // Coverage is rounded to 1/255 steps a little differently from Qt's.
    int worst = 0;
    for (int y = 0; y < qt.height(); ++y) {
        for (int x = 0; x < qt.width(); ++x) {
            const QRgb a = qt.pixel(x, y), b = ours.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                              std::abs(qBlue(a) - qBlue(b))});
        }
    }
    QVERIFY2(worst <= 2, qPrintable(QString::number(worst)));
}

void DrawingContextTest::strokeFollowsPathThenEmptiesIt() {
    QImage image(40, 40, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    {
        QPainter painter(&image);
        PainterContext context(painter);
        context.setGrayStrokeColor(1.0f, 1.0f);
        context.setLineWidth(2.0f);
        context.beginPath();
        context.moveToPoint(0, 10);
        context.addLineToPoint(40, 10);
        context.strokePath();
        // The path was emptied: stroking again draws nothing new.
        context.setRGBStrokeColor(1.0f, 0.0f, 0.0f, 1.0f);
        context.strokePath();
    }
    QCOMPARE(image.pixelColor(20, 9), QColor(Qt::white));
    QCOMPARE(image.pixelColor(20, 10), QColor(Qt::white));
    QCOMPARE(image.pixelColor(20, 20), QColor(Qt::black));
}

void DrawingContextTest::textHangsFromItsPoint() {
    QImage image(120, 60, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    {
        QPainter painter(&image);
        PainterContext context(painter);
        context.setGrayFillColor(1.0f, 1.0f);
        context.drawAtPoint(QStringLiteral("X Axis"), drawing::Point{10, 20},
                            Font::systemFontOfSize(12));
    }
    int top = image.height(), left = image.width();
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) > 64) {
                top = std::min(top, y);
                left = std::min(left, x);
            }
    // The glyphs lie below and right of the point, their top within a few pixels of it.
    QVERIFY2(top >= 20 && top <= 26, qPrintable(QString::number(top)));
    QVERIFY2(left >= 10 && left <= 13, qPrintable(QString::number(left)));
}

void DrawingContextTest::recorderKeepsCallsInOrder() {
    drawing::RecordingContext context;
    context.setRGBStrokeColor(1, 0, 0, 1);
    context.moveToPoint(1.5f, 2.5f);
    context.drawAtPoint(QStringLiteral("+3.0"), drawing::Point{4, 18}, Font::systemFontOfSize(12));
    QCOMPARE(context.calls().size(), size_t(3));
    QCOMPARE(context.calls()[1].operation, QStringLiteral("moveToPoint"));
    QCOMPARE(context.calls()[1].arguments, (std::vector<double>{1.5, 2.5}));
    QCOMPARE(context.calls()[2].text, QStringLiteral("+3.0"));
    QCOMPARE(context.callsNamed(QStringLiteral("drawAtPoint")).size(), size_t(1));
}

void DrawingContextTest::savedStateComesBack_data() {
    QTest::addColumn<int>("change");
    QTest::newRow("line width") << 0;
    QTest::newRow("stroke colour") << 1;
    QTest::newRow("fill colour") << 2;
    QTest::newRow("antialiasing") << 3;
    QTest::newRow("all, in two nested scopes") << 4;
    QTest::newRow("restore with nothing saved") << 5;
}

void DrawingContextTest::savedStateComesBack() {
    QFETCH(int, change);
    const auto setUp = [](PainterContext& context) {
        context.setGrayStrokeColor(1.0f, 1.0f);
        context.setRGBFillColor(1.0f, 0.0f, 0.0f, 1.0f);
    };
    const QImage expected = drawn([&](PainterContext& context) {
        setUp(context);
        drawProbe(context);
    });
    const QImage actual = drawn([&](PainterContext& context) {
        setUp(context);
        if (change == 5) {
            context.restoreGState();
        } else {
            const drawing::GStateSaver outer(context);
            if (change == 0 || change == 4)
                context.setLineWidth(6.0f);
            if (change == 1 || change == 4)
                context.setRGBStrokeColor(0.0f, 1.0f, 0.0f, 1.0f);
            if (change == 4) {
                const drawing::GStateSaver inner(context);
                context.setLineWidth(3.0f);
            }
            if (change == 2 || change == 4)
                context.setGrayFillColor(0.5f, 0.5f);
            if (change == 3 || change == 4)
                context.setAllowsAntialiasing(false);
        }
        drawProbe(context);
    });
    QCOMPARE(actual, expected);
}

void DrawingContextTest::layerStartsFromTheInitialState_data() {
    QTest::addColumn<bool>("cached");
    QTest::newRow("cached") << true;
    QTest::newRow("drawn every time") << false;
}

void DrawingContextTest::layerStartsFromTheInitialState() {
    QFETCH(bool, cached);
    drawing::Layer layer;
    const QImage image = drawn([&](PainterContext& context) {
        context.setCachesLayers(cached);
        context.setRGBStrokeColor(1.0f, 0.0f, 0.0f, 1.0f);
        context.setLineWidth(6.0f);
        // Black on black would not show: the content fills its own background.
        context.drawLayer(layer, Rect{0, 0, 40, 40}, Rect{0, 0, 40, 20},
                          [](drawing::DrawingContext& content) {
                              content.setGrayFillColor(1.0f, 1.0f);
                              content.fillRect(Rect{0, 0, 40, 20});
                              content.beginPath();
                              content.moveToPoint(0, 10.5f);
                              content.addLineToPoint(40, 10.5f);
                              content.strokePath();
                          });
        // And the state before the layer is in force again.
        context.beginPath();
        context.moveToPoint(0, 30.5f);
        context.addLineToPoint(40, 30.5f);
        context.strokePath();
    });
    // Black and 1 point wide inside the layer; red and 6 points wide after it.
    QCOMPARE(image.pixelColor(20, 10), QColor(Qt::black));
    QCOMPARE(image.pixelColor(20, 9), QColor(Qt::white));
    QCOMPARE(image.pixelColor(20, 28), QColor(Qt::red));
    QCOMPARE(image.pixelColor(20, 32), QColor(Qt::red));
}

void DrawingContextTest::layerIsDrawnAgainOnlyWhenItsKeyChanges_data() {
    QTest::addColumn<Rect>("frame");
    QTest::addColumn<Rect>("bounds");
    QTest::addColumn<qreal>("ratio");
    QTest::addColumn<bool>("cached");
    QTest::addColumn<int>("drawings");
    const Rect frame{0, 0, 40, 40};
    const Rect bounds{0, 10, 40, 20};
    QTest::newRow("same key") << frame << bounds << 1.0 << true << 1;
    QTest::newRow("other bounds") << frame << Rect{0, 12, 40, 20} << 1.0 << true << 2;
    QTest::newRow("other frame") << Rect{0, 0, 40, 30} << bounds << 1.0 << true << 2;
    QTest::newRow("other pixel ratio") << frame << bounds << 2.0 << true << 2;
    QTest::newRow("caching off") << frame << bounds << 1.0 << false << 2;
}

void DrawingContextTest::layerIsDrawnAgainOnlyWhenItsKeyChanges() {
    QFETCH(Rect, frame);
    QFETCH(Rect, bounds);
    QFETCH(qreal, ratio);
    QFETCH(bool, cached);
    QFETCH(int, drawings);
    drawing::Layer layer;
    int calls = 0;
    const auto frameWith = [&](Rect layerFrame, Rect layerBounds, qreal pixelRatio) {
        return drawn(
            [&](PainterContext& context) {
                context.setCachesLayers(cached);
                context.drawLayer(layer, layerFrame, layerBounds,
                                  [&](drawing::DrawingContext& content) {
                                      ++calls;
                                      content.setGrayFillColor(1.0f, 1.0f);
                                      content.fillRect(layerBounds);
                                  });
            },
            pixelRatio);
    };
    frameWith(Rect{0, 0, 40, 40}, Rect{0, 10, 40, 20}, 1.0);
    const QImage second = frameWith(frame, bounds, ratio);
    QCOMPARE(calls, drawings);
    // Whether drawn or composited, the second frame shows the second bounds.
    const int top = static_cast<int>(bounds.y * ratio);
    QCOMPARE(second.pixelColor(4, top), QColor(Qt::white));
    QCOMPARE(second.pixelColor(4, top - 1), QColor(Qt::black));
}

void DrawingContextTest::layerLooksAsDrawn_data() {
    QTest::addColumn<qreal>("scale");
    QTest::addColumn<QPointF>("offset");
    QTest::newRow("1x") << 1.0 << QPointF(0, 0);
    QTest::newRow("2x") << 2.0 << QPointF(0, 0);
    QTest::newRow("1.5x, off the pixel grid") << 1.5 << QPointF(0.3, 0.7);
    QTest::newRow("a maximised window's scale") << 2.1666667 << QPointF(603, 0.4);
}

void DrawingContextTest::layerLooksAsDrawn() {
    QFETCH(qreal, scale);
    QFETCH(QPointF, offset);
    drawing::Layer layer;
    // The same frame, composited from the layer (the second time) or drawn as vectors.
    auto frame = [&](bool cached) {
        QImage image(QSize(60, 60) * 3, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::black);
        QPainter painter(&image);
        painter.translate(offset.x() - std::floor(offset.x()), offset.y());
        painter.scale(scale, scale);
        PainterContext context(painter);
        context.setCachesLayers(cached);
        context.drawLayer(layer, Rect{5, 5, 50, 50}, Rect{5, 10, 50, 30},
                          [](drawing::DrawingContext& content) {
                              content.setGrayStrokeColor(1.0f, 1.0f);
                              content.beginPath();
                              content.moveToPoint(5, 20.5f);
                              content.addLineToPoint(55, 20.5f);
                              content.strokePath();
                              content.drawAtPoint(QStringLiteral("+1.0"), {8, 22},
                                                  drawing::Font::systemFontOfSize(12.0f));
                          });
        return image;
    };
    frame(true);
    const QImage composited = frame(true);
    const QImage drawn = frame(false);
    int worst = 0;
    for (int y = 0; y < drawn.height(); ++y)
        for (int x = 0; x < drawn.width(); ++x) {
            const QRgb a = composited.pixel(x, y), b = drawn.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                              std::abs(qBlue(a) - qBlue(b))});
        }
    QVERIFY2(worst <= 1, qPrintable(QString::number(worst)));
}

QTEST_MAIN(DrawingContextTest)
#include "tst_drawing_context.moc"
