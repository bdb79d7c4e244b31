// How closely the accelerometer service holds its update interval when it reads an IIO
// accelerometer, and what that costs: runs the IIO driver on a fake sysfs tree at 40, 80 and
// 120 samples per second for a number of seconds each and reports the delivered rate, the
// deviation of each interval between two deliveries from the requested interval and, at 120 Hz, the
// CPU time per second of sampling (getrusage: the whole process, and the main thread alone).
//
//   bench_iio_interval [seconds per rate, default 10]
#include "DeliveryTimes.h"
#include "sensors/Accelerometer.h"
#include "sensors/IioDriver.h"
#include "sensors/SampleRates.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

namespace {

double cpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

void write(const QString& folder, const char* file, const char* text) {
    QFile out(folder + QLatin1Char('/') + QLatin1String(file));
    if (out.open(QIODevice::WriteOnly))
        out.write(text);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;

    QTemporaryDir root;
    const QString folder = root.path() + QStringLiteral("/bus/iio/devices/iio:device0");
    QDir().mkpath(folder);
    write(folder, "name", "lis3dh\n");
    write(folder, "in_accel_x_raw", "12\n");
    write(folder, "in_accel_y_raw", "-40\n");
    write(folder, "in_accel_z_raw", "1030\n");
    write(folder, "in_accel_scale", "0.009576806640625\n");
    write(folder, "mount_matrix", "0, -1, 0; 1, 0, 0; 0, 0, 1\n");

    DeliveryTimes::printHeader();
    double processCpu = 0.0, mainThreadCpu = 0.0, measured = 0.0;
    for (const sensors::SampleRate sampleRate : sensors::kSampleRates) {
        const double rate = sampleRate.perSecond;
        sensors::Accelerometer accelerometer;
        auto driver = std::make_unique<sensors::IioDriver>(folder);
        QString error;
        if (!driver->start(&error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        accelerometer.setDriver(std::move(driver));
        QElapsedTimer clock;
        DeliveryTimes collector(clock);
        const double interval = sampleRate.interval;
        clock.start();
        const double process0 = cpuSeconds(RUSAGE_SELF), thread0 = cpuSeconds(RUSAGE_THREAD);
        accelerometer.setUpdateInterval(interval);
        accelerometer.setDelegate(&collector);
        QTimer::singleShot(static_cast<int>(seconds * 1000.0 + interval * 500.0), &application,
                           &QCoreApplication::quit);
        QCoreApplication::exec();
        accelerometer.setDelegate(nullptr);
        if (rate == 120.0) {
            measured = static_cast<double>(clock.nsecsElapsed()) * 1e-9;
            processCpu = cpuSeconds(RUSAGE_SELF) - process0;
            mainThreadCpu = cpuSeconds(RUSAGE_THREAD) - thread0;
        }

        if (collector.times.size() < 2) {
            std::fprintf(stderr, "no readings at %.0f Hz\n", rate);
            return 1;
        }
        collector.printRow(rate, interval);
    }
    std::printf("\nCPU time per second of sampling at 120 Hz: %.2f ms (whole process), "
                "%.2f ms (main thread)\n",
                processCpu / measured * 1e3, mainThreadCpu / measured * 1e3);

    // The same service with the built-in simulated sensor, for comparison.
    {
        sensors::Accelerometer accelerometer;
        QElapsedTimer clock;
        DeliveryTimes collector(clock);
        clock.start();
        const double process0 = cpuSeconds(RUSAGE_SELF);
        accelerometer.setUpdateInterval(1.0 / 120.0);
        accelerometer.setDelegate(&collector);
        QTimer::singleShot(static_cast<int>(seconds * 1000.0), &application,
                           &QCoreApplication::quit);
        QCoreApplication::exec();
        accelerometer.setDelegate(nullptr);
        const double elapsed = static_cast<double>(clock.nsecsElapsed()) * 1e-9;
        std::printf("Simulated sensor at 120 Hz, for comparison: %.2f ms per second\n",
                    (cpuSeconds(RUSAGE_SELF) - process0) / elapsed * 1e3);
    }
    return 0;
}
