// The span stroker against QPainter's own antialiased stroke: coverage across and along lines,
// at joins and caps, for steep, level and jagged polylines, at scale 1 and 2, and no write
// outside the image when lines leave it.
#include "drawing/PainterContext.h"
#include "drawing/SpanStroker.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QTest>
#include <cmath>
#include <vector>

using drawing::PixelTarget;
using drawing::SpanStroker;

namespace {

using Polyline = QList<QPointF>;

QPen pen(qreal width, const QColor& colour = Qt::white) {
    return QPen(colour, width, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
}

QImage blank(QSize points, qreal ratio) {
    QImage image(points * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    return image;
}

// QPainter's stroke of the polylines, each its own subpath.
void strokeWithQt(QImage& image, const QList<Polyline>& lines, const QPen& p) {
    QPainterPath path;
    for (const Polyline& line : lines) {
        path.moveTo(line.front());
        for (qsizetype i = 1; i < line.size(); ++i)
            path.lineTo(line[i]);
    }
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.strokePath(path, p);
}

// The span stroker's stroke of the same polylines. Returns whether it drew.
bool strokeWithSpans(QImage& image, const QList<Polyline>& lines, const QPen& p) {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    PixelTarget target;
    if (!PixelTarget::of(painter, &target))
        return false;
    std::vector<QPointF> points;
    std::vector<int> starts;
    for (const Polyline& line : lines) {
        starts.push_back(int(points.size()));
        for (const QPointF& point : line)
            points.push_back(target.map(point));
    }
    return SpanStroker::forThisThread().stroke(target, points, starts, p.widthF() * target.scale,
                                               p.miterLimit(), qPremultiply(p.color().rgba()));
}

struct Difference {
    int largest = 0;         // of one pixel's alpha, in 1/255
    double totalShare = 0.0; // summed alpha difference over Qt's summed alpha
};

Difference compareAlpha(const QImage& qt, const QImage& ours) {
    Difference d;
    double sumQt = 0.0, sumDiff = 0.0;
    for (int y = 0; y < qt.height(); ++y) {
        for (int x = 0; x < qt.width(); ++x) {
            const int a = qAlpha(qt.pixel(x, y));
            const int b = qAlpha(ours.pixel(x, y));
            d.largest = std::max(d.largest, std::abs(a - b));
            sumQt += a;
            sumDiff += b - a;
        }
    }
    d.totalShare = sumQt > 0.0 ? std::abs(sumDiff) / sumQt : 0.0;
    return d;
}

// A jagged trace like a shaken sensor's: 150 points across 320, leaping up and down.
Polyline jagged(qreal top, qreal height) {
    Polyline line;
    quint32 state = 12345;
    for (int n = 0; n < 150; ++n) {
        state = state * 1664525u + 1013904223u;
        const qreal r = (state >> 8) / double(1 << 24);
        line.append(QPointF(n * 320.0 / 149.0, top + r * height));
    }
    return line;
}

} // namespace

class SpanStrokerTest : public QObject {
    Q_OBJECT
private slots:
    void matchesQPainter_data();
    void matchesQPainter();
    void staysInsideTheImage_data();
    void staysInsideTheImage();
    void contextUsesSpansOnlyWhereExact();
    void fillRectMatchesQPainter_data();
    void fillRectMatchesQPainter();
};

void SpanStrokerTest::matchesQPainter_data() {
    QTest::addColumn<QList<Polyline>>("lines");
    QTest::addColumn<qreal>("width");
    // Coverage is estimated from a pixel's distance to the outline, not its exact area; a
    // pixel may differ by a fifth near slanted edges and miter tips, never in total.
    QTest::addColumn<int>("largest");
    QTest::newRow("level, on a pixel edge") << QList<Polyline>{{{10, 20}, {110, 20}}} << 1.0 << 2;
    QTest::newRow("level, between edges") << QList<Polyline>{{{10, 20.3}, {110, 20.3}}} << 2.0 << 3;
    QTest::newRow("steep") << QList<Polyline>{{{40.2, 5}, {45.7, 75}}} << 2.0 << 40;
    QTest::newRow("diagonal") << QList<Polyline>{{{5, 5}, {75, 70}}} << 2.0 << 50;
    QTest::newRow("right-angle join")
        << QList<Polyline>{{{10, 10}, {60, 10.5}, {60.5, 60}}} << 2.0 << 50;
    QTest::newRow("obtuse join") << QList<Polyline>{{{10, 40}, {50, 20}, {90, 40}}} << 2.0 << 50;
    // 40 degrees apart: the miter would run past twice the width and is cut off.
    QTest::newRow("sharp spike, miter cut")
        << QList<Polyline>{{{30, 70}, {40, 10}, {50, 70}}} << 2.0 << 60;
    QTest::newRow("grid lines, several subpaths")
        << QList<Polyline>{{{0, 35}, {320, 35}}, {{0, 53}, {320, 53}}, {{0, 88}, {320, 88}}} << 1.0
        << 2;
    // Where the two flanks of a spike narrower than a pixel or two share pixels, coverage is
    // estimated from distances to each flank and may be off by up to half near the tip.
    QTest::newRow("jagged trace") << QList<Polyline>{jagged(20, 60)} << 2.0 << 115;
}

void SpanStrokerTest::matchesQPainter() {
    QFETCH(QList<Polyline>, lines);
    QFETCH(qreal, width);
    QFETCH(int, largest);
    for (qreal ratio : {1.0, 2.0}) {
        QImage qt = blank(QSize(320, 100), ratio);
        QImage ours = blank(QSize(320, 100), ratio);
        strokeWithQt(qt, lines, pen(width));
        QVERIFY(strokeWithSpans(ours, lines, pen(width)));
        const Difference d = compareAlpha(qt, ours);
        QVERIFY2(d.largest <= largest && d.totalShare < 0.03,
                 qPrintable(QString("@%1x: largest %2, total %3 %")
                                .arg(ratio)
                                .arg(d.largest)
                                .arg(d.totalShare * 100, 0, 'f', 2)));
    }
}

void SpanStrokerTest::staysInsideTheImage_data() {
    QTest::addColumn<Polyline>("line");
    QTest::addColumn<qreal>("width");
    QTest::newRow("through all four edges")
        << Polyline{{-30, 20}, {20, -15}, {70, 60}, {20, 95}, {-5, 40}} << 3.0;
    QTest::newRow("level along the top and bottom rows")
        << Polyline{{-10, 0}, {90, 0}, {90, 80}, {-10, 80}} << 2.0;
    QTest::newRow("wholly outside") << Polyline{{-50, -50}, {-10, -20}, {200, -5}} << 2.0;
    QTest::newRow("spike out of the top") << Polyline{{30, 40}, {35, -400}, {40, 40}} << 2.0;
    QTest::newRow("far away") << Polyline{{-1e5, 30}, {1e5, 35}} << 2.0;
}

void SpanStrokerTest::staysInsideTheImage() {
    QFETCH(Polyline, line);
    QFETCH(qreal, width);
    for (qreal ratio : {1.0, 2.0}) {
        // The image sits inside a larger buffer whose rows are longer than the image's, with
        // guard rows above and below; the guard bytes must survive.
        const QSize pixels = QSize(80, 80) * ratio;
        const int stride = (pixels.width() + 16) * 4;
        const int guardRows = 8;
        constexpr uchar kGuard = 0xA5;
        std::vector<uchar> buffer(std::size_t(stride) * (pixels.height() + 2 * guardRows), kGuard);
        uchar* first = buffer.data() + std::size_t(stride) * guardRows;
        QImage image(first, pixels.width(), pixels.height(), stride,
                     QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::transparent);
        QImage qt = blank(QSize(80, 80), ratio);
        strokeWithQt(qt, {line}, pen(width));
        QVERIFY(strokeWithSpans(image, {line}, pen(width)));

        for (std::size_t i = 0; i < buffer.size(); ++i) {
            const std::ptrdiff_t offset = std::ptrdiff_t(i) - (first - buffer.data());
            const bool insideImage = offset >= 0 &&
                                     offset < std::ptrdiff_t(stride) * pixels.height() &&
                                     offset % stride < pixels.width() * 4;
            if (!insideImage)
                QVERIFY2(buffer[i] == kGuard, qPrintable(QString("byte %1 written").arg(offset)));
        }
        QVERIFY(compareAlpha(qt, image).totalShare < 0.03);
    }
}

void SpanStrokerTest::contextUsesSpansOnlyWhereExact() {
    // Through the drawing context: a plain image gets the span stroker's pixels; a painter with a
    // clip of its own, or three lines meeting at one tip, get QPainter's exactly.
    const Polyline trace = jagged(10, 80);
    const auto viaContext = [&](QImage& image, bool clipped, const QList<Polyline>& lines) {
        QPainter painter(&image);
        if (clipped)
            painter.setClipRect(QRectF(0, 0, 200, 100));
        drawing::PainterContext context(painter);
        context.setRGBStrokeColor(0.0f, 1.0f, 0.0f, 1.0f);
        context.setLineWidth(2.0f);
        context.beginPath();
        for (const Polyline& line : lines) {
            context.moveToPoint(float(line.front().x()), float(line.front().y()));
            for (qsizetype i = 1; i < line.size(); ++i)
                context.addLineToPoint(float(line[i].x()), float(line[i].y()));
        }
        context.strokePath();
    };
    // The context's path is in float; so are these points.
    Polyline rounded;
    for (const QPointF& p : trace) {
        // Through memory, so the optimiser cannot skip the narrowing.
        volatile float x = static_cast<float>(p.x());
        volatile float y = static_cast<float>(p.y());
        rounded.append(QPointF(x, y));
    }
    const QList<Polyline> needles = {
        {{40, 90}, {60, 10}}, {{44, 90}, {60, 10}}, {{48, 90}, {60, 10}}};
    for (qreal ratio : {1.0, 2.0}) {
        QImage context = blank(QSize(320, 100), ratio);
        QImage spans = blank(QSize(320, 100), ratio);
        QVERIFY(strokeWithSpans(spans, {rounded}, pen(2.0, Qt::green)));
        viaContext(context, false, {rounded});
        QCOMPARE(context, spans);

        QImage clipped = blank(QSize(320, 100), ratio);
        QImage qtClipped = blank(QSize(320, 100), ratio);
        viaContext(clipped, true, {rounded});
        {
            QPainter painter(&qtClipped);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setClipRect(QRectF(0, 0, 200, 100));
            QPainterPath path(rounded.front());
            for (qsizetype i = 1; i < rounded.size(); ++i)
                path.lineTo(rounded[i]);
            painter.strokePath(path, pen(2.0, Qt::green));
        }
        QCOMPARE(clipped, qtClipped);

        QImage meeting = blank(QSize(320, 100), ratio);
        QImage qtMeeting = blank(QSize(320, 100), ratio);
        viaContext(meeting, false, needles);
        strokeWithQt(qtMeeting, needles, pen(2.0, Qt::green));
        QCOMPARE(meeting, qtMeeting);
    }
}

void SpanStrokerTest::fillRectMatchesQPainter_data() {
    QTest::addColumn<QRectF>("rect");
    QTest::addColumn<QColor>("colour");
    const QColor strip = QColor::fromRgbF(0.1f, 0.1f, 0.1f, 0.6f);
    QTest::newRow("whole points") << QRectF(0, 18, 320, 105) << strip;
    QTest::newRow("half points") << QRectF(0, 17.5, 320, 105) << strip;
    QTest::newRow("fractional on all sides") << QRectF(3.3, 7.7, 50.2, 0.6) << strip;
    QTest::newRow("opaque, partly outside") << QRectF(-20, 90, 400, 30) << QColor(Qt::red);
    QTest::newRow("one pixel wide, tall, opaque") << QRectF(40, 3.3, 1, 120.4) << QColor(Qt::red);
    QTest::newRow("narrow, fractional sides") << QRectF(40.25, 3.3, 2.5, 120.4) << strip;
}

void SpanStrokerTest::fillRectMatchesQPainter() {
    QFETCH(QRectF, rect);
    QFETCH(QColor, colour);
    for (qreal ratio : {1.0, 2.0}) {
        QImage qt = blank(QSize(320, 140), ratio);
        QImage ours = blank(QSize(320, 140), ratio);
        qt.fill(QColor(120, 60, 20));
        ours.fill(QColor(120, 60, 20));
        {
            QPainter painter(&qt);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.fillRect(rect, colour);
        }
        {
            QPainter painter(&ours);
            painter.setRenderHint(QPainter::Antialiasing);
            PixelTarget target;
            QVERIFY(PixelTarget::of(painter, &target));
            drawing::fillRectAntialiased(
                target, QRectF(target.map(rect.topLeft()), target.map(rect.bottomRight())),
                qPremultiply(colour.rgba()));
        }
        int worst = 0;
        for (int y = 0; y < qt.height(); ++y) {
            for (int x = 0; x < qt.width(); ++x) {
                const QRgb a = qt.pixel(x, y), b = ours.pixel(x, y);
                worst = std::max({worst, std::abs(qRed(a) - qRed(b)),
                                  std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
            }
        }
        QVERIFY2(worst <= 2, qPrintable(QString("@%1x: %2").arg(ratio).arg(worst)));
    }
}

QTEST_MAIN(SpanStrokerTest)
#include "tst_span_stroker.moc"
