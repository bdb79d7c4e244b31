#include "platform/accel/Sources.h"

#include "platform/accel/PhyphoxDriver.h"
#include "platform/accel/ReplayDriver.h"
#include "platform/accel/SimulatedDriver.h"

namespace platform {

namespace {

const char* const kChoices = "auto, sim[:SEED], iio[:NAME], input[:PATH], replay:FILE, phyphox:URL";

std::unique_ptr<AccelerometerDriver> createSimulated(const QString& argument, QString* error) {
    std::uint64_t seed = SimulatedDriver::kDefaultSeed;
    if (!argument.isEmpty()) {
        bool ok = false;
        seed = argument.toULongLong(&ok);
        if (!ok) {
            *error = QStringLiteral("Unusable source 'sim:%1': the seed must be a whole number")
                         .arg(argument);
            return nullptr;
        }
    }
    auto driver = std::make_unique<SimulatedDriver>(seed);
    driver->start(nullptr);
    return driver;
}

// A recording (replay:FILE) or a phone on the network (phyphox:URL); null with `error` empty
// for any other kind.
std::unique_ptr<AccelerometerDriver>
createRecordedOrRemote(const QString& kind, const QString& argument, bool loop, QString* error) {
    std::unique_ptr<AccelerometerDriver> driver;
    if (kind == QLatin1String("replay")) {
        if (argument.isEmpty()) {
            *error = QStringLiteral("Unusable source 'replay:': name the file, e.g. "
                                    "replay:ride.csv");
            return nullptr;
        }
        driver = std::make_unique<ReplayDriver>(argument, loop);
    } else if (kind == QLatin1String("phyphox")) {
        // "phyphox:192.168.0.42:8080" means the same as "phyphox:http://192.168.0.42:8080".
        const QString address = argument.contains(QLatin1String("://"))
                                    ? argument
                                    : QStringLiteral("http://") + argument;
        driver = std::make_unique<PhyphoxDriver>(QUrl(address, QUrl::StrictMode));
    } else {
        return nullptr;
    }
    if (!driver->start(error))
        return nullptr;
    return driver;
}

} // namespace

std::vector<SourceInfo> detectSources() {
    return {};
}

std::unique_ptr<AccelerometerDriver> createSource(const LaunchOptions& options, QString* error) {
    const QString& source = options.source;
    const qsizetype colon = source.indexOf(QLatin1Char(':'));
    const QString kind = colon < 0 ? source : source.left(colon);
    const QString argument = colon < 0 ? QString() : source.mid(colon + 1);

    if (kind == QLatin1String("replay") || kind == QLatin1String("phyphox"))
        return createRecordedOrRemote(kind, argument, options.loop, error);
    if (kind == QLatin1String("auto"))
        return createSimulated(QString(), error);
    if (kind == QLatin1String("sim"))
        return createSimulated(argument, error);
    *error = QStringLiteral("Unknown source '%1': choose %2").arg(source, QLatin1String(kChoices));
    return nullptr;
}

} // namespace platform
