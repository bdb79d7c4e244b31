#pragma once
// Shared by the interval benchmarks: collects the time of every delivery of the accelerometer
// service and reports how closely the gaps between deliveries keep the requested interval.

#include "sensors/Accelerometer.h"

#include <QElapsedTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

class DeliveryTimes : public sensors::AccelerometerDelegate {
public:
    explicit DeliveryTimes(const QElapsedTimer& clock) : clock_(clock) {}
    void accelerometer(sensors::Accelerometer&, const sensors::Acceleration&) override {
        times.push_back(static_cast<double>(clock_.nsecsElapsed()) * 1e-9);
    }

    static void printHeader() {
        std::printf(
            "| requested rate | interval (ms) | delivered rate | rate error | p50 deviation "
            "(ms) | p99 deviation (ms) | max deviation (ms) |\n");
        std::printf("|---|---|---|---|---|---|---|\n");
    }

    struct Summary {
        double delivered = 0.0;                 // Hz
        double p50 = 0.0, p99 = 0.0, max = 0.0; // deviation of a gap from the interval, ms
    };
    Summary summary(double interval) const {
        Summary result;
        if (times.size() < 2)
            return result;
        std::vector<double> deviations;
        for (size_t n = 1; n < times.size(); ++n)
            deviations.push_back(std::abs((times[n] - times[n - 1]) - interval) * 1e3);
        result.delivered = static_cast<double>(times.size() - 1) / (times.back() - times.front());
        result.p50 = percentile(deviations, 0.50);
        result.p99 = percentile(deviations, 0.99);
        result.max = percentile(deviations, 1.0);
        return result;
    }

    // One table row: the delivered rate and the deviation of each gap from `interval`.
    void printRow(double rate, double interval) const {
        if (times.size() < 2)
            return;
        const Summary s = summary(interval);
        std::printf("| %.0f Hz | %.4f | %.2f Hz | %+.3f %% | %.3f | %.3f | %.3f |\n", rate,
                    interval * 1e3, s.delivered, (s.delivered / rate - 1.0) * 100.0, s.p50, s.p99,
                    s.max);
    }

    std::vector<double> times;

private:
    static double percentile(std::vector<double> values, double p) {
        if (values.empty())
            return 0.0;
        std::sort(values.begin(), values.end());
        const auto index =
            static_cast<size_t>(std::ceil(p * static_cast<double>(values.size()))) - 1;
        return values[std::min(index, values.size() - 1)];
    }

    const QElapsedTimer& clock_;
};
