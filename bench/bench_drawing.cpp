// Frame cost of the two live screens, and of the same three strips drawn by QCustomPlot and by
// Qt Charts, each into an image of 320 x 420 points at device pixel ratio 1 and 2. Every frame
// stores one new sample first, as the live screen does, and starts from a freshly filled
// surface, as the window's backing store does when it repaints the skin under the view.
#include "app/GraphView.h"
#include "app/MeterView.h"
#include "drawing/PainterContext.h"
#include "sensors/SimulatedDriver.h"

#include <QApplication>
#include <QChart>
#include <QGraphicsScene>
#include <QLineSeries>
#include <QPainter>
#include <QValueAxis>
#include <array>
#include <benchmark/benchmark.h>
#include <qcustomplot.h>
#include <vector>

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 420;
constexpr int kPoints = 150;
const QColor kSkin(48, 44, 40);
const QColor kStripBackground = QColor::fromRgbF(0.1f, 0.1f, 0.1f, 0.6f);
const std::array<QColor, 3> kTraceColours = {QColor(255, 0, 0), QColor(0, 255, 0),
                                             QColor(0, 0, 255)};

// Readings of the simulated sensor at 120 Hz, shaken now and then.
class Feed {
public:
    sensors::Acceleration next() { return driver_.readingAt(t_ += 1.0 / 120.0); }

private:
    sensors::SimulatedDriver driver_;
    double t_ = 40.0;
};

QImage surface(qreal ratio) {
    QImage image(QSize(kWidth, kHeight) * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    return image;
}

// The strip of each axis, as the graph lays them out: a quarter of the height, centred in its
// third.
QRectF stripRect(int axis) {
    const qreal third = kHeight / 3.0;
    const qreal quarter = kHeight * 0.25;
    return QRectF(0, (third - quarter) / 2 + third * axis, kWidth, quarter);
}

void BM_SurfaceFill(benchmark::State& state) {
    QImage image = surface(state.range(0));
    for (auto _ : state) {
        image.fill(kSkin);
        benchmark::DoNotOptimize(image.constBits());
    }
}

void BM_GraphFrame(benchmark::State& state) {
    QImage image = surface(state.range(0));
    app::GraphView view;
    view.resize(kWidth, kHeight);
    view.setFilteringEnabled(true);
    Feed feed;
    for (int k = 0; k < kPoints; ++k) {
        const auto a = feed.next();
        view.updateHistoryWithX(float(a.x), float(a.y), float(a.z));
    }
    for (auto _ : state) {
        const auto a = feed.next();
        view.updateHistoryWithX(float(a.x), float(a.y), float(a.z));
        image.fill(kSkin);
        QPainter painter(&image);
        drawing::PainterContext context(painter);
        context.setCachesLayers(state.range(1) != 0);
        view.drawRect(context, view.bounds());
    }
}

void BM_MetersFrame(benchmark::State& state) {
    QImage image(QSize(480, 320) * state.range(0), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(state.range(0));
    app::MeterView view;
    view.resize(480, 320);
    Feed feed;
    for (auto _ : state) {
        const auto a = feed.next();
        view.X(float(a.x), float(a.y), float(a.z));
        image.fill(kSkin);
        QPainter painter(&image);
        drawing::PainterContext context(painter);
        view.drawRect(context, view.bounds());
    }
}

// The same chart in QCustomPlot: three axis rects with a translucent background, grid lines
// at every whole g, "%+.1f"-style tick labels, the axis name, and a 2-point trace of 150 points.
void BM_QCustomPlotFrame(benchmark::State& state) {
    QImage image = surface(state.range(0));
    QCustomPlot plot;
    plot.resize(kWidth, kHeight);
    plot.setBackground(kSkin);
    plot.setAntialiasedElements(QCP::aeAll);
    plot.plotLayout()->clear();
    plot.plotLayout()->setRowSpacing(0);
    std::array<QCPGraph*, 3> graphs{};
    QSharedPointer<QCPAxisTickerFixed> ticker(new QCPAxisTickerFixed);
    ticker->setTickStep(1.0);
    for (int i = 0; i < 3; ++i) {
        auto* rect = new QCPAxisRect(&plot);
        plot.plotLayout()->addElement(i, 0, rect);
        rect->setBackground(kStripBackground);
        rect->setAutoMargins(QCP::msNone);
        const qreal gap = stripRect(i).top() - (i == 0 ? 0 : stripRect(i - 1).bottom());
        rect->setMargins(
            QMargins(0, i == 0 ? int(gap) : int(gap / 2), 0, i == 2 ? int(gap) : int(gap / 2)));
        QCPAxis* y = rect->axis(QCPAxis::atLeft);
        y->setRange(-3.0, 3.0);
        y->setTicker(ticker);
        y->setTickLabelSide(QCPAxis::lsInside);
        y->setTickLabelColor(Qt::white);
        y->setNumberFormat("f");
        y->setNumberPrecision(1);
        y->grid()->setPen(QPen(Qt::white, 1.0));
        y->grid()->setZeroLinePen(QPen(Qt::white, 1.0));
        y->setLabel(QString("%1 Axis").arg(QChar('X' + i)));
        y->setLabelColor(Qt::white);
        QCPAxis* x = rect->axis(QCPAxis::atBottom);
        x->setRange(0, kPoints - 1);
        x->setTicks(false);
        x->setTickLabels(false);
        x->grid()->setVisible(false);
        x->setBasePen(QPen(QColor::fromRgbF(0.25, 0.25, 0.25), 1.0));
        graphs[i] = plot.addGraph(x, y);
        graphs[i]->setPen(QPen(kTraceColours[i], 2.0));
    }
    QVector<double> keys(kPoints);
    std::array<QVector<double>, 3> values;
    for (int n = 0; n < kPoints; ++n)
        keys[n] = n;
    for (auto& v : values)
        v.fill(0.0, kPoints);
    Feed feed;
    for (auto _ : state) {
        const auto a = feed.next();
        const double sample[3] = {a.x, a.y, a.z};
        for (int i = 0; i < 3; ++i) {
            values[i].removeFirst();
            values[i].append(sample[i]);
            graphs[i]->setData(keys, values[i], true);
        }
        image.fill(kSkin);
        QCPPainter painter(&image);
        plot.toPainter(&painter, kWidth, kHeight);
    }
}

// The same chart in Qt Charts: one chart per strip in a graphics scene, plot areas placed on
// the strips.
void BM_QtChartsFrame(benchmark::State& state) {
    QImage image = surface(state.range(0));
    QGraphicsScene scene(0, 0, kWidth, kHeight);
    std::array<QLineSeries*, 3> series{};
    for (int i = 0; i < 3; ++i) {
        auto* chart = new QChart;
        chart->legend()->hide();
        chart->setBackgroundVisible(false);
        chart->setPlotAreaBackgroundVisible(true);
        chart->setPlotAreaBackgroundBrush(kStripBackground);
        chart->setMargins(QMargins(0, 0, 0, 0));
        chart->setBackgroundRoundness(0);
        chart->setAnimationOptions(QChart::NoAnimation);
        series[i] = new QLineSeries;
        series[i]->setPen(QPen(kTraceColours[i], 2.0));
        chart->addSeries(series[i]);
        auto* x = new QValueAxis;
        x->setRange(0, kPoints - 1);
        x->setLabelsVisible(false);
        x->setGridLineVisible(false);
        x->setLinePenColor(QColor::fromRgbF(0.25, 0.25, 0.25));
        auto* y = new QValueAxis;
        y->setRange(-3.0, 3.0);
        y->setTickCount(7);
        y->setLabelFormat("%+.1f");
        y->setLabelsColor(Qt::white);
        y->setGridLineColor(Qt::white);
        y->setTitleText(QString("%1 Axis").arg(QChar('X' + i)));
        y->setTitleBrush(Qt::white);
        chart->addAxis(x, Qt::AlignBottom);
        chart->addAxis(y, Qt::AlignLeft);
        series[i]->attachAxis(x);
        series[i]->attachAxis(y);
        scene.addItem(chart);
        const QRectF strip = stripRect(i);
        chart->setGeometry(QRectF(0, strip.top() - 8, kWidth, strip.height() + 16));
        chart->setPlotArea(strip.translated(0, -(strip.top() - 8)).adjusted(40, 0, 0, 0));
    }
    std::array<QList<QPointF>, 3> points;
    for (auto& p : points)
        for (int n = 0; n < kPoints; ++n)
            p.append(QPointF(n, 0.0));
    Feed feed;
    for (auto _ : state) {
        const auto a = feed.next();
        const double sample[3] = {a.x, a.y, a.z};
        for (int i = 0; i < 3; ++i) {
            for (int n = 0; n + 1 < kPoints; ++n)
                points[i][n].setY(points[i][n + 1].y());
            points[i][kPoints - 1].setY(sample[i]);
            series[i]->replace(points[i]);
        }
        image.fill(kSkin);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        scene.render(&painter, QRectF(0, 0, kWidth, kHeight), scene.sceneRect());
    }
}

void frameArgs(benchmark::internal::Benchmark* b) {
    b->ArgName("ratio")
        ->Arg(1)
        ->Arg(2)
        ->Unit(benchmark::kMicrosecond)
        ->Repetitions(7)
        ->ReportAggregatesOnly(true);
}

} // namespace

BENCHMARK(BM_SurfaceFill)->Apply(frameArgs);
BENCHMARK(BM_GraphFrame)
    ->ArgNames({"ratio", "cache"})
    ->Args({1, 1})
    ->Args({2, 1})
    ->Args({1, 0})
    ->Args({2, 0})
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_MetersFrame)->Apply(frameArgs);
BENCHMARK(BM_QCustomPlotFrame)->Apply(frameArgs);
BENCHMARK(BM_QtChartsFrame)->Apply(frameArgs);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
