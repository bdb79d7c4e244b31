// Streaming a large recording: parse throughput beside `wc -l` on the same file (the floor of
// reading it and finding its lines), the peak resident memory of the parsing process, and the
// time from opening to the first sample.
//
//   bench_recording_stream MEGABYTES [FOLDER]
//
// Writes a Wobblestar CSV and a phyphox export of about MEGABYTES each into FOLDER (default
// /tmp), measures each three times alternating with `wc -l`, keeps the fastest, and deletes the
// files. Every measured run is a child process, so its peak memory is its own.
#include "sensors/RecordingReader.h"

#include <QElapsedTimer>
#include <QFile>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Run {
    double wall = 0.0; // s
    double cpu = 0.0;  // s, user + system
    long peakKb = 0;
};

// Runs `work` in a child process and measures it.
template <typename Work> Run measure(Work work) {
    std::fflush(stdout); // or the child would print what the parent had buffered
    QElapsedTimer clock;
    clock.start();
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(work());
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    Run run;
    run.wall = double(clock.nsecsElapsed()) * 1e-9;
    run.cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
              double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    run.peakKb = usage.ru_maxrss;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        std::fprintf(stderr, "a measured run failed (status %d)\n", status);
    return run;
}

void append(std::string& out, double value) {
    char text[32];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    out.append(text, end);
}

// Rows like the ones each format's writer produces, until the file holds `bytes`.
bool writeFile(const QString& path, bool phyphox, long long bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    std::string chunk = phyphox ? "\"Time (s)\",\"Acceleration x (m/s^2)\",\"Acceleration y "
                                  "(m/s^2)\",\"Acceleration z (m/s^2)\",\"Absolute acceleration "
                                  "(m/s^2)\"\n"
                                : "time,x,y,z\n";
    long long written = 0;
    char line[160];
    for (long long i = 0; written < bytes; ++i) {
        const double t = 8.2e-4 + double(i) * 0.01;
        const double x = 3.0 * std::sin(t), y = 4.0 * std::cos(t), z = 7.7 + std::sin(3 * t);
        if (phyphox) {
            const int n = std::snprintf(line, sizeof line, "%.9E,%.9E,%.9E,%.9E,%.9E\n", t, x, y, z,
                                        std::sqrt(x * x + y * y + z * z));
            chunk.append(line, std::size_t(n));
        } else {
            append(chunk, double(i) * 0.008333);
            chunk += ',';
            append(chunk, float(x / 9.80665));
            chunk += ',';
            append(chunk, float(y / 9.80665));
            chunk += ',';
            append(chunk, float(-z / 9.80665));
            chunk += '\n';
        }
        if (chunk.size() > (1 << 20)) {
            file.write(chunk.data(), qint64(chunk.size()));
            written += qint64(chunk.size());
            chunk.clear();
        }
    }
    file.write(chunk.data(), qint64(chunk.size()));
    return file.flush();
}

int parseAll(const QString& path) {
    sensors::RecordingReader reader(path);
    QString error;
    if (!reader.open(&error))
        return 1;
    sensors::Acceleration row;
    long long rows = 0;
    while (reader.next(&row))
        ++rows;
    return reader.error().isEmpty() && rows > 0 ? 0 : 1;
}

int wordCount(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    if (std::freopen("/dev/null", "w", stdout) == nullptr)
        return 1;
    ::execlp("wc", "wc", "-l", name.constData(), static_cast<char*>(nullptr));
    return 1;
}

} // namespace

int main(int argc, char* argv[]) {
    const long long megabytes = argc > 1 ? std::atoll(argv[1]) : 1024;
    const QString folder = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("/tmp");
    if (megabytes <= 0) {
        std::fprintf(stderr, "usage: bench_recording_stream MEGABYTES [FOLDER]\n");
        return 2;
    }
    std::printf("| file | size | wc -l wall / CPU | parse wall / CPU | parse ÷ wc (wall) | "
                "peak RSS | first sample |\n|---|---|---|---|---|---|---|\n");
    for (const bool phyphox : {false, true}) {
        const QString path = folder + (phyphox ? QStringLiteral("/bench-phyphox.csv")
                                               : QStringLiteral("/bench-wobblestar.csv"));
        if (!writeFile(path, phyphox, megabytes << 20)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        Run wc{1e9, 1e9, 0}, parse{1e9, 1e9, 0};
        for (int i = 0; i < 3; ++i) {
            const Run w = measure([&] { return wordCount(path); });
            const Run p = measure([&] { return parseAll(path); });
            wc = w.wall < wc.wall ? w : wc;
            parse = p.wall < parse.wall ? p : parse;
        }
        QElapsedTimer first;
        first.start();
        sensors::RecordingReader reader(path);
        sensors::Acceleration row;
        QString error;
        const bool ok = reader.open(&error) && reader.next(&row);
        const double firstMs = double(first.nsecsElapsed()) * 1e-6;
        std::printf("| %s | %lld MB | %.2f s / %.2f s | %.2f s / %.2f s | %.1f× | %.1f MB | %s |\n",
                    phyphox ? "phyphox export" : "Wobblestar CSV", megabytes, wc.wall, wc.cpu,
                    parse.wall, parse.cpu, parse.wall / wc.wall, double(parse.peakKb) / 1024.0,
                    ok ? qPrintable(QString::number(firstMs, 'f', 2) + QStringLiteral(" ms"))
                       : "failed");
        std::fflush(stdout);
        QFile::remove(path);
    }
    return 0;
}
