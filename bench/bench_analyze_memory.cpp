// Peak memory and time of `wobblestar --analyze` against the recording's size: files of 100 k to
// 16 M rows at 3200 rows per second (a printer's accelerometer), whole and a ten-second span,
// measured from outside as the child's peak resident set (getrusage) and elapsed time.
//
//   bench_analyze_memory [MAX_ROWS [BINARY]]   prints a Markdown table (BINARY: another build
//                                              of wobblestar, to compare)
#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr double kRate = 3200.0;

// A recording in Wobblestar's own format: a 42.5 Hz and a 311.7 Hz resonance on X over gravity.
bool writeRecording(const QString& path, long rows) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write("time,x,y,z\n");
    char line[96];
    QByteArray chunk;
    for (long i = 0; i < rows; ++i) {
        const double t = double(i) / kRate;
        const double x = 0.3 * std::sin(2.0 * std::numbers::pi * 42.5 * t) +
                         0.08 * std::sin(2.0 * std::numbers::pi * 311.7 * t);
        const int n = std::snprintf(line, sizeof line, "%.6f,%.6f,%.6f,%.6f\n", t, x,
                                    0.01 * std::cos(t), -1.0);
        chunk.append(line, n);
        if (chunk.size() > (1 << 20)) {
            file.write(chunk);
            chunk.clear();
        }
    }
    file.write(chunk);
    return file.error() == QFileDevice::NoError;
}

struct Run {
    double peakMb = 0.0;
    double seconds = 0.0;
    int status = -1;
};

Run analyze(const QByteArray& binary, const std::vector<QByteArray>& arguments) {
    QElapsedTimer clock;
    clock.start();
    // The child's freopen() would write out whatever this process has buffered.
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        std::vector<char*> argv{const_cast<char*>(binary.constData())};
        for (const QByteArray& argument : arguments)
            argv.push_back(const_cast<char*>(argument.constData()));
        argv.push_back(nullptr);
        if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr))
            _exit(127);
        execv(argv[0], argv.data());
        _exit(127);
    }
    Run run;
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) == child) {
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.peakMb = double(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
    }
    run.seconds = double(clock.elapsed()) / 1000.0;
    return run;
}

} // namespace

int main(int argc, char** argv) {
    const long maxRows = argc > 1 ? std::atol(argv[1]) : 16'000'000;
    const QByteArray binary = argc > 2 ? QByteArray(argv[2]) : QByteArray(WOBBLESTAR_BINARY);
    QTemporaryDir dir;
    std::printf("| rows | file MB | whole: peak MB | whole: s | `--from 100 --to 110`: peak MB | "
                "span: s |\n|---:|---:|---:|---:|---:|---:|\n");
    for (long rows = 100'000; rows <= maxRows; rows *= 4) {
        const QString path = dir.filePath(QStringLiteral("r%1.csv").arg(rows));
        if (!writeRecording(path, rows)) {
            std::fprintf(stderr, "bench_analyze_memory: cannot write %s\n", qPrintable(path));
            return 1;
        }
        const double fileMb = double(QFile(path).size()) / 1e6;
        const QByteArray file = QFile::encodeName(path);
        const Run whole = analyze(binary, {"--analyze", file, "--json"});
        const Run span =
            analyze(binary, {"--analyze", file, "--json", "--from", "100", "--to", "110"});
        std::printf("| %ld | %.0f | %.1f | %.2f | %.1f | %.2f |\n", rows, fileMb, whole.peakMb,
                    whole.seconds, span.peakMb, span.seconds);
        std::fflush(stdout);
        QFile::remove(path);
        if (whole.status != 0)
            std::fprintf(stderr, "bench_analyze_memory: exit status %d at %ld rows\n", whole.status,
                         rows);
    }
    return 0;
}
