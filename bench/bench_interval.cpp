// How closely the accelerometer service holds its update interval: runs the simulated driver
// at 40, 80 and 120 samples per second for a number of seconds each and reports the delivered
// rate and how far each interval between two deliveries strays from the requested interval.
//
//   bench_interval [seconds per rate, default 10]
#include "DeliveryTimes.h"
#include "sensors/Accelerometer.h"
#include "sensors/SampleRates.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    DeliveryTimes::printHeader();
    for (const sensors::SampleRate sampleRate : sensors::kSampleRates) {
        const double rate = sampleRate.perSecond;
        sensors::Accelerometer accelerometer;
        QElapsedTimer clock;
        DeliveryTimes collector(clock);
        const double interval = sampleRate.interval;
        clock.start();
        accelerometer.setUpdateInterval(interval);
        accelerometer.setDelegate(&collector);
        QTimer::singleShot(static_cast<int>(seconds * 1000.0 + interval * 500.0), &application,
                           &QCoreApplication::quit);
        QCoreApplication::exec();
        accelerometer.setDelegate(nullptr);

        collector.printRow(rate, interval);
    }
    return 0;
}
