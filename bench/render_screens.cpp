// Renders the graph (fed by the simulated sensor, filter on) and the meters to PNGs at device
// pixel ratio 1 and 2, over a plain dark surface standing in for the skin.
//
//   render_screens <output folder>
#include "app/GraphView.h"
#include "app/MeterView.h"
#include "drawing/PainterContext.h"
#include "sensors/SimulatedDriver.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <cstdio>

namespace {

void save(drawing::View& view, qreal ratio, const QString& path) {
    QImage image(view.size() * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(QColor(48, 44, 40));
    {
        QPainter painter(&image);
        drawing::PainterContext context(painter);
        view.drawRect(context, view.bounds());
    }
    if (!image.save(path))
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QDir out(argc > 1 ? argv[1] : ".");
    sensors::SimulatedDriver driver;

    app::GraphView graph;
    graph.resize(320, 420);
    graph.setFilteringEnabled(false);
    // Four seconds of readings at 120 Hz; the last 150 are shown.
    sensors::Acceleration a{};
    for (int k = 0; k < 480; ++k) {
        a = driver.readingAt(40.0 + k / 120.0);
        graph.updateHistoryWithX(float(a.x), float(a.y), float(a.z));
    }
    app::MeterView meters;
    meters.resize(480, 320);
    meters.X(float(a.x), float(a.y), float(a.z));

    for (qreal ratio : {1.0, 2.0}) {
        const QString suffix = ratio == 1.0 ? "" : "@2x";
        save(graph, ratio, out.filePath("graph" + suffix + ".png"));
        save(meters, ratio, out.filePath("meters" + suffix + ".png"));
    }
    return 0;
}
