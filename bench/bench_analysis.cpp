// The recordings window on a one-hour recording at 120 rows per second (432,000 rows):
// loading and first picture against `wc -l` reading the same file, memory per row, and the
// redraw after a zoom or pan at 1920 x 1080 against Qt Charts drawing the same rows as
// QLineSeries. Also checks that both plots draw the same envelope of the X trace.
//
//   bench_analysis [ROWS]      prints a Markdown table of medians over several runs
//   bench_analysis --live [SECONDS]
//                              in a real X server (bench/live_cpu.sh starts one): following a
//                              120 Hz source, last minute, in a 1920 x 1080 window: the plot
//                              alone, the same scrolling view in QCustomPlot and in Qt Charts,
//                              and the whole recordings window on its live entry; the CPU per
//                              frame and of the whole process, for SECONDS each
#include "drawing/PainterContext.h"
#include "features/analysis/AnalysisWindow.h"
#include "features/analysis/LiveFeed.h"
#include "features/analysis/PlotDrawing.h"
#include "features/analysis/PlotExport.h"
#include "features/analysis/PlotWidget.h"
#include "features/analysis/RecordingSeries.h"
#include "sensors/SampleCsvWriter.h"

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QElapsedTimer>
#include <QFile>
#include <QGraphicsScene>
#include <QImage>
#include <QLineSeries>
#include <QPaintEvent>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QValueAxis>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <numbers>
#include <qcustomplot.h>

using namespace features::analysis;

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

PlotView span(double from, double to,
              std::array<bool, kSeriesCount> shown = {true, true, true, true}) {
    PlotView view;
    view.from = from;
    view.to = to;
    view.shown = shown;
    return view;
}

// The machine these run on is shared, so the medians are of this thread's CPU time, which
// other processes do not inflate; `wall` measures elapsed time instead (for a child process).
double medianMs(int runs, const std::function<void()>& work, double* worst = nullptr,
                bool wall = false) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        timespec start{}, end{};
        const clockid_t clock = wall ? CLOCK_MONOTONIC : CLOCK_THREAD_CPUTIME_ID;
        clock_gettime(clock, &start);
        work();
        clock_gettime(clock, &end);
        ms.push_back(double(end.tv_sec - start.tv_sec) * 1e3 +
                     double(end.tv_nsec - start.tv_nsec) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    if (worst)
        *worst = ms.back();
    return ms[ms.size() / 2];
}

long peakResidentKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return 0;
}

// A ride: slow swells, a 7 Hz vibration and noise, with a jolt now and then.
void writeRecording(const QString& path, int rows) {
    sensors::SampleCsvWriter writer(path, sensors::SampleCsvWriter::Existing::Replace);
    writer.open();
    uint32_t seed = 1;
    auto noise = [&] {
        seed = seed * 1664525u + 1013904223u;
        return float(seed >> 8) / float(1u << 24) - 0.5f;
    };
    for (int i = 0; i < rows; ++i) {
        const double t = i / 120.0;
        const float jolt = i % 9001 == 0 ? 2.5f : 0.0f;
        writer.append(t, 0.3f * float(std::sin(t * 0.7)) + 0.05f * noise() + jolt,
                      0.2f * float(std::sin(2 * std::numbers::pi * 7 * t)) + 0.05f * noise(),
                      -1.0f + 0.4f * float(std::sin(t * 0.13)) + 0.05f * noise());
    }
    writer.close();
}

void draw(QImage& image, const RecordingSeries& recording, const PlotView& view,
          std::vector<Column>& columns) {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    drawing::PainterContext context(painter);
    drawPlot(context, {0, 0, float(kWidth), float(kHeight)}, recording, view, columns);
}

// The spans a user visits: all, then zooming in around the middle to one second, panning.
std::vector<PlotView> visits(double duration) {
    std::vector<PlotView> views;
    for (double width = duration; width >= 1.0; width /= 3.0)
        for (double pan : {0.0, 0.01, 0.02})
            views.push_back(span(std::max(0.0, duration / 2 - width / 2 + pan * width),
                                 std::min(duration, duration / 2 + width / 2 + pan * width)));
    return views;
}

// Per pixel column, the topmost and bottommost pixel of the X trace's red.
std::vector<std::pair<int, int>> redExtents(const QImage& image, QRect area) {
    std::vector<std::pair<int, int>> extents;
    for (int x = area.left(); x <= area.right(); ++x) {
        int top = -1, bottom = -1;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            const QRgb p = image.pixel(x, y);
            if (qRed(p) > 160 && qGreen(p) < 90 && qBlue(p) < 90) {
                if (top < 0)
                    top = y;
                bottom = y;
            }
        }
        extents.emplace_back(top, bottom);
    }
    return extents;
}

// ---- Following live in a real window ----

double cpuSeconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// The readings of a 120 Hz source as the service would hand them over: delivered by elapsed
// time, so that a late timer delivers the readings it owes.
class Source {
public:
    explicit Source(std::function<void(const sensors::Acceleration&)> deliver)
        : deliver_(std::move(deliver)) {
        clock_.start();
        timer_.setTimerType(Qt::PreciseTimer);
        // The service wakes 120 times a second; so does this, near enough.
        timer_.setInterval(8);
        QObject::connect(&timer_, &QTimer::timeout, [this] { catchUp(); });
    }
    // Fills the last ten minutes at once, as a source that ran before the view was opened.
    void prefill(double seconds) {
        for (; next_ < int(seconds * 120.0); ++next_)
            deliver_(reading(next_));
        offset_ = next_;
        clock_.restart();
    }
    void start() { timer_.start(); }
    void stop() { timer_.stop(); }
    static sensors::Acceleration reading(int i) {
        const double t = i / 120.0;
        return {0.3 * std::sin(t * 0.7) + 0.2 * std::sin(2 * std::numbers::pi * 7 * t),
                0.2 * std::sin(2 * std::numbers::pi * 3 * t), -1.0 + 0.1 * std::sin(t * 0.13), t};
    }

private:
    void catchUp() {
        const int due = offset_ + int(double(clock_.nsecsElapsed()) * 120e-9);
        for (; next_ < due; ++next_)
            deliver_(reading(next_));
    }
    std::function<void(const sensors::Acceleration&)> deliver_;
    QElapsedTimer clock_;
    QTimer timer_;
    int next_ = 0, offset_ = 0;
};

// A widget that counts its paints and the thread CPU they take.
template <class Widget> struct Timed : Widget {
    using Widget::Widget;
    int paints = 0;
    double paintCpu = 0.0;
    void paintEvent(QPaintEvent* event) override {
        const double t0 = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        Widget::paintEvent(event);
        paintCpu += cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - t0;
        ++paints;
    }
};

struct LiveResult {
    const char* name;
    int frames = 0, paints = 0;
    // Per frame: the process's CPU, and the frame's own work (the data handed over, the range
    // moved) with its paints.
    double seconds = 0.0, processCpu = 0.0, frameCpu = 0.0, workCpu = 0.0, paintCpu = 0.0;
};

// Runs `frame` 30 times a second for `seconds` with the source delivering, and measures.
LiveResult measureLive(const char* name, double seconds, Source& source, QWidget* window,
                       const std::function<void()>& frame) {
    window->setGeometry(0, 0, kWidth, kHeight);
    window->show();
    // Waits in an event loop, which sleeps between events as the program's own does.
    const auto wait = [](double ms) {
        QEventLoop loop;
        QTimer::singleShot(int(ms), &loop, &QEventLoop::quit);
        loop.exec();
    };
    wait(2000);
    LiveResult result{name};
    QTimer frames;
    frames.setTimerType(Qt::PreciseTimer);
    frames.setInterval(33);
    double work = 0.0;
    QObject::connect(&frames, &QTimer::timeout, [&] {
        const double t0 = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        frame();
        work += cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - t0;
        ++result.frames;
    });
    const double cpu0 = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    QElapsedTimer wall;
    wall.start();
    source.start();
    frames.start();
    wait(seconds * 1000.0);
    frames.stop();
    source.stop();
    result.seconds = double(wall.elapsed()) / 1000.0;
    result.processCpu = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
    result.frameCpu = result.processCpu / std::max(1, result.frames);
    result.workCpu = work;
    window->hide();
    QCoreApplication::processEvents();
    return result;
}

int runLive(int argc, char* argv[]) {
    QApplication application(argc, argv);
    const double seconds = argc > 2 ? std::max(3.0, atof(argv[2])) : 20.0;
    std::vector<LiveResult> results;
    std::printf("X server %s, platform %s, %g s each after 2 s of settling\n",
                qgetenv("DISPLAY").constData(), qPrintable(QGuiApplication::platformName()),
                seconds);

    // BENCH_LIVE_ONLY=ours|qcp|charts|window runs one of them (for a profile).
    const QByteArray only = qgetenv("BENCH_LIVE_ONLY");
    const auto runs = [&only](const char* name) { return only.isEmpty() || only == name; };
    // The plot alone, as the recordings window's live view draws it.
    if (runs("ours")) {
        LiveFeed feed;
        Source source([&](const sensors::Acceleration& a) { feed.append(a); });
        source.prefill(600.0);
        Timed<PlotWidget> plot;
        plot.followLive(&feed, 60.0);
        LiveResult r =
            measureLive("Wobblestar plot", seconds, source, &plot, [&] { plot.advanceLive(); });
        r.paints = plot.paints;
        r.paintCpu = plot.paintCpu;
        results.push_back(r);
    }
    // QCustomPlot, four graphs, adaptive sampling on (its default, set anyway), the range
    // following the newest reading and the value axis rescaled to the data each frame.
    if (runs("qcp")) {
        Timed<QCustomPlot> plot;
        plot.setNotAntialiasedElements(QCP::aeAll);
        const QColor colours[] = {Qt::red, Qt::green, Qt::blue, Qt::white};
        plot.setBackground(Qt::black);
        std::array<QCPGraph*, kSeriesCount> graphs{};
        for (int s = 0; s < kSeriesCount; ++s) {
            graphs[std::size_t(s)] = plot.addGraph();
            // One pixel: its fast path (a wider pen goes through Qt's general stroker).
            graphs[std::size_t(s)]->setPen(QPen(colours[s], 1.0));
            graphs[std::size_t(s)]->setAdaptiveSampling(true);
        }
        double newest = 0.0;
        Source source([&](const sensors::Acceleration& a) {
            const double m = std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z);
            const double v[] = {a.x, a.y, a.z, m};
            for (int s = 0; s < kSeriesCount; ++s)
                graphs[std::size_t(s)]->addData(a.timestamp, v[s]);
            newest = a.timestamp;
        });
        source.prefill(600.0);
        LiveResult r = measureLive("QCustomPlot 2.1", seconds, source, &plot, [&] {
            for (QCPGraph* g : graphs)
                g->data()->removeBefore(newest - 600.0);
            plot.xAxis->setRange(newest - 60.0, newest);
            plot.yAxis->rescale(true);
            // At once, so that its drawing counts as the frame's work.
            plot.replot();
        });
        r.paints = plot.paints;
        r.paintCpu = plot.paintCpu;
        results.push_back(r);
    }
    // Qt Charts: four line series of the last minute, given whole each frame with replace()
    // (appending and removing points one signal each takes seconds per frame), axes following.
    if (runs("charts")) {
        auto* chart = new QChart;
        chart->legend()->hide();
        chart->setAnimationOptions(QChart::NoAnimation);
        chart->setBackgroundBrush(Qt::black);
        auto* timeAxis = new QValueAxis;
        auto* gAxis = new QValueAxis;
        chart->addAxis(timeAxis, Qt::AlignBottom);
        chart->addAxis(gAxis, Qt::AlignLeft);
        const QColor colours[] = {Qt::red, Qt::green, Qt::blue, Qt::white};
        std::array<QLineSeries*, kSeriesCount> lines{};
        std::array<QList<QPointF>, kSeriesCount> pending;
        for (int s = 0; s < kSeriesCount; ++s) {
            lines[std::size_t(s)] = new QLineSeries;
            lines[std::size_t(s)]->setPen(QPen(colours[s], 1.0));
            chart->addSeries(lines[std::size_t(s)]);
            lines[std::size_t(s)]->attachAxis(timeAxis);
            lines[std::size_t(s)]->attachAxis(gAxis);
        }
        double newest = 0.0, low = -1.0, high = 1.0;
        Source source([&](const sensors::Acceleration& a) {
            const double m = std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z);
            const double v[] = {a.x, a.y, a.z, m};
            for (int s = 0; s < kSeriesCount; ++s) {
                pending[std::size_t(s)].append(QPointF(a.timestamp, v[s]));
                low = std::min(low, v[s]);
                high = std::max(high, v[s]);
            }
            newest = a.timestamp;
        });
        source.prefill(60.0);
        Timed<QChartView> view(chart);
        LiveResult r = measureLive("Qt Charts 6", seconds, source, &view, [&] {
            for (int s = 0; s < kSeriesCount; ++s) {
                QList<QPointF>& points = pending[std::size_t(s)];
                qsizetype old = 0;
                while (old < points.size() && points[old].x() < newest - 60.0)
                    ++old;
                points.remove(0, old);
                lines[std::size_t(s)]->replace(points);
            }
            timeAxis->setRange(newest - 60.0, newest);
            gAxis->setRange(low, high);
        });
        r.paints = view.paints;
        r.paintCpu = view.paintCpu;
        results.push_back(r);
    }
    // The whole recordings window, maximised on its live entry: the plot, the numbers and the
    // spectrum twice a second (on workers), its own frame timer.
    if (runs("window")) {
        QTemporaryDir folder;
        AnalysisWindow window(folder.path());
        Source source([&](const sensors::Acceleration& a) { window.appendLive(a); });
        source.prefill(600.0);
        auto* list = window.findChild<QTreeWidget*>(QStringLiteral("recordingList"));
        list->setCurrentItem(list->topLevelItem(0));
        // Its frames are its own timer's: counted as the plot's paints.
        struct Count : QObject {
            int paints = 0;
            bool eventFilter(QObject*, QEvent* event) override {
                paints += event->type() == QEvent::Paint;
                return false;
            }
        } count;
        window.plot()->installEventFilter(&count);
        LiveResult r = measureLive("Wobblestar recordings window", seconds, source, &window, [] {});
        r.paints = count.paints;
        r.frames = count.paints;
        r.frameCpu = r.processCpu / std::max(1, r.frames);
        results.push_back(r);
    }

    std::printf("\n| view, last minute at 120 Hz, 1920 x 1080 | frames (paints) | frame's work "
                "and paints, per frame | process CPU per frame | process CPU | against ours |\n"
                "|---|---|---|---|---|---|\n");
    for (const LiveResult& r : results) {
        const int frames = std::max(1, r.frames);
        std::printf("| %s | %d (%d) | %.3f ms (work %.3f, paints %.3f) | %.3f ms | %.1f %% of a "
                    "core | %.1fx |\n",
                    r.name, r.frames, r.paints, (r.workCpu + r.paintCpu) * 1e3 / frames,
                    r.workCpu * 1e3 / frames, r.paintCpu * 1e3 / frames, r.frameCpu * 1e3,
                    100.0 * r.processCpu / r.seconds, r.frameCpu / results.front().frameCpu);
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc > 1 && std::strcmp(argv[1], "--live") == 0)
        return runLive(argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int rows = argc > 1 ? std::max(100, atoi(argv[1])) : 432000;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("hour.csv"));
    writeRecording(path, rows);
    const double fileMb = double(QFile(path).size()) / 1e6;

    // Loading: the first load also gives the peak memory it took.
    const long before = peakResidentKb();
    RecordingSeries recording;
    QString error;
    if (!recording.load(path, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const long peakGrowth = peakResidentKb() - before;
    std::vector<Column> columns;
    QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
    const double loadMs = medianMs(5, [&] { recording.load(path, &error); });
    const double loadAndShowMs = medianMs(5, [&] {
        recording.load(path, &error);
        draw(image, recording, span(0.0, recording.duration()), columns);
    });
    const double wcMs = medianMs(
        5,
        [&] {
            QProcess wc;
            wc.start(QStringLiteral("wc"), {QStringLiteral("-l"), path});
            wc.waitForFinished();
        },
        nullptr, true);

    const std::vector<PlotView> views = visits(recording.duration());
    double worst = 0.0;
    std::size_t next = 0;
    const double redrawMs = medianMs(
        int(views.size()) * 4,
        [&] { draw(image, recording, views[next++ % views.size()], columns); }, &worst);

    // The same spans with every layer the window adds: stacked panels, twenty markers with
    // notes and both cursors (in the span or not).
    std::vector<PlotView> layered = views;
    for (PlotView& view : layered) {
        view.layout = PanelLayout::Stacked;
        view.cursorA = view.from + 0.3 * (view.to - view.from);
        view.cursorB = view.from + 0.6 * (view.to - view.from);
        view.cursor = view.from + 0.5 * (view.to - view.from);
        for (int m = 0; m < 20; ++m)
            view.markers.push_back({recording.duration() * m / 20.0, QStringLiteral("marker")});
    }
    next = 0;
    double layeredWorst = 0.0;
    const double layeredMs = medianMs(
        int(layered.size()) * 4,
        [&] { draw(image, recording, layered[next++ % layered.size()], columns); }, &layeredWorst);

    // The whole recording to a PDF page at A4 and to PNG, as a report would take it.
    const QString pdfPath = dir.filePath(QStringLiteral("hour.pdf"));
    const QString pngPath = dir.filePath(QStringLiteral("hour.png"));
    const Figure figure =
        recordingFigure(recording, span(0.0, recording.duration()), PlotTheme::Light);
    const double pdfMs = medianMs(
        5, [&] { writeFigure(pdfPath, a4LandscapeSize(), figure, &error); }, nullptr, true);
    const double pngMs = medianMs(
        5, [&] { writeFigure(pngPath, QSize(1600, 900), figure, &error); }, nullptr, true);
    const double pdfKb = double(QFile(pdfPath).size()) / 1024.0;
    const double pngKb = double(QFile(pngPath).size()) / 1024.0;
    // Following live at 120 Hz, the way before the picture was scrolled: each frame copies the
    // last minute from the feed (a ring of ten minutes) and draws it whole at 1920 x 1080. The
    // scrolled view is measured in a real window (--live).
    LiveFeed feed;
    for (int i = 0; i < 10 * 60 * 120; ++i)
        feed.append({0.3 * std::sin(i / 84.0), 0.1, -1.0, i / 120.0});
    RecordingSeries live;
    int frame = 0;
    double liveWorst = 0.0;
    const double liveMs = medianMs(
        300,
        [&] {
            // Four new readings per frame at 120 Hz and 30 frames a second.
            for (int i = 0; i < 4; ++i, ++frame)
                feed.append({0.3 * std::sin(frame / 84.0), 0.1, -1.0, 600.0 + frame / 120.0});
            feed.fill(live, feed.newestTime() - 60.0, feed.newestTime());
            draw(image, live, span(live.startTime(), live.startTime() + live.duration()), columns);
        },
        &liveWorst);
    std::printf("| live view drawn whole, last minute at 120 Hz, 1920x1080, CPU, median (worst) | "
                "%.2f ms (%.2f); at 30 frames/s %.1f %% of a core | |\n",
                liveMs, liveWorst, liveMs * 30.0 / 10.0);
    std::printf("| redraw with stacked panels, 20 markers, cursors A and B, CPU, median (worst) | "
                "%.2f ms (%.2f) | |\n",
                layeredMs, layeredWorst);
    std::printf("| whole hour to PDF, A4, elapsed, median of 5 | %.0f ms, %.0f KB | |\n", pdfMs,
                pdfKb);
    std::printf("| whole hour to PNG, 1600x900, elapsed, median of 5 | %.0f ms, %.0f KB | |\n",
                pngMs, pngKb);

    if (qEnvironmentVariableIsSet("BENCH_ANALYSIS_OURS_ONLY")) {
        // The same spans split by how they are drawn: one min/max bar per pixel column, or
        // every row joined by lines (a span of fewer rows than the plot has pixel columns).
        const int columnsWide = int(plotArea({0, 0, float(kWidth), float(kHeight)}).width);
        std::vector<PlotView> bars, lines;
        for (const PlotView& view : views) {
            const std::size_t shownRows =
                recording.rowAfter(view.to) - recording.rowAtOrAfter(view.from);
            (shownRows <= std::size_t(columnsWide) ? lines : bars).push_back(view);
        }
        next = 0;
        const double barsMs = medianMs(int(bars.size()) * 4, [&] {
            draw(image, recording, bars[next++ % bars.size()], columns);
        });
        next = 0;
        const double linesMs = medianMs(int(lines.size()) * 4, [&] {
            draw(image, recording, lines[next++ % lines.size()], columns);
        });
        std::printf("load %.0f ms, load and show %.0f ms, wc -l %.1f ms, held %.1f B/row, peak "
                    "growth %.1f B/row, redraw %.2f ms (worst %.2f); %zu spans as bars %.2f ms, "
                    "%zu as lines %.2f ms\n",
                    loadMs, loadAndShowMs, wcMs,
                    double(recording.memoryBytes()) / double(recording.size()),
                    peakGrowth * 1024.0 / double(recording.size()), redrawMs, worst, bars.size(),
                    barsMs, lines.size(), linesMs);
        return 0;
    }

    // Qt Charts: the same four series, the same plot area and axis ranges.
    const QRectF area(plotArea({0, 0, float(kWidth), float(kHeight)}).x,
                      plotArea({0, 0, float(kWidth), float(kHeight)}).y,
                      plotArea({0, 0, float(kWidth), float(kHeight)}).width,
                      plotArea({0, 0, float(kWidth), float(kHeight)}).height);
    QGraphicsScene scene(0, 0, kWidth, kHeight);
    auto* chart = new QChart;
    chart->legend()->hide();
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->setBackgroundBrush(Qt::black);
    chart->setPlotAreaBackgroundVisible(true);
    chart->setPlotAreaBackgroundBrush(QColor(18, 18, 18));
    chart->setGeometry(0, 0, kWidth, kHeight);
    auto* timeAxis = new QValueAxis;
    auto* gAxis = new QValueAxis;
    chart->addAxis(timeAxis, Qt::AlignBottom);
    chart->addAxis(gAxis, Qt::AlignLeft);
    const QColor colours[] = {Qt::red, Qt::green, Qt::blue, Qt::white};
    std::array<QLineSeries*, kSeriesCount> lines{};
    for (int s = kSeriesCount - 1; s >= 0; --s) {
        QList<QPointF> points;
        points.reserve(qsizetype(recording.size()));
        for (std::size_t row = 0; row < recording.size(); ++row)
            points.append(QPointF(recording.time(row), recording.value(Series(s), row)));
        lines[std::size_t(s)] = new QLineSeries;
        lines[std::size_t(s)]->setPen(QPen(colours[s], 1.25));
        lines[std::size_t(s)]->replace(points);
        chart->addSeries(lines[std::size_t(s)]);
        lines[std::size_t(s)]->attachAxis(timeAxis);
        lines[std::size_t(s)]->attachAxis(gAxis);
    }
    scene.addItem(chart);
    chart->setPlotArea(area);
    QCoreApplication::processEvents();
    auto chartFrame = [&](const PlotView& view) {
        recording.columns(view.from, view.to, int(area.width()), &columns);
        const auto [low, high] = valueRange(columns, view);
        timeAxis->setRange(view.from, view.to);
        gAxis->setRange(low, high);
        // Qt Charts lays itself out in posted events, as it would in a window.
        QCoreApplication::processEvents();
        image.fill(Qt::black);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        scene.render(&painter);
    };
    // Qt Charts takes seconds per frame here: every fourth of the same spans is enough.
    next = 0;
    double chartsWorst = 0.0;
    const double chartsMs = medianMs(
        int(views.size() + 3) / 4, [&] { chartFrame(views[(next++ * 4) % views.size()]); },
        &chartsWorst);

    // The envelope of X alone, whole recording, in both.
    const PlotView whole = span(0.0, recording.duration(), {true, false, false, false});
    for (int s = 1; s < kSeriesCount; ++s)
        lines[std::size_t(s)]->setVisible(false);
    chartFrame(whole);
    if (qEnvironmentVariableIsSet("BENCH_ANALYSIS_PICTURES"))
        std::printf("charts plot area %g %g %g %g, ours %g %g %g %g\n", chart->plotArea().x(),
                    chart->plotArea().y(), chart->plotArea().width(), chart->plotArea().height(),
                    area.x(), area.y(), area.width(), area.height());
    const auto chartsExtents = redExtents(image, area.toAlignedRect().adjusted(1, 1, -1, -1));
    if (qEnvironmentVariableIsSet("BENCH_ANALYSIS_PICTURES"))
        image.save(qEnvironmentVariable("BENCH_ANALYSIS_PICTURES") + QStringLiteral("-charts.png"));
    draw(image, recording, whole, columns);
    if (qEnvironmentVariableIsSet("BENCH_ANALYSIS_PICTURES"))
        image.save(qEnvironmentVariable("BENCH_ANALYSIS_PICTURES") + QStringLiteral("-ours.png"));
    const auto ourExtents = redExtents(image, area.toAlignedRect().adjusted(1, 1, -1, -1));
    // Lines between rows cross into the neighbouring pixel columns and are antialiased, so a
    // column of Qt Charts' picture shows a little more than that column's rows: ours must lie
    // within Qt Charts' extent over the column and its two neighbours, give or take a pixel.
    int outside = 0, compared = 0;
    for (std::size_t c = 1; c + 1 < ourExtents.size(); ++c) {
        if (ourExtents[c].first < 0)
            continue;
        int top = INT_MAX, bottom = -1;
        for (std::size_t n = c - 1; n <= c + 1; ++n) {
            if (chartsExtents[n].first < 0)
                continue;
            top = std::min(top, chartsExtents[n].first);
            bottom = std::max(bottom, chartsExtents[n].second);
        }
        ++compared;
        const bool within = ourExtents[c].first >= top - 1 && ourExtents[c].second <= bottom + 1;
        outside += !within;
        if (!within && outside < 6 && qEnvironmentVariableIsSet("BENCH_ANALYSIS_PICTURES"))
            std::printf("column %zu: ours %d..%d, Qt Charts around it %d..%d\n", c,
                        ourExtents[c].first, ourExtents[c].second, top, bottom);
    }

    std::printf("| measure | Wobblestar | reference |\n|---|---|---|\n");
    std::printf("| rows, file size | %zu rows, %.1f MB | |\n", recording.size(), fileMb);
    std::printf("| load, CPU (median of 5) | %.0f ms | `wc -l`, elapsed: %.1f ms |\n", loadMs,
                wcMs);
    std::printf("| load and show at %dx%d, CPU | %.0f ms | |\n", kWidth, kHeight, loadAndShowMs);
    std::printf("| held per row (columns and levels) | %.1f bytes | |\n",
                double(recording.memoryBytes()) / double(recording.size()));
    std::printf("| peak memory growth of the first load, per row | %.1f bytes | |\n",
                peakGrowth * 1024.0 / double(recording.size()));
    std::printf(
        "| redraw after zoom/pan at %dx%d, CPU, median (worst) of %zu spans x4 | %.2f ms (%.2f) | "
        "Qt Charts QLineSeries, every fourth span: %.1f ms (%.1f) |\n",
        kWidth, kHeight, views.size(), redrawMs, worst, chartsMs, chartsWorst);
    std::printf("| redraw ratio | %.0fx faster | |\n", chartsMs / redrawMs);
    std::printf(
        "| X trace, whole recording: pixel columns outside Qt Charts' picture | %d of %d | |\n",
        outside, compared);
    return 0;
}
