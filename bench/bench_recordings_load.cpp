// The recordings window with large files: peak memory against file size (held whole, and held
// at a coarser level under a lower memory allowance), the time from SIGTERM to the end of the
// process while a file is being read or its numbers worked out, and the samples a running
// recording loses while the window reads: one in the same process as the window (the real
// window, recorder and simulated source) and one `wobblestar --record` beside it.
//
//   bench_recordings_load [MEGABYTES ...]      default 30 100 300
//
// Files go to $WOBBLESTAR_BENCH_DIR (default /tmp) and are deleted afterwards. Every measured
// run is a child process, so that its peak memory is its own.
#include "app/SettingsTable.h"
#include "app/WobblestarAppDelegate.h"
#include "desktop/QuitOnSignals.h"
#include "desktop/SettingsStore.h"
#include "features/analysis/AnalysisWindow.h"
#include "sensors/Accelerometer.h"
#include "sensors/RecordingReader.h"
#include "sensors/SimulatedDriver.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace features::analysis;

namespace {

int gArgc = 1;
char** gArgv = nullptr;

// Rows of a ride at 120 per second until the file holds `megabytes`.
long long writeRecording(const QString& path, int megabytes) {
    std::FILE* file = std::fopen(QFile::encodeName(path).constData(), "w");
    if (!file)
        return 0;
    std::fputs("time,x,y,z\n", file);
    const long long bytes = (long long)(megabytes)*1000000;
    long long rows = 0;
    for (; std::ftell(file) < bytes; ++rows) {
        const double t = double(rows) / 120.0;
        std::fprintf(file, "%.5f,%.4f,%.4f,%.4f\n", t, 0.3 * std::sin(t * 0.7),
                     0.2 * std::sin(t * 44.0), -1.0 + ((rows % 9973) == 0 ? 2.5 : 0.0));
    }
    std::fclose(file);
    return rows;
}

struct Run {
    double wall = 0.0; // s
    long peakKb = 0;
    int status = 0;
};

// Runs `work` in a child process; `started` is called in the parent with the child's pid and
// the read end of a pipe the child writes to (`tell` in the child).
int gTell = -1;
void tell(char what) {
    [[maybe_unused]] const ssize_t n = ::write(gTell, &what, 1);
}
void quietStandardError();

Run measure(const std::function<int()>& work,
            const std::function<void(pid_t, int)>& started = nullptr) {
    std::fflush(stdout);
    int fds[2];
    if (::pipe(fds) != 0)
        return {};
    QElapsedTimer clock;
    clock.start();
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        gTell = fds[1];
        quietStandardError();
        const int status = work();
        std::fflush(stdout);
        ::_exit(status);
    }
    ::close(fds[1]);
    if (started)
        started(child, fds[0]);
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    ::close(fds[0]);
    Run run;
    run.wall = double(clock.nsecsElapsed()) * 1e-9;
    run.peakKb = usage.ru_maxrss;
    run.status = status;
    return run;
}

// Qt's chatter on an offscreen platform would break the tables.
void quietStandardError() {
    if (std::FILE* null = std::fopen("/dev/null", "w"))
        ::dup2(fileno(null), 2);
}

char await(int fd) {
    char c = 0;
    return ::read(fd, &c, 1) == 1 ? c : 0;
}

// Waits, turning the event loop, until the window has read its recording and shown its
// numbers.
void awaitShown(AnalysisWindow& window) {
    QEventLoop loop;
    QObject::connect(&window.loader(), &RecordingLoader::numbersComputed, &loop, &QEventLoop::quit);
    QObject::connect(
        &window.loader(), &RecordingLoader::loaded, &loop,
        [&loop](const QString&, const std::shared_ptr<RecordingSeries>& recording, const QString&) {
            if (!recording)
                loop.quit();
        });
    loop.exec();
}

// A window on an empty folder opens `file`; prints the rows held and their level.
int showOne(const QString& file, QElapsedTimer* loadClock = nullptr) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(gArgc, gArgv);
    QTemporaryDir empty;
    AnalysisWindow window(empty.path());
    QElapsedTimer clock;
    clock.start();
    window.open(file);
    awaitShown(window);
    if (loadClock)
        *loadClock = clock;
    const RecordingSeries& held = window.recording();
    std::printf("| %zu | %zu | %.0f | %.1f |", held.fileRows(), held.blockRows(),
                double(held.memoryBytes()) / 1e6, double(clock.nsecsElapsed()) * 1e-9);
    return held.isEmpty() ? 1 : 0;
}

void memoryTable(const std::vector<std::pair<QString, int>>& files) {
    std::printf("\n### Peak memory of the window against file size\n\n");
    const Run baseline = measure([] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication application(gArgc, gArgv);
        QTemporaryDir empty;
        AnalysisWindow window(empty.path());
        QCoreApplication::processEvents();
        return 0;
    });
    std::printf("An empty window: %.0f MB peak resident.\n\n", double(baseline.peakKb) / 1024.0);
    std::printf("| file (MB) | allowance | rows | rows per block | held (MB) | read and shown (s) "
                "| peak resident (MB) |\n|---|---|---|---|---|---|---|\n");
    for (const auto& [path, megabytes] : files) {
        for (const char* allowance : {"", "268435456", "16777216"}) {
            std::printf("| %d | %s ", megabytes,
                        *allowance ? qPrintable(QStringLiteral("%1 MB").arg(
                                         QByteArray(allowance).toLongLong() >> 20))
                                   : "a quarter of memory");
            std::fflush(stdout);
            const Run run = measure([path = path, allowance] {
                if (*allowance)
                    qputenv("WOBBLESTAR_RECORDING_MEMORY", allowance);
                return showOne(path);
            });
            std::printf(" %.0f |\n", double(run.peakKb) / 1024.0);
        }
    }
}

// SIGTERM while the window reads `file` (200 ms in) or works out its numbers (as soon as it
// has read it): the time from the signal to the end of the process.
void quitTable(const std::vector<std::pair<QString, int>>& files) {
    std::printf("\n### SIGTERM while the window is busy\n\n");
    std::printf("| file (MB) | busy with | runs | median (ms) | worst (ms) | exit |\n"
                "|---|---|---|---|---|---|\n");
    for (const auto& [path, megabytes] : files) {
        for (const bool reading : {true, false}) {
            // Waiting for a file of a gigabyte to be read takes minutes on a busy machine.
            if (!reading && megabytes > 500)
                continue;
            std::vector<double> ms;
            int status = 0;
            for (int i = 0; i < 5; ++i) {
                QElapsedTimer sent;
                const Run run = measure(
                    [path = path] {
                        qputenv("QT_QPA_PLATFORM", "offscreen");
                        QApplication application(gArgc, gArgv);
                        const desktop::QuitOnSignals quit;
                        QTemporaryDir empty;
                        AnalysisWindow window(empty.path());
                        QObject::connect(&window.loader(), &RecordingLoader::loaded,
                                         [] { tell('l'); });
                        window.open(path);
                        tell('r');
                        QApplication::exec();
                        return 128 + desktop::QuitOnSignals::pendingSignal();
                    },
                    [&](pid_t child, int fd) {
                        if (reading) {
                            await(fd);
                            ::usleep(200000);
                        } else {
                            await(fd);
                            await(fd);
                        }
                        sent.start();
                        ::kill(child, SIGTERM);
                    });
                ms.push_back(double(sent.nsecsElapsed()) * 1e-6);
                status = WIFEXITED(run.status) ? WEXITSTATUS(run.status) : -WTERMSIG(run.status);
            }
            std::sort(ms.begin(), ms.end());
            std::printf("| %d | %s | %zu | %.0f | %.0f | %d |\n", megabytes,
                        reading ? "reading the file" : "the numbers of the whole span", ms.size(),
                        ms[ms.size() / 2], ms.back(), status);
        }
    }
}

struct Gaps {
    long long rows = 0;
    double span = 0.0;    // s, first row to last
    double largest = 0.0; // s, the longest step between rows
    double rate = 0.0;    // Hz, from the median step
    double expected() const { return rate > 0.0 ? span * rate + 1.0 : 0.0; }
};

Gaps gapsOf(const QString& csv) {
    Gaps gaps;
    sensors::RecordingReader reader(csv);
    QString error;
    if (!reader.open(&error))
        return gaps;
    sensors::Acceleration row;
    double previous = 0.0;
    std::vector<double> steps;
    while (reader.next(&row)) {
        if (gaps.rows++ > 0)
            steps.push_back(row.timestamp - previous);
        previous = row.timestamp;
    }
    gaps.span = previous;
    if (!steps.empty()) {
        gaps.largest = *std::max_element(steps.begin(), steps.end());
        std::nth_element(steps.begin(), steps.begin() + std::ptrdiff_t(steps.size() / 2),
                         steps.end());
        gaps.rate = 1.0 / steps[steps.size() / 2];
    }
    return gaps;
}

// A recording at 120 Hz in the window, the recordings window opened on a folder holding `file`
// (none: an empty folder) two seconds in, and stopped two seconds after the window has shown
// the file. Also how late a 10 ms timer fired at worst meanwhile.
int recordWhileReading(const QString& file, const QString& csv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));
    qputenv("WOBBLESTAR_CONFIG_DIR", QFile::encodeName(home.filePath(QStringLiteral("config"))));
    const QString folder = home.filePath(QStringLiteral("Wobblestar/recordings"));
    QDir().mkpath(folder);
    if (!file.isEmpty())
        QFile::link(file, folder + QStringLiteral("/2020-01-01_00-00-00.csv"));
    QApplication application(gArgc, gArgv);
    desktop::setUpSettingsStore();
    QSettings().setValue(QLatin1String(app::SettingsTable::kRateKey), 2);
    sensors::Accelerometer::sharedAccelerometer().setDriver(
        std::make_unique<sensors::SimulatedDriver>());
    app::WobblestarAppDelegate delegate;
    delegate.setSampleFile(app::WobblestarAppDelegate::SampleFile::Named, csv);
    delegate.applicationDidFinishLaunching();
    delegate.start();

    QElapsedTimer lateness;
    double latest = 0.0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        latest = std::max(latest, double(lateness.nsecsElapsed()) * 1e-6 - 10.0);
        lateness.restart();
    });
    QTimer::singleShot(2000, [&] {
        delegate.recordings();
        lateness.start();
        ticker.start(10);
        if (file.isEmpty())
            QTimer::singleShot(4000, [] { QApplication::quit(); });
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* window = qobject_cast<AnalysisWindow*>(widget))
                QObject::connect(&window->loader(), &RecordingLoader::numbersComputed,
                                 [] { QTimer::singleShot(2000, [] { QApplication::quit(); }); });
    });
    QApplication::exec();
    delegate.stop();
    timespec cpu{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
    QFile schedstat(QStringLiteral("/proc/thread-self/schedstat"));
    schedstat.open(QIODevice::ReadOnly);
    const QList<QByteArray> fields = schedstat.readAll().split(' ');
    std::printf("%.0f | %.0f | %.0f\n", latest,
                double(cpu.tv_sec) * 1e3 + double(cpu.tv_nsec) * 1e-6,
                fields.size() > 1 ? fields[1].toDouble() * 1e-6 : 0.0);
    std::fflush(stdout);
    return 0;
}

void samplesTable(const std::vector<std::pair<QString, int>>& files, const QString& binary) {
    std::printf("\n### Samples of a running recording while the window reads\n\n");
    std::printf("| file (MB) | recording | rate (Hz) | rows | expected | longest gap (ms) | "
                "latest 10 ms timer (ms late) | main thread CPU (ms) | main thread waiting for a "
                "CPU (ms) |\n|---|---|---|---|---|---|---|---|---|\n");
    const QString dir = qEnvironmentVariable("WOBBLESTAR_BENCH_DIR", QStringLiteral("/tmp"));
    std::vector<std::pair<QString, int>> runs{{QString(), 0}};
    runs.insert(runs.end(), files.begin(), files.end());
    for (const auto& [path, megabytes] : runs) {
        const QString csv = dir + QStringLiteral("/bench-load-window.csv");
        const QString headlessCsv = dir + QStringLiteral("/bench-load-headless.csv");
        QProcess headless;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        QTemporaryDir config;
        env.insert(QStringLiteral("WOBBLESTAR_CONFIG_DIR"), config.path());
        headless.setProcessEnvironment(env);
        if (!binary.isEmpty()) {
            QFile::remove(headlessCsv);
            headless.start(binary, {QStringLiteral("--source"), QStringLiteral("sim"),
                                    QStringLiteral("--record"), QStringLiteral("0.10"),
                                    QStringLiteral("--duration"), QStringLiteral("3600"),
                                    QStringLiteral("--csv"), headlessCsv});
            headless.waitForStarted();
        }
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        std::fflush(stdout);
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(fds[0]);
            ::dup2(fds[1], 1);
            quietStandardError();
            ::_exit(recordWhileReading(path, csv));
        }
        ::close(fds[1]);
        QByteArray late;
        char buffer[64];
        for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
            late.append(buffer, n);
        ::close(fds[0]);
        ::waitpid(child, nullptr, 0);
        const Gaps window = gapsOf(csv);
        std::printf("| %d | in the window's process | %.0f | %lld | %.0f | %.1f | %s |\n",
                    megabytes, window.rate, window.rows, window.expected(), window.largest * 1e3,
                    late.trimmed().constData());
        QFile::remove(csv);
        if (!binary.isEmpty()) {
            ::kill(pid_t(headless.processId()), SIGTERM);
            headless.waitForFinished();
            const Gaps beside = gapsOf(headlessCsv);
            std::printf("| %d | `--record` beside it | %.0f | %lld | %.0f | %.1f | | | |\n",
                        megabytes, beside.rate, beside.rows, beside.expected(),
                        beside.largest * 1e3);
            QFile::remove(headlessCsv);
        }
    }
}

} // namespace

int main(int argc, char* argv[]) {
    gArgc = 1;
    gArgv = argv;
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty())
        sizes = {30, 100, 300};
    const QString dir = qEnvironmentVariable("WOBBLESTAR_BENCH_DIR", QStringLiteral("/tmp"));
    std::vector<std::pair<QString, int>> files;
    for (int megabytes : sizes) {
        const QString path = dir + QStringLiteral("/bench-load-%1MB.csv").arg(megabytes);
        const long long rows = writeRecording(path, megabytes);
        std::fprintf(stderr, "%s: %lld rows\n", qPrintable(path), rows);
        files.emplace_back(path, megabytes);
    }
    const long pages = ::sysconf(_SC_PHYS_PAGES), pageSize = ::sysconf(_SC_PAGE_SIZE);
    std::printf("Machine memory: %.1f GB; a quarter of it holds %zu rows.\n",
                double(pages) * double(pageSize) / 1e9, RecordingLoader::defaultRowLimit());
    // BENCH_LOAD_SAMPLES_ONLY=1 skips to the last table.
    if (qEnvironmentVariableIsEmpty("BENCH_LOAD_SAMPLES_ONLY")) {
        memoryTable(files);
        quitTable(files);
    }
    samplesTable(files, QStringLiteral(WOBBLESTAR_BINARY));
    for (const auto& file : files)
        QFile::remove(file.first);
    return 0;
}
