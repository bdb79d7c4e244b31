// What reading an IIO accelerometer's buffer costs next to polling its sysfs files, and how
// closely the accelerometer service then holds its interval. Both run in umockdev's sysfs (the
// program starts itself again under umockdev-run when it is not there already):
//
//   - polled: a chip with in_accel_{x,y,z}_raw, read three files per sample;
//   - buffered: a HID hub's accel_3d as udev shows one, whose /dev/iio:device0 is a FIFO that a
//     child process fills with whole scans (three s32 axes and the s64 timestamp) at 120 Hz, as
//     the kernel does. The child's CPU time is not counted.
//
// For each, the service runs at 40, 80 and 120 Hz for some seconds each; the program reports the
// deviation of each gap between two deliveries from the interval, the share of deliveries that
// carried a scan not delivered before, and the CPU time per second of sampling at 120 Hz
// (getrusage: the whole process, every thread of the driver included).
//
//   bench_iio_buffered [seconds per rate, default 10]

// umockdev's GLib headers use `signals` as a name: they go before any Qt header.
// clang-format off
#include "UnderUmockdev.h"
#include <umockdev.h>
// clang-format on

#include "DeliveryTimes.h"
#include "sensors/Accelerometer.h"
#include "sensors/IioDriver.h"
#include "sensors/SampleRates.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <QtEndian>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// Fills the FIFO at `node` with scans at `rate` until the reader goes or the parent ends it.
// Only async-signal-safe calls: it runs in a fork of a threaded process.
[[noreturn]] void writeScans(const char* node, double rate) {
    std::signal(SIGPIPE, SIG_IGN);
    const int fd = ::open(node, O_WRONLY); // waits for the driver to open the buffer
    if (fd < 0)
        ::_exit(1);
    const long period = static_cast<long>(1e9 / rate);
    timespec next{};
    ::clock_gettime(CLOCK_MONOTONIC, &next);
    for (qint32 count = 0;; ++count) {
        next.tv_nsec += period;
        if (next.tv_nsec >= 1'000'000'000L) {
            next.tv_nsec -= 1'000'000'000L;
            ++next.tv_sec;
        }
        ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
        unsigned char scan[24] = {};
        // Lying flat, X counting up so that every scan differs from the one before.
        qToLittleEndian(count % 100, scan);
        qToLittleEndian(qint32(0), scan + 4);
        qToLittleEndian(qint32(-1000), scan + 8);
        qToLittleEndian(qint64(next.tv_sec) * 1'000'000'000 + next.tv_nsec, scan + 16);
        if (::write(fd, scan, sizeof scan) != sizeof scan && errno != EAGAIN)
            ::_exit(0);
    }
}

class Collector : public DeliveryTimes {
public:
    using DeliveryTimes::DeliveryTimes;
    void accelerometer(sensors::Accelerometer& a, const sensors::Acceleration& r) override {
        DeliveryTimes::accelerometer(a, r);
        fresh += r.x != lastX ? 1 : 0;
        lastX = r.x;
    }
    int fresh = 0;
    double lastX = -1e9;
};

void printHeader() {
    std::printf("| reading | rate | delivered | p50 deviation (ms) | p99 deviation (ms) | max "
                "deviation (ms) | deliveries with a new scan | CPU per second (ms) |\n"
                "|---|---|---|---|---|---|---|---|\n");
}

void printRow(const char* label, double rate, const DeliveryTimes& times, const char* fresh,
              double cpuPerSecond) {
    const DeliveryTimes::Summary s = times.summary(1.0 / rate);
    std::printf("| %s | %.0f Hz | %.2f Hz | %.3f | %.3f | %.3f | %s | %.2f |\n", label, rate,
                s.delivered, s.p50, s.p99, s.max, fresh, cpuPerSecond * 1e3);
}

// The machine's own floor: a bare loop on a timerfd, no event loop, no driver.
void measureTimerfd(double seconds) {
    for (const sensors::SampleRate sampleRate : sensors::kSampleRates) {
        const double rate = sampleRate.perSecond;
        const int fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
        const auto period = static_cast<long>(std::llround(1e9 / rate));
        const itimerspec every{{0, period}, {0, period}};
        ::timerfd_settime(fd, 0, &every, nullptr);
        QElapsedTimer clock;
        DeliveryTimes times(clock);
        clock.start();
        const double cpu0 = cpuSeconds();
        while (clock.nsecsElapsed() < static_cast<qint64>(seconds * 1e9)) {
            quint64 expirations = 0;
            if (::read(fd, &expirations, sizeof expirations) == sizeof expirations)
                times.times.push_back(static_cast<double>(clock.nsecsElapsed()) * 1e-9);
        }
        ::close(fd);
        printRow("timerfd alone", rate, times, "",
                 (cpuSeconds() - cpu0) / (static_cast<double>(clock.nsecsElapsed()) * 1e-9));
    }
}

// The service with the driver of `folder` (none: the simulated sensor) at each rate; a child
// fills `fifo` with scans when it is given. Returns the CPU time per second at 120 Hz.
double measure(QCoreApplication& application, const char* label, const QString& folder,
               const QByteArray& fifo, double seconds) {
    double cpuAt120 = 0.0;
    for (const sensors::SampleRate sampleRate : sensors::kSampleRates) {
        const double rate = sampleRate.perSecond;
        pid_t writer = -1;
        if (!fifo.isEmpty()) {
            writer = ::fork();
            if (writer == 0)
                writeScans(fifo.constData(), 120.0);
        }
        sensors::Accelerometer accelerometer;
        if (!folder.isEmpty()) {
            auto driver = std::make_unique<sensors::IioDriver>(folder);
            QString error;
            if (!driver->start(&error)) {
                std::fprintf(stderr, "%s\n", qPrintable(error));
                std::exit(1);
            }
            accelerometer.setDriver(std::move(driver));
        }
        QElapsedTimer clock;
        Collector collector(clock);
        const double interval = sampleRate.interval;
        clock.start();
        const double cpu0 = cpuSeconds();
        accelerometer.setUpdateInterval(interval);
        accelerometer.setDelegate(&collector);
        QTimer::singleShot(static_cast<int>(seconds * 1000.0 + interval * 500.0), &application,
                           &QCoreApplication::quit);
        QCoreApplication::exec();
        accelerometer.setDelegate(nullptr);
        const double cpu =
            (cpuSeconds() - cpu0) / (static_cast<double>(clock.nsecsElapsed()) * 1e-9);
        if (writer > 0) {
            ::kill(writer, SIGTERM);
            ::waitpid(writer, nullptr, 0);
        }
        if (collector.times.size() < 2) {
            std::fprintf(stderr, "%s: no readings at %.0f Hz\n", label, rate);
            std::exit(1);
        }
        const QByteArray fresh =
            fifo.isEmpty() ? QByteArray()
                           : QByteArray::number(100.0 * collector.fresh /
                                                    static_cast<double>(collector.times.size()),
                                                'f', 1) +
                                 " %";
        printRow(label, rate, collector, fresh.constData(), cpu);
        if (rate == 120.0)
            cpuAt120 = cpu;
    }
    return cpuAt120;
}

} // namespace

int main(int argc, char** argv) {
    runUnderUmockdev(argc, argv);
    QCoreApplication application(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;

    UMockdevTestbed* bed = umockdev_testbed_new();
    GError* failure = nullptr;
    if (!umockdev_testbed_add_from_file(
            bed, WOBBLESTAR_SOURCE_DIR "/tests/data/umockdev/hid-accel-3d-buffered.umockdev",
            &failure)) {
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

    printHeader();
    measureTimerfd(seconds);
    const double simulated = measure(application, "simulated sensor", {}, {}, seconds);
    const double polling =
        measure(application, "IIO, polling sysfs", QString::fromUtf8(polled), {}, seconds);
    const double buffered =
        measure(application, "IIO, reading the buffer",
                QStringLiteral("/sys/bus/iio/devices/iio:device0"), fifo, seconds);
    std::printf("\nAt 120 Hz, reading the buffer costs %.2f of polling's CPU time; above the "
                "simulated sensor (the service alone), the buffer adds %.2f ms per second and "
                "polling %.2f ms.\n",
                buffered / polling, (buffered - simulated) * 1e3, (polling - simulated) * 1e3);
    g_free(root);
    g_free(polled);
    g_object_unref(bed);
    return 0;
}
