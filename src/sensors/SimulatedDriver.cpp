#include "sensors/SimulatedDriver.h"

#include <cmath>
#include <numbers>

namespace sensors {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kDegree = std::numbers::pi / 180.0;

// SplitMix64: a counter-based generator, so any sample can be drawn without its predecessors.
std::uint64_t mix(std::uint64_t value) {
    value += 0x9E3779B97F4A7C15ULL;
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ULL;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBULL;
    return value ^ (value >> 31);
}

std::uint64_t hash(std::uint64_t seed, std::uint64_t a, std::uint64_t b) {
    return mix(mix(mix(seed) ^ a) ^ (b * 0xD6E8FEB86659FD93ULL));
}

// Uniform in [0, 1) from the top 53 bits.
double unit(std::uint64_t bits) {
    return static_cast<double>(bits >> 11) * 0x1.0p-53;
}

// Standard normal deviate from two uniform draws (Box-Muller).
double gaussian(std::uint64_t seed, std::uint64_t a, std::uint64_t b) {
    const double u1 = 1.0 - unit(hash(seed, a, 2 * b));
    const double u2 = unit(hash(seed, a, 2 * b + 1));
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(kTwoPi * u2);
}

// Events happen inside windows of this length, at most one per window, and end inside it.
constexpr double kEventWindow = 5.0;
// Noise density of a typical MEMS accelerometer at this bandwidth, in g.
constexpr double kNoiseSigma = 0.006;

} // namespace

SimulatedDriver::SimulatedDriver(std::uint64_t seed, QObject* parent)
    : AccelerometerDriver(parent), seed_(seed) {
    for (int i = 0; i < 6; ++i)
        tiltPhase_[i] = kTwoPi * unit(hash(seed_, 0x7117, static_cast<std::uint64_t>(i)));
}

QString SimulatedDriver::description() const {
    return QStringLiteral("simulated (seed %1)").arg(seed_);
}

bool SimulatedDriver::start(QString* /*error*/) {
    return true;
}

std::optional<Acceleration> SimulatedDriver::read(double now) {
    return readingAt(now);
}

SimulatedDriver::Vector SimulatedDriver::gravity(double t) const {
    // The table is a few degrees off level; the device creeps around on it slowly.
    const double pitch = 2.0 * kDegree +
                         6.0 * kDegree * std::sin(kTwoPi * t / 23.0 + tiltPhase_[0]) +
                         3.0 * kDegree * std::sin(kTwoPi * t / 7.3 + tiltPhase_[1]) +
                         1.0 * kDegree * std::sin(kTwoPi * t / 2.9 + tiltPhase_[2]);
    const double roll = -1.5 * kDegree +
                        8.0 * kDegree * std::sin(kTwoPi * t / 31.0 + tiltPhase_[3]) +
                        2.5 * kDegree * std::sin(kTwoPi * t / 11.0 + tiltPhase_[4]) +
                        1.0 * kDegree * std::sin(kTwoPi * t / 3.7 + tiltPhase_[5]);
    // Gravity of a face-up device, (0, 0, -1), turned by the pitch about X and the roll about Y.
    return Vector{std::sin(roll) * std::cos(pitch), -std::sin(pitch),
                  -std::cos(roll) * std::cos(pitch)};
}

SimulatedDriver::Vector SimulatedDriver::noise(std::int64_t sampleIndex) const {
    const auto index = static_cast<std::uint64_t>(sampleIndex);
    return Vector{kNoiseSigma * gaussian(seed_, index, 0), kNoiseSigma * gaussian(seed_, index, 1),
                  kNoiseSigma * gaussian(seed_, index, 2)};
}

SimulatedDriver::Vector SimulatedDriver::disturbance(double t) const {
    const double windowStart = std::floor(t / kEventWindow) * kEventWindow;
    const auto window = static_cast<std::uint64_t>(static_cast<std::int64_t>(windowStart));
    auto draw = [&](std::uint64_t what) { return unit(hash(seed_, 0xE7E47 + window, what)); };
    if (windowStart < kEventWindow)
        return {}; // a quiet first window: the user sees the device at rest first

    const double kind = draw(0);
    // A random direction, mostly in the screen's plane for shakes and along Z for taps.
    const double azimuth = kTwoPi * draw(1);
    const double elevation = (draw(2) - 0.5) * std::numbers::pi;
    if (kind < 0.45) {
        // A tap: a ringing spike of the casing, 25-40 Hz, dying away in a few hundredths of a s.
        const double start = windowStart + 0.5 + 3.5 * draw(3);
        const double age = t - start;
        if (age < 0.0 || age > 0.4)
            return {};
        const double amplitude = 0.4 + 2.2 * draw(4);
        const double frequency = 25.0 + 15.0 * draw(5);
        const double value = amplitude * std::exp(-age / 0.04) * std::sin(kTwoPi * frequency * age);
        const double tilt = 0.3 * std::cos(elevation);
        return Vector{value * tilt * std::cos(azimuth), value * tilt * std::sin(azimuth),
                      value * std::sqrt(1.0 - tilt * tilt)};
    }
    if (kind < 0.70) {
        // A shake by hand: 3-6 Hz for 1-2.5 s, swelling and fading, sometimes past ±3 g.
        const double start = windowStart + 0.5 + 1.5 * draw(3);
        const double duration = 1.0 + 1.5 * draw(4);
        const double age = t - start;
        if (age < 0.0 || age > duration)
            return {};
        const double amplitude = 0.8 + 3.7 * draw(5) * draw(6) + 1.5 * draw(7);
        const double frequency = 3.0 + 3.0 * draw(8);
        const double envelope = std::pow(std::sin(std::numbers::pi * age / duration), 2.0);
        const double value = amplitude * envelope * std::sin(kTwoPi * frequency * age);
        const double lift = 0.35 * std::sin(elevation);
        const double flat = std::sqrt(1.0 - lift * lift);
        return Vector{value * flat * std::cos(azimuth), value * flat * std::sin(azimuth),
                      value * lift};
    }
    return {};
}

Acceleration SimulatedDriver::readingAt(double seconds) const {
    // The chip samples at its own rate; between its samples the newest one holds.
    const auto index = static_cast<std::int64_t>(std::floor(std::max(0.0, seconds) * kSensorRate));
    const double t = static_cast<double>(index) / kSensorRate;
    const Vector g = gravity(t);
    const Vector n = noise(index);
    const Vector d = disturbance(t);
    return Acceleration{g.x + n.x + d.x, g.y + n.y + d.y, g.z + n.z + d.z, seconds};
}

} // namespace sensors

namespace sensors {

SourceKind SimulatedDriver::sourceKind() {
    SourceKind kind;
    kind.kind = QStringLiteral("sim");
    kind.usage = QStringLiteral("sim[:SEED]");
    kind.create = [](const QString& argument, const SourceRequest&, const AxisMap&,
                     QString* error) -> std::unique_ptr<AccelerometerDriver> {
        std::uint64_t seed = kDefaultSeed;
        if (!argument.isEmpty()) {
            bool ok = false;
            seed = argument.toULongLong(&ok);
            if (!ok) {
                *error = QStringLiteral("Unusable source 'sim:%1': the seed must be a whole "
                                        "number")
                             .arg(argument);
                return nullptr;
            }
        }
        auto driver = std::make_unique<SimulatedDriver>(seed);
        driver->start(error);
        return driver;
    };
    return kind;
}

} // namespace sensors
