// One recording tick (build the sample line, add it to the log view) with a log of 100 lines and
// of 36,000 lines (an hour at 0.10 s). Appending should cost the same at both lengths; the
// rebuild variant (whole text out, whole text back in) shows the cost it replaces.
#include "features/RecordingLog.h"

#include <QApplication>
#include <QDateTime>
#include <QPlainTextEdit>
#include <benchmark/benchmark.h>

namespace {

// A shown view with `lines` sample lines after the header, scrolled to the end as during a
// recording.
std::unique_ptr<QPlainTextEdit> viewWithLines(int lines) {
    auto view = std::make_unique<QPlainTextEdit>();
    view->resize(320, 400);
    QString log =
        features::RecordingLog::header(QStringLiteral("0.10s"), QDateTime::currentDateTime());
    for (int i = 0; i < lines; ++i)
        log += features::RecordingLog::sampleLine(0.01f * (i % 100), -0.5f, -1.0f);
    view->setPlainText(log);
    view->show();
    QApplication::processEvents();
    return view;
}

// The view grows by one line per iteration; the iteration counts below keep it within a few
// percent of the requested length.
template <typename Tick> void runTicks(benchmark::State& state, Tick tick) {
    auto view = viewWithLines(int(state.range(0)));
    float x = 0.0f;
    for (auto _ : state) {
        tick(view.get(), features::RecordingLog::sampleLine(x, -0.5f, -1.0f));
        // A tick is followed by the event loop's layout and paint before the next one.
        QApplication::processEvents();
        x += 0.01f;
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_TickAppend(benchmark::State& state) {
    runTicks(state, [](QPlainTextEdit* view, const QString& line) {
        features::RecordingLog::appendToView(view, line);
    });
}
BENCHMARK(BM_TickAppend)
    ->ArgName("lines")
    ->Arg(100)
    ->Arg(36000)
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(1000);

void BM_TickRebuild(benchmark::State& state) {
    runTicks(state, [](QPlainTextEdit* view, const QString& line) {
        view->setPlainText(view->toPlainText() + line);
    });
}
BENCHMARK(BM_TickRebuild)
    ->ArgName("lines")
    ->Arg(100)
    ->Arg(36000)
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(100);

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
