// How closely the accelerometer service holds its update interval: runs the simulated driver
// at 40, 80 and 120 samples per second for a number of seconds each and reports the delivered
// rate and the deviation of each delivery from its ideal time (start + n * interval).
//
//   bench_interval [seconds per rate, default 10]
#include "platform/accel/Accelerometer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

class Collector : public platform::AccelerometerDelegate {
public:
    explicit Collector(const QElapsedTimer& clock) : clock_(clock) {}
    void accelerometer(platform::Accelerometer&, const platform::Acceleration&) override {
        times.push_back(static_cast<double>(clock_.nsecsElapsed()) * 1e-9);
    }
    std::vector<double> times;

private:
    const QElapsedTimer& clock_;
};

double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<size_t>(std::ceil(p * static_cast<double>(values.size()))) - 1;
    return values[std::min(index, values.size() - 1)];
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    std::printf("| requested rate | interval (ms) | delivered rate | rate error | p50 deviation "
                "(ms) | p99 deviation (ms) | max deviation (ms) |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    for (const double rate : {40.0, 80.0, 120.0}) {
        platform::Accelerometer accelerometer;
        QElapsedTimer clock;
        Collector collector(clock);
        const double interval = rate == 40.0 ? 0.025 : rate == 80.0 ? 0.0125 : 1.0 / 120.0;
        clock.start();
        accelerometer.setUpdateInterval(interval);
        accelerometer.setDelegate(&collector);
        QTimer::singleShot(static_cast<int>(seconds * 1000.0 + interval * 500.0), &application,
                           &QCoreApplication::quit);
        QCoreApplication::exec();
        accelerometer.setDelegate(nullptr);

        const auto& t = collector.times;
        const double first = t.front();
        std::vector<double> deviations;
        for (size_t n = 0; n < t.size(); ++n)
            deviations.push_back(std::abs(t[n] - (first + static_cast<double>(n) * interval)) *
                                 1e3);
        const double delivered = static_cast<double>(t.size() - 1) / (t.back() - first);
        std::printf("| %.0f Hz | %.4f | %.2f Hz | %+.3f %% | %.3f | %.3f | %.3f |\n", rate,
                    interval * 1e3, delivered, (delivered / rate - 1.0) * 100.0,
                    percentile(deviations, 0.50), percentile(deviations, 0.99),
                    percentile(deviations, 1.0));
    }
    return 0;
}
