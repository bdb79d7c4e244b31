#include "drawing/PainterContext.h"
#include "drawing/RecordingContext.h"

#include <QImage>
#include <QPainter>
#include <QTest>

using platform::Font;
using platform::PainterContext;
using platform::Rect;

class DrawingContextTest : public QObject {
    Q_OBJECT
private slots:
    void fillColoursAreClamped_data();
    void fillColoursAreClamped();
    void strokeFollowsPathThenEmptiesIt();
    void textHangsFromItsPoint();
    void recorderKeepsCallsInOrder();
};

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
        context.drawAtPoint(QStringLiteral("X Axis"), platform::Point{10, 20},
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
    platform::RecordingContext context;
    context.setRGBStrokeColor(1, 0, 0, 1);
    context.moveToPoint(1.5f, 2.5f);
    context.drawAtPoint(QStringLiteral("+3.0"), platform::Point{4, 18}, Font::systemFontOfSize(12));
    QCOMPARE(context.calls().size(), size_t(3));
    QCOMPARE(context.calls()[1].operation, QStringLiteral("moveToPoint"));
    QCOMPARE(context.calls()[1].arguments, (std::vector<double>{1.5, 2.5}));
    QCOMPARE(context.calls()[2].text, QStringLiteral("+3.0"));
    QCOMPARE(context.callsNamed(QStringLiteral("drawAtPoint")).size(), size_t(1));
}

QTEST_MAIN(DrawingContextTest)
#include "tst_drawing_context.moc"
