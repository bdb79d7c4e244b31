#include "platform/accel/Sources.h"

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

} // namespace

std::vector<SourceInfo> detectSources() {
    return {};
}

std::unique_ptr<AccelerometerDriver> createSource(const LaunchOptions& options, QString* error) {
    const QString& source = options.source;
    const qsizetype colon = source.indexOf(QLatin1Char(':'));
    const QString kind = colon < 0 ? source : source.left(colon);
    const QString argument = colon < 0 ? QString() : source.mid(colon + 1);

    if (kind == QLatin1String("auto"))
        return createSimulated(QString(), error);
    if (kind == QLatin1String("sim"))
        return createSimulated(argument, error);
    *error = QStringLiteral("Unknown source '%1': choose %2").arg(source, QLatin1String(kChoices));
    return nullptr;
}

} // namespace platform
