// Whole-process CPU while a graph view is shown and fed at 120 Hz by the accelerometer service
// (the simulated sensor), on the offscreen platform.
//
//   bench_graph_cpu [seconds = 30] [device pixel ratio = 1]
//
// Prints user + system CPU seconds per wall-clock second, samples and paints per second.
#include "app/GraphView.h"
#include "sensors/Accelerometer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <sys/resource.h>

namespace {

class CountingGraphView : public app::GraphView {
public:
    void drawRect(drawing::DrawingContext& context, drawing::Rect rect) override {
        ++paints;
        app::GraphView::drawRect(context, rect);
    }
    long paints = 0;
};

class Feeder : public sensors::AccelerometerDelegate {
public:
    explicit Feeder(app::GraphView& view) : view_(view) {}
    void accelerometer(sensors::Accelerometer&, const sensors::Acceleration& a) override {
        ++samples;
        view_.updateHistoryWithX(float(a.x), float(a.y), float(a.z));
    }
    long samples = 0;

private:
    app::GraphView& view_;
};

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](timeval t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 30.0;
    const char* ratio = argc > 2 ? argv[2] : "1";
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_SCALE_FACTOR", ratio);
    QApplication app(argc, argv);

    CountingGraphView view;
    view.resize(320, 420);
    view.setFilteringEnabled(true);
    view.setUpdatingIsEnabled(true);
    view.show();

    Feeder feeder(view);
    auto& accelerometer = sensors::Accelerometer::sharedAccelerometer();
    accelerometer.setUpdateInterval(1.0 / 120.0);
    accelerometer.setDelegate(&feeder);

    // One second to settle (fonts, layers), then the measured window.
    double cpuStart = 0.0;
    long samplesStart = 0;
    long paintsStart = 0;
    QElapsedTimer wall;
    QTimer::singleShot(1000, [&] {
        cpuStart = cpuSeconds();
        samplesStart = feeder.samples;
        paintsStart = view.paints;
        wall.start();
        QTimer::singleShot(int(seconds * 1000), [&] {
            const double elapsed = wall.elapsed() / 1000.0;
            const double cpu = cpuSeconds() - cpuStart;
            std::printf("ratio %.1f: %.1f s, CPU %.3f s/s (%.2f %% of a core), %.1f samples/s, "
                        "%.1f paints/s\n",
                        view.devicePixelRatioF(), elapsed, cpu / elapsed, 100.0 * cpu / elapsed,
                        (feeder.samples - samplesStart) / elapsed,
                        (view.paints - paintsStart) / elapsed);
            QApplication::quit();
        });
    });
    return QApplication::exec();
}
