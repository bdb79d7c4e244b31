// The graph screen's drawing: strips, traces, labels and readout through the recorder, a few
// pixels through QPainter at scale 1 and 2, and the cached layers against plain drawing.
#include "app/GraphView.h"
#include "drawing/PainterContext.h"
#include "drawing/RecordingContext.h"

#include <QImage>
#include <QPainter>
#include <QTest>
#include <cmath>
#include <vector>

using drawing::DrawingCall;
using drawing::RecordingContext;

namespace {

class QuietGraphView : public app::GraphView {
public:
    void setNeedsDisplay() override {}
};

// One stroke as it reached the context: the colour and width in force and its points.
struct Stroke {
    std::vector<double> colour;
    double width = 1.0;
    std::vector<QPointF> points;
};

struct Strip {
    std::vector<double> background; // fillRect
    std::vector<Stroke> strokes;    // grid, zero line, edges, trace
    std::vector<DrawingCall> texts; // labels, then the axis name
};

// Splits drawRect()'s calls into strips (each starts with its background fill) and the readout.
// Follows the graphics state as a context keeps it: saved and restored, and initial (black,
// width 1) inside a layer.
std::vector<Strip> stripsOf(const RecordingContext& recorder) {
    struct State {
        std::vector<double> colour;
        double width = 1.0;
    };
    std::vector<Strip> strips;
    std::vector<double> colour;
    double width = 1.0;
    std::vector<State> saved;
    Stroke current;
    for (const DrawingCall& call : recorder.calls()) {
        if (call.operation == "saveGState" || call.operation == "beginLayer") {
            saved.push_back(State{colour, width});
            if (call.operation == "beginLayer") {
                colour = {0.0, 0.0, 0.0, 1.0};
                width = 1.0;
            }
        } else if (call.operation == "restoreGState" || call.operation == "endLayer") {
            colour = saved.back().colour;
            width = saved.back().width;
            saved.pop_back();
        } else if (call.operation == "fillRect") {
            strips.push_back(Strip{call.arguments, {}, {}});
        } else if (call.operation == "setGrayStrokeColor" ||
                   call.operation == "setRGBStrokeColor") {
            colour = call.arguments;
        } else if (call.operation == "setLineWidth") {
            width = call.arguments[0];
        } else if (call.operation == "moveToPoint" || call.operation == "addLineToPoint") {
            current.points.emplace_back(call.arguments[0], call.arguments[1]);
        } else if (call.operation == "strokePath") {
            current.colour = colour;
            current.width = width;
            strips.back().strokes.push_back(current);
            current = Stroke{};
        } else if (call.operation == "drawAtPoint") {
            strips.back().texts.push_back(call);
        }
    }
    return strips;
}

RecordingContext record(app::GraphView& view) {
    RecordingContext recorder;
    view.drawRect(recorder, view.bounds());
    return recorder;
}

QImage render(app::GraphView& view, qreal ratio, bool cached) {
    QImage image((view.size() * ratio), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    // A skin stand-in with texture, so translucent parts must blend correctly.
    {
        QPainter painter(&image);
        QLinearGradient gradient(0, 0, view.width(), view.height());
        gradient.setColorAt(0, QColor(120, 60, 20));
        gradient.setColorAt(1, QColor(20, 80, 140));
        painter.fillRect(QRectF(0, 0, view.width(), view.height()), gradient);
        drawing::PainterContext context(painter);
        context.setCachesLayers(cached);
        view.drawRect(context, view.bounds());
    }
    return image;
}

int largestChannelDifference(const QImage& a, const QImage& b) {
    int worst = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto* ra = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const auto* rb = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            worst = std::max({worst, std::abs(qRed(ra[x]) - qRed(rb[x])),
                              std::abs(qGreen(ra[x]) - qGreen(rb[x])),
                              std::abs(qBlue(ra[x]) - qBlue(rb[x])),
                              std::abs(qAlpha(ra[x]) - qAlpha(rb[x]))});
        }
    }
    return worst;
}

} // namespace

class GraphDrawingTest : public QObject {
    Q_OBJECT
private slots:
    void stripLayout_data();
    void stripLayout();
    void labels_data();
    void labels();
    void trace_data();
    void trace();
    void traceStartsAtNextIndex();
    void callOrder();
    void readout_data();
    void readout();
    void unknownAxisDrawsNothing();
    void pixels_data();
    void pixels();
    void cachedLayersMatchPlainDrawing_data();
    void cachedLayersMatchPlainDrawing();
};

void GraphDrawingTest::stripLayout_data() {
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("axis");
    QTest::addColumn<QRectF>("strip");
    QTest::addColumn<QList<double>>("grid");
    QTest::addColumn<double>("zero");
    // 52.5 and 87.5 round away from zero, up to 53 and 88.
    QTest::newRow("420 high, X") << QSize(320, 420) << 0 << QRectF(0, 17.5, 320, 105)
                                 << QList<double>{35, 53, 88, 105} << 70.0;
    QTest::newRow("420 high, Y") << QSize(320, 420) << 1 << QRectF(0, 157.5, 320, 105)
                                 << QList<double>{175, 193, 228, 245} << 210.0;
    QTest::newRow("420 high, Z") << QSize(320, 420) << 2 << QRectF(0, 297.5, 320, 105)
                                 << QList<double>{315, 333, 368, 385} << 350.0;
    QTest::newRow("416 high, Y") << QSize(320, 416) << 1 << QRectF(0, 156, 320, 104)
                                 << QList<double>{173, 191, 225, 243} << 208.0;
    QTest::newRow("416 high, X") << QSize(320, 416) << 0 << QRectF(0, 52.0 / 3.0, 320, 104)
                                 << QList<double>{35, 52, 87, 104} << 69.0;
}

void GraphDrawingTest::stripLayout() {
    QFETCH(QSize, size);
    QFETCH(int, axis);
    QFETCH(QRectF, strip);
    QFETCH(QList<double>, grid);
    QFETCH(double, zero);
    QuietGraphView view;
    view.resize(size);
    const Strip s = stripsOf(record(view)).at(axis);
    QCOMPARE(s.background.size(), 4u);
    // Laid out in float: 52/3 comes out as 17.333336, close to but not the nearest float.
    QCOMPARE(s.background[0], strip.x());
    QVERIFY(std::abs(s.background[1] - strip.y()) < 1e-5);
    QCOMPARE(s.background[2], strip.width());
    QCOMPARE(s.background[3], strip.height());

    QCOMPARE(s.strokes.size(), 4u);
    const Stroke& gridStroke = s.strokes[0];
    QCOMPARE(gridStroke.colour, (std::vector<double>{1.0, 1.0}));
    QCOMPARE(gridStroke.points.size(), 8u);
    for (int k = 0; k < 4; ++k) {
        QCOMPARE(gridStroke.points[2 * k], QPointF(0, grid[k]));
        QCOMPARE(gridStroke.points[2 * k + 1], QPointF(320, grid[k]));
    }
    QCOMPARE(s.strokes[1].colour, (std::vector<double>{1.0, 1.0}));
    QCOMPARE(s.strokes[1].points, (std::vector<QPointF>{{0, zero}, {320, zero}}));
    // Edges lie on the strip's exact top and bottom, unrounded, in dark grey.
    const double top = s.background[1];
    const double bottom = double(float(top) + float(strip.height()));
    QCOMPARE(s.strokes[2].colour, (std::vector<double>{0.25, 1.0}));
    QCOMPARE(s.strokes[2].points,
             (std::vector<QPointF>{{0, top}, {320, top}, {0, bottom}, {320, bottom}}));
}

void GraphDrawingTest::labels_data() {
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("axis");
    QTest::addColumn<QList<double>>("tops");
    QTest::addColumn<QPointF>("namePoint");
    QTest::addColumn<QString>("name");
    QTest::newRow("420 high, X") << QSize(320, 420) << 0 << QList<double>{18, 35, 53, 73, 91, 108}
                                 << QPointF(280, 54) << "X Axis";
    QTest::newRow("416 high, Y") << QSize(320, 416) << 1
                                 << QList<double>{156, 173, 191, 211, 228, 246} << QPointF(280, 192)
                                 << "Y Axis";
    QTest::newRow("narrow, Z") << QSize(200, 420) << 2
                               << QList<double>{298, 315, 333, 353, 371, 388} << QPointF(160, 334)
                               << "Z Axis";
}

void GraphDrawingTest::labels() {
    QFETCH(QSize, size);
    QFETCH(int, axis);
    QFETCH(QList<double>, tops);
    QFETCH(QPointF, namePoint);
    QFETCH(QString, name);
    QuietGraphView view;
    view.resize(size);
    const Strip s = stripsOf(record(view)).at(axis);
    const QStringList texts = {"+3.0", "+2.0", "+1.0", "-1.0", "-2.0", "-3.0"};
    QCOMPARE(s.texts.size(), 7u);
    for (int i = 0; i < 6; ++i) {
        QCOMPARE(s.texts[i].text, texts[i]);
        QCOMPARE(s.texts[i].arguments, (std::vector<double>{4.0, tops[i], 12.0}));
    }
    QCOMPARE(s.texts[6].text, name);
    QCOMPARE(s.texts[6].arguments, (std::vector<double>{namePoint.x(), namePoint.y(), 12.0}));
}

void GraphDrawingTest::trace_data() {
    QTest::addColumn<QList<float>>("samples"); // X values, oldest first, ending the history
    QTest::addColumn<int>("axis");
    QTest::addColumn<QList<double>>("expectedYs"); // of the newest points, oldest first
    QTest::addColumn<QList<double>>("colour");
    // Strip X of a 320 x 420 view: mid 70, h 105.
    QTest::newRow("new view is flat on the middle")
        << QList<float>{} << 0 << QList<double>{70, 70, 70} << QList<double>{1, 0, 0, 1};
    QTest::newRow("+1 g and -1 g") << QList<float>{1.0f, -1.0f} << 0
                                   << QList<double>{70, 52.5, 87.5} << QList<double>{1, 0, 0, 1};
    QTest::newRow("beyond 3 g, unclipped")
        << QList<float>{4.5f, -6.0f} << 0 << QList<double>{70, 17.5 - 105.0 / 4.0, 175}
        << QList<double>{1, 0, 0, 1};
    QTest::newRow("Y is green") << QList<float>{} << 1 << QList<double>{210, 210, 210}
                                << QList<double>{0, 1, 0, 1};
    // A light blue, which stands out from the dark strip.
    QTest::newRow("Z is blue") << QList<float>{} << 2 << QList<double>{350, 350, 350}
                               << QList<double>{74.0f / 255.0f, 140.0f / 255.0f, 1, 1};
}

void GraphDrawingTest::trace() {
    QFETCH(QList<float>, samples);
    QFETCH(int, axis);
    QFETCH(QList<double>, expectedYs);
    QFETCH(QList<double>, colour);
    QuietGraphView view;
    view.resize(320, 420);
    for (float s : samples)
        view.updateHistoryWithX(s, 0.0f, 0.0f);
    const Stroke trace = stripsOf(record(view)).at(axis).strokes.at(3);
    QCOMPARE(trace.colour, std::vector<double>(colour.begin(), colour.end()));
    QCOMPARE(trace.width, 2.0);
    QCOMPARE(trace.points.size(), 150u);
    // 149 intervals: the oldest point on the left edge, the newest on the right edge.
    for (int n = 0; n < 150; ++n)
        QVERIFY2(std::abs(trace.points[n].x() - n * 320.0 / 149.0) < 1e-4,
                 qPrintable(QString::number(n)));
    QCOMPARE(trace.points.front().x(), 0.0);
    QCOMPARE(trace.points.back().x(), 320.0);
    for (int i = 0; i < expectedYs.size(); ++i) {
        const double y = trace.points[150 - expectedYs.size() + i].y();
        QVERIFY2(std::abs(y - expectedYs[i]) < 1e-4, qPrintable(QString::number(y)));
    }
}

void GraphDrawingTest::traceStartsAtNextIndex() {
    QuietGraphView view;
    view.resize(320, 420);
    // 187 samples leave the write position at 37; each sample's value tells its number.
    for (int k = 0; k < 187; ++k)
        view.updateHistoryWithX(0.01f * static_cast<float>(k % 150), 0.0f, 0.0f);
    QCOMPARE(view.nextSlot(), 37u);
    const Stroke trace = stripsOf(record(view)).at(0).strokes.at(3);
    for (std::uint32_t n = 0; n < 150; ++n) {
        const double s = view.historyValue((37 + n) % 150, 0);
        const double expected = 70.0 - s / 3.0 * 52.5;
        QVERIFY2(std::abs(trace.points[n].y() - expected) < 1e-4, qPrintable(QString::number(n)));
    }
    // Leftmost slot 37 (written 150 samples ago), rightmost slot 36 (the newest).
    QCOMPARE(view.historyValue(37, 0), double(0.01f * 37));
    QCOMPARE(view.historyValue(36, 0), double(0.01f * 36));
}

void GraphDrawingTest::callOrder() {
    QuietGraphView view;
    view.resize(320, 420);
    const RecordingContext recorder = record(view);
    // Per strip: background, the grid layer, the trace in a saved state, the label layer.
    QStringList strip = {"setGrayFillColor", "fillRect", "beginLayer", "setGrayStrokeColor",
                         "beginPath"};
    for (int k = 0; k < 4; ++k)
        strip << "moveToPoint"
              << "addLineToPoint";
    strip << "strokePath"
          << "setGrayStrokeColor"
          << "beginPath"
          << "moveToPoint"
          << "addLineToPoint"
          << "strokePath"
          << "setGrayStrokeColor"
          << "beginPath"
          << "moveToPoint"
          << "addLineToPoint"
          << "moveToPoint"
          << "addLineToPoint"
          << "strokePath"
          << "endLayer"
          << "saveGState"
          << "setRGBStrokeColor"
          << "beginPath"
          << "moveToPoint";
    for (int n = 1; n < 150; ++n)
        strip << "addLineToPoint";
    strip << "setLineWidth"
          << "strokePath"
          << "restoreGState"
          << "beginLayer"
          << "setGrayFillColor";
    for (int t = 0; t < 7; ++t)
        strip << "drawAtPoint";
    strip << "endLayer";
    QStringList expected = {"setAllowsAntialiasing"};
    expected << strip << strip << strip << "setColor"
             << "drawInRect"
             << "drawInRect"
             << "drawInRect";
    QStringList actual;
    for (const DrawingCall& call : recorder.calls())
        actual << call.operation;
    QCOMPARE(actual, expected);
    QCOMPARE(recorder.calls().front().arguments, std::vector<double>{1.0});
    // The trace alone is 2 points wide; the width is back to 1 after it.
    const auto widths = recorder.callsNamed("setLineWidth");
    QCOMPARE(widths.size(), std::size_t(3));
    QCOMPARE(widths[0].arguments, std::vector<double>{2.0});
    // Each layer covers the whole view and is keyed by its strip.
    const auto layers = recorder.callsNamed("beginLayer");
    QCOMPARE(layers.size(), std::size_t(6));
    QCOMPARE(layers[0].arguments, (std::vector<double>{0, 0, 320, 420, 0, 17.5, 320, 105}));
    QCOMPARE(layers[5].arguments, (std::vector<double>{0, 0, 320, 420, 0, 297.5, 320, 105}));
    QCOMPARE(recorder.callsNamed("setGrayFillColor")[0].arguments,
             (std::vector<double>{double(0.1f), double(0.6f)}));
    QCOMPARE(recorder.callsNamed("setGrayFillColor")[1].arguments, (std::vector<double>{1.0, 1.0}));
    QCOMPARE(recorder.callsNamed("setColor")[0].arguments, (std::vector<double>{1, 1, 1, 1}));
}

void GraphDrawingTest::readout_data() {
    QTest::addColumn<bool>("filtering");
    QTest::addColumn<QList<float>>("sample"); // one sample after switching the filter
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("filter off") << false << QList<float>{0.5f, -1.0f, 0.98f}
                                << QStringList{"G-Force X: +0.00", "G-Force Y: +0.00",
                                               "G-Force Z: +0.00"};
    QTest::newRow("one sample (0, -1, 0)")
        << true << QList<float>{0.0f, -1.0f, 0.0f}
        << QStringList{"G-Force X: +0.00", "G-Force Y: -0.10", "G-Force Z: +0.00"};
    QTest::newRow("two digits, negative zero")
        << true << QList<float>{125.0f, -0.001f, -125.0f}
        << QStringList{"G-Force X: +12.50", "G-Force Y: -0.00", "G-Force Z: -12.50"};
}

void GraphDrawingTest::readout() {
    QFETCH(bool, filtering);
    QFETCH(QList<float>, sample);
    QFETCH(QStringList, lines);
    QuietGraphView view;
    view.resize(320, 420);
    view.setFilteringEnabled(filtering);
    view.updateHistoryWithX(sample[0], sample[1], sample[2]);
    const auto texts = record(view).callsNamed("drawInRect");
    QCOMPARE(texts.size(), 3u);
    for (int a = 0; a < 3; ++a) {
        QCOMPARE(texts[a].text, lines[a]);
        // Fixed rectangles 140 apart, 14-point font, word wrap, left aligned.
        QCOMPARE(texts[a].arguments,
                 (std::vector<double>{110, 106.0 + 140 * a, 150, 130, 14, 0, 0}));
    }
}

void GraphDrawingTest::unknownAxisDrawsNothing() {
    QuietGraphView view;
    RecordingContext recorder;
    view.drawHistory(3, 0, recorder, drawing::Rect{0, 0, 320, 105});
    view.drawHistory(0xFFFFFFFFu, 0, recorder, drawing::Rect{0, 0, 320, 105});
    QVERIFY(recorder.calls().empty());
}

void GraphDrawingTest::pixels_data() {
    QTest::addColumn<qreal>("ratio");
    QTest::addColumn<QPointF>("point"); // in points
    QTest::addColumn<QColor>("expected");
    QTest::addColumn<int>("tolerance");
    // Over black, the background is grey 0.1 at alpha 0.6: 15 of 255.
    const QColor strip(15, 15, 15);
    for (qreal ratio : {1.0, 2.0}) {
        const QByteArray r = ratio == 1.0 ? "@1x " : "@2x ";
        QTest::newRow(r + "strip background") << ratio << QPointF(200.5, 62.5) << strip << 1;
        QTest::newRow(r + "gap between strips is untouched")
            << ratio << QPointF(200.5, 140.5) << QColor(0, 0, 0) << 0;
        // A 2-point red trace at +1.5 g covers y 42.75..44.75.
        QTest::newRow(r + "trace") << ratio << QPointF(200.5, 43.9) << QColor(255, 0, 0) << 1;
        QTest::newRow(r + "above the trace") << ratio << QPointF(200.5, 41.5) << strip << 1;
    }
    // A 1-point line on a whole point covers two device rows fully at 2x, and two pixel rows
    // half each at 1x (antialiased, never snapped).
    QTest::newRow("@2x grid line at +2 g")
        << 2.0 << QPointF(200.25, 35.25) << QColor(Qt::white) << 0;
    QTest::newRow("@2x zero line") << 2.0 << QPointF(200.25, 69.75) << QColor(Qt::white) << 0;
    QTest::newRow("@1x grid line, half covered")
        << 1.0 << QPointF(200.5, 35.5) << QColor(135, 135, 135) << 3;
    QTest::newRow("@1x zero line, half covered")
        << 1.0 << QPointF(200.5, 69.5) << QColor(135, 135, 135) << 3;
}

void GraphDrawingTest::pixels() {
    QFETCH(qreal, ratio);
    QFETCH(QPointF, point);
    QFETCH(QColor, expected);
    QFETCH(int, tolerance);
    for (bool cached : {false, true}) {
        QuietGraphView view;
        view.resize(320, 420);
        for (int k = 0; k < 150; ++k)
            view.updateHistoryWithX(1.5f, 0.0f, 0.0f);
        QImage image(view.size() * ratio, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::black);
        {
            QPainter painter(&image);
            drawing::PainterContext context(painter);
            context.setCachesLayers(cached);
            view.drawRect(context, view.bounds());
        }
        const QColor actual = image.pixelColor(int(point.x() * ratio), int(point.y() * ratio));
        QVERIFY2(std::abs(actual.red() - expected.red()) <= tolerance &&
                     std::abs(actual.green() - expected.green()) <= tolerance &&
                     std::abs(actual.blue() - expected.blue()) <= tolerance,
                 qPrintable(QString("%1 cached %2").arg(actual.name()).arg(cached)));
    }
}

void GraphDrawingTest::cachedLayersMatchPlainDrawing_data() {
    QTest::addColumn<qreal>("ratio");
    QTest::addColumn<QSize>("size");
    for (qreal ratio : {1.0, 2.0}) {
        const QByteArray r = ratio == 1.0 ? "@1x " : "@2x ";
        QTest::newRow(r + "320x420") << ratio << QSize(320, 420);
        QTest::newRow(r + "320x416") << ratio << QSize(320, 416);
        QTest::newRow(r + "480x301") << ratio << QSize(480, 301);
    }
}

void GraphDrawingTest::cachedLayersMatchPlainDrawing() {
    QFETCH(qreal, ratio);
    QFETCH(QSize, size);
    QuietGraphView view;
    view.resize(size);
    view.setFilteringEnabled(true);
    // Several frames over a changing history, with traces leaving their strips (±7 g) and
    // crossing the labels and the readout.
    for (int frame = 0; frame < 4; ++frame) {
        for (int k = 0; k < 60; ++k) {
            const float t = static_cast<float>(frame * 60 + k);
            view.updateHistoryWithX(7.0f * std::sin(t * 0.21f), 2.5f * std::cos(t * 0.05f),
                                    -1.0f + 6.0f * std::sin(t * 0.6f));
        }
        const QImage plain = render(view, ratio, false);
        const QImage cached = render(view, ratio, true);
        QCOMPARE(cached.size(), plain.size());
        QVERIFY2(
            largestChannelDifference(plain, cached) <= 1,
            qPrintable(
                QString("frame %1: %2").arg(frame).arg(largestChannelDifference(plain, cached))));
    }
}

QTEST_MAIN(GraphDrawingTest)
#include "tst_graph_drawing.moc"
