// The per-sample path: delegate routing, the graph's history store (filtered) and the gauges'
// store, as one accelerometer callback. Also checks that the path allocates nothing.
#include "app/GraphView.h"
#include "app/MeterView.h"
#include "app/WobblestarAppDelegate.h"
#include "screens/Switch.h"

#include <QApplication>
#include <atomic>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {
std::atomic<long> allocations{0};
}

void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

app::WobblestarAppDelegate* delegate = nullptr;

// A control of the window, by its name in the interface file.
template <typename Widget> Widget* named(const char* name) {
    return delegate->window()->findChild<Widget*>(QLatin1String(name));
}

void configure(bool filtering, bool updating) {
    named<screens::Switch>("xAxis")->setOn(true);
    named<screens::Switch>("yAxis")->setOn(false);
    named<screens::Switch>("zAxis")->setOn(true);
    named<app::GraphView>("graphView")->setFilteringEnabled(filtering);
    named<app::GraphView>("graphView")->setUpdatingIsEnabled(updating);
    named<app::MeterView>("meterView")->setUpdatingIsEnabled(false);
}

void BM_SamplePath(benchmark::State& state) {
    configure(state.range(0) != 0, state.range(1) != 0);
    auto& accelerometer = sensors::Accelerometer::sharedAccelerometer();
    sensors::Acceleration sample{0.01, -0.02, -1.0};
    for (auto _ : state) {
        sample.x = -sample.x;
        delegate->accelerometer(accelerometer, sample);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SamplePath)->ArgNames({"filter", "redraw"})->Args({0, 0})->Args({1, 0})->Args({1, 1});

// Counts the allocations of 100,000 samples after a warm-up; prints and fails if any.
bool allocatesNothing() {
    configure(true, true);
    auto& accelerometer = sensors::Accelerometer::sharedAccelerometer();
    for (int i = 0; i < 1000; ++i)
        delegate->accelerometer(accelerometer, sensors::Acceleration{0.1, 0.2, -1.0});
    const long before = allocations.load();
    for (int i = 0; i < 100000; ++i)
        delegate->accelerometer(accelerometer, sensors::Acceleration{0.1 * (i % 7), 0.2, -1.0});
    const long count = allocations.load() - before;
    std::printf("allocations in 100000 samples: %ld\n", count);
    return count == 0;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication application(argc, argv);
    app::WobblestarAppDelegate appDelegate;
    delegate = &appDelegate;
    const bool clean = allocatesNothing();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return clean ? 0 : 1;
}
