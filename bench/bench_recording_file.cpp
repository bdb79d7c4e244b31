// Parsing outside input: a whole phyphox export of a 108 s ride before a replay starts, and
// one phyphox /get answer of the size a slow poll brings (500 rows).
#include "sensors/PhyphoxDriver.h"
#include "sensors/RecordingFile.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdio>

namespace {

// A phyphox export the size of a 108 s ride at 100 rows per second, written the way phyphox
// writes numbers (1.751839330E-1).
QByteArray phyphoxExport(int rows) {
    QByteArray text = "\"Time (s)\",\"Acceleration x (m/s^2)\",\"Acceleration y (m/s^2)\","
                      "\"Acceleration z (m/s^2)\",\"Absolute acceleration (m/s^2)\"\n";
    char line[160];
    for (int i = 0; i < rows; ++i) {
        const double t = 8.2e-4 + i * 0.01;
        const double x = 3.0 * std::sin(t), y = 4.0 * std::cos(t), z = 7.7 + std::sin(3 * t);
        std::snprintf(line, sizeof line, "%.9E,%.9E,%.9E,%.9E,%.9E\n", t, x, y, z,
                      std::sqrt(x * x + y * y + z * z));
        text += line;
    }
    return text;
}

void parseRideExport(benchmark::State& state) {
    const QByteArray text = phyphoxExport(10800);
    std::size_t rows = 0;
    sensors::RecordingFault fault;
    for (auto _ : state) {
        const sensors::Recording recording =
            sensors::parseRecording(std::string_view(text.constData(), text.size()), &fault);
        rows = recording.rows.size();
        benchmark::DoNotOptimize(recording.rows.data());
    }
    state.counters["rows"] = double(rows);
    state.SetBytesProcessed(state.iterations() * text.size());
}
BENCHMARK(parseRideExport)->Unit(benchmark::kMillisecond);

void parsePhyphoxAnswer(benchmark::State& state) {
    QByteArray time, x, y, z;
    for (int i = 0; i < 500; ++i) {
        const char* comma = i ? "," : "";
        time += comma + QByteArray::number(1.0 + i * 0.002, 'g', 10);
        x += comma + QByteArray::number(0.01 * i, 'g', 10);
        y += comma + QByteArray::number(-0.02 * i, 'g', 10);
        z += comma + QByteArray::number(9.80665 - 0.001 * i, 'g', 10);
    }
    const QByteArray body = R"({"buffer":{"acc_time":{"size":0,"updateMode":"partial","buffer":[)" +
                            time + R"(]},"accX":{"size":0,"updateMode":"partial","buffer":[)" + x +
                            R"(]},"accY":{"size":0,"updateMode":"partial","buffer":[)" + y +
                            R"(]},"accZ":{"size":0,"updateMode":"partial","buffer":[)" + z +
                            R"(]}},"status":{"session":"s","measuring":true}})";
    for (auto _ : state) {
        QString error;
        auto answer = sensors::parsePhyphoxAnswer(body, &error);
        benchmark::DoNotOptimize(answer);
    }
    state.SetBytesProcessed(state.iterations() * body.size());
}
BENCHMARK(parsePhyphoxAnswer)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
