// Recording a buffered IIO chip at its own rate for a long time: whether every scan reaches the
// full-rate file, and what it costs. Runs in umockdev's sysfs (the program starts itself again
// under umockdev-run when it is not there already) with an ADXL345 as udev shows one on a
// Raspberry Pi, whose /dev/iio:device0 is a FIFO that a child process fills with whole scans
// (three s16 axes and the s64 timestamp) at 1600 Hz, in pieces every 5 ms, dropping what does
// not fit as the kernel does. The child's CPU time is not counted.
//
// The accelerometer service runs at the live rate with the IIO driver capturing at 1600 Hz into
// a SampleCsvWriter; then, for comparison, the same service polls a chip's three _raw files.
// Reported: scans fed, scans written, scans missing (a step of the kernel's clock between two
// written rows other than one period), and getrusage CPU time of the whole process per second.
//
//   bench_iio_capture [seconds, default 600] [live rate in Hz: 40, 80 or 120, default 40]

// umockdev's GLib headers use `signals` as a name: they go before any Qt header.
// clang-format off
#include "UnderUmockdev.h"
#include <umockdev.h>
// clang-format on

#include "sensors/Accelerometer.h"
#include "sensors/IioDriver.h"
#include "sensors/SampleCsvWriter.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <QtEndian>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr double kChipRate = 1600.0;

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

struct FeedCount {
    std::atomic<long long> fed{0};
    std::atomic<long long> dropped{0};
};

// Fills the FIFO at `node` with scans at kChipRate until the parent ends it. Only
// async-signal-safe calls: it runs in a fork of a threaded process.
[[noreturn]] void feed(const char* node, FeedCount* count) {
    std::signal(SIGPIPE, SIG_IGN);
    const int fd = ::open(node, O_WRONLY); // waits for the driver to open the buffer
    if (fd < 0)
        ::_exit(1);
    ::fcntl(fd, F_SETFL, O_WRONLY | O_NONBLOCK);
    timespec start{};
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    const long long period = static_cast<long long>(1e9 / kChipRate);
    long long next = 0;
    for (;;) {
        const timespec pause{0, 5'000'000};
        ::nanosleep(&pause, nullptr);
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        const long long elapsed =
            (now.tv_sec - start.tv_sec) * 1'000'000'000LL + (now.tv_nsec - start.tv_nsec);
        const long long due = elapsed / period;
        while (next < due) {
            // Pieces within PIPE_BUF: each goes whole or not at all.
            unsigned char piece[16 * 255];
            int scans = 0;
            for (; next + scans < due && scans < 255; ++scans) {
                unsigned char* scan = piece + 16 * scans;
                qToLittleEndian(qint16((next + scans) % 100), scan);
                qToLittleEndian(qint16(0), scan + 2);
                qToLittleEndian(qint16(256), scan + 4);
                qToLittleEndian(qint16(0), scan + 6);
                qToLittleEndian(qint64(1'000'000'000) + (next + scans) * period, scan + 8);
            }
            const ssize_t written = ::write(fd, piece, size_t(16 * scans));
            if (written < 0 && errno == EPIPE)
                ::_exit(0);
            (written < 0 ? count->dropped : count->fed) += scans;
            next += scans;
        }
    }
}

struct Result {
    double seconds = 0.0;
    double cpuPerSecond = 0.0;
    long long written = 0;
    long long missing = 0;
    long long fed = 0;
    long long dropped = 0;
    double captureRate = 0.0;
};

class Quiet : public sensors::AccelerometerDelegate {
public:
    void accelerometer(sensors::Accelerometer&, const sensors::Acceleration&) override {
        ++delivered;
    }
    long long delivered = 0;
};

Result run(QCoreApplication& application, const QString& folder, bool capture, double live,
           double seconds, const QString& csvPath, FeedCount* count, const QByteArray& fifo) {
    pid_t child = -1;
    if (capture) {
        child = ::fork();
        if (child == 0)
            feed(fifo.constData(), count);
    }
    sensors::Accelerometer accelerometer;
    auto owned = std::make_unique<sensors::IioDriver>(folder);
    QString error;
    if (!owned->start(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        std::exit(1);
    }
    sensors::IioDriver* driver = owned.get();
    accelerometer.setDriver(std::move(owned));
    Quiet delegate;
    accelerometer.setUpdateInterval(1.0 / live);
    accelerometer.setDelegate(&delegate);
    sensors::SampleCsvWriter writer(csvPath, sensors::SampleCsvWriter::Existing::Replace);
    writer.open();
    Result result;
    double lastTime = -1.0;
    const double period = 1.0 / kChipRate;
    QTimer::singleShot(500, [&] {
        if (!capture)
            return;
        QString why;
        const bool started = driver->startCapture(
            kChipRate, accelerometer.now(),
            [&](const sensors::Acceleration& reading) {
                writer.append(reading);
                ++result.written;
                if (lastTime >= 0.0)
                    result.missing +=
                        std::max(0LL, std::llround((reading.timestamp - lastTime) / period) - 1);
                lastTime = reading.timestamp;
            },
            &result.captureRate, &why);
        if (!started) {
            std::fprintf(stderr, "cannot capture: %s\n", qPrintable(why));
            std::exit(1);
        }
    });
    const double cpu0 = cpuSeconds();
    const double wall0 = accelerometer.now();
    QTimer::singleShot(static_cast<int>(seconds * 1000.0) + 500, &application,
                       &QCoreApplication::quit);
    QCoreApplication::exec();
    if (capture)
        driver->stopCapture();
    accelerometer.setDelegate(nullptr);
    result.seconds = accelerometer.now() - wall0;
    result.cpuPerSecond = (cpuSeconds() - cpu0) / result.seconds;
    writer.close();
    if (child > 0) {
        ::kill(child, SIGTERM);
        ::waitpid(child, nullptr, 0);
        result.fed = count->fed;
        result.dropped = count->dropped;
    }
    return result;
}

} // namespace

int main(int argc, char** argv) {
    runUnderUmockdev(argc, argv);
    QCoreApplication application(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 600.0;
    const double live = argc > 2 ? std::atof(argv[2]) : 40.0;

    UMockdevTestbed* bed = umockdev_testbed_new();
    GError* failure = nullptr;
    if (!umockdev_testbed_add_from_file(
            bed, WOBBLESTAR_SOURCE_DIR "/tests/data/umockdev/adxl345-fifo.umockdev", &failure)) {
        std::fprintf(stderr, "%s\n", failure->message);
        return 1;
    }
    gchar* polled = umockdev_testbed_add_device(bed, "iio", "iio:device1", nullptr, "name",
                                                "lis3dh", "in_accel_x_raw", "12", "in_accel_y_raw",
                                                "-40", "in_accel_z_raw", "1030", "in_accel_scale",
                                                "0.009576806640625", nullptr, nullptr);
    gchar* root = umockdev_testbed_get_root_dir(bed);
    const QByteArray fifo = QByteArray(root) + "/dev/iio:device0";
    ::unlink(fifo.constData());
    if (::mkfifo(fifo.constData(), 0600) != 0) {
        std::perror(fifo.constData());
        return 1;
    }
    auto* count = static_cast<FeedCount*>(::mmap(nullptr, sizeof(FeedCount), PROT_READ | PROT_WRITE,
                                                 MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    new (count) FeedCount;
    QTemporaryDir folder;

    const Result captured =
        run(application, QStringLiteral("/sys/bus/iio/devices/iio:device0"), true, live, seconds,
            folder.filePath(QStringLiteral("capture.csv")), count, fifo);
    const double pollSeconds = std::min(seconds, 60.0);
    const Result polling = run(application, QString::fromUtf8(polled), false, live, pollSeconds,
                               folder.filePath(QStringLiteral("polled.csv")), count, {});

    std::printf("| reading | live rate | seconds | scans fed | scans dropped by the FIFO | rows "
                "written | scans missing | CPU per second (ms) | share of a core |\n"
                "|---|---|---|---|---|---|---|---|---|\n");
    std::printf("| buffer at %.0f Hz, every scan to the file | %.0f Hz | %.0f | %lld | %lld | "
                "%lld | %lld | %.2f | %.2f %% |\n",
                captured.captureRate, live, captured.seconds, captured.fed, captured.dropped,
                captured.written, captured.missing, captured.cpuPerSecond * 1e3,
                captured.cpuPerSecond * 100.0);
    std::printf("| polling three _raw files | %.0f Hz | %.0f |  |  |  |  | %.2f | %.2f %% |\n",
                live, polling.seconds, polling.cpuPerSecond * 1e3, polling.cpuPerSecond * 100.0);
    g_free(root);
    g_free(polled);
    g_object_unref(bed);
    return captured.missing == 0 && captured.dropped == 0 ? 0 : 1;
}
