#pragma once

#include "sensors/AccelerometerDriver.h"
#include "sensors/Sources.h"

#include <cstdint>

namespace sensors {

// A simulated accelerometer for machines without one, and for tests.
//
// The device lies face up on a table that is not quite level, reading about (0, 0, -1) g with a
// little sensor noise; it tilts slowly, and now and then it is tapped (a short ringing spike)
// or shaken (a few seconds of oscillation, sometimes beyond ±3 g). The reading is a pure
// function of the seed and the time, so the same seed gives the same readings.
class SimulatedDriver final : public AccelerometerDriver {
    Q_OBJECT
public:
    static constexpr std::uint64_t kDefaultSeed = 1;
    // The simulated chip's own output rate; readings hold between its samples.
    static constexpr double kSensorRate = 400.0;

    // `sim[:SEED]`: another seed gives other taps and shakes.
    static SourceKind sourceKind();

    explicit SimulatedDriver(std::uint64_t seed = kDefaultSeed, QObject* parent = nullptr);

    QString description() const override;
    bool start(QString* error) override;
    std::optional<Acceleration> read(double now) override;

    // The reading at `seconds` after the start of the simulation.
    Acceleration readingAt(double seconds) const;
    std::uint64_t seed() const { return seed_; }

private:
    struct Vector {
        double x = 0.0, y = 0.0, z = 0.0;
    };
    Vector gravity(double t) const;
    Vector noise(std::int64_t sampleIndex) const;
    Vector disturbance(double t) const;

    std::uint64_t seed_;
    double tiltPhase_[6] = {};
};

} // namespace sensors
