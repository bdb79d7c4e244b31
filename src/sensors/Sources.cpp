#include "sensors/Sources.h"

#include "sensors/PhyphoxDriver.h"
#include "sensors/ReplayDriver.h"

#include "sensors/IioDriver.h"
#include "sensors/InputDriver.h"
#include "sensors/SimulatedDriver.h"

#include <QFileInfo>
#include <QSettings>
#include <QtDebug>
#include <grp.h>
#include <sys/stat.h>

namespace platform {

namespace {

const char* const kChoices = "auto, sim[:SEED], iio[:NAME], input[:PATH], replay:FILE, phyphox:URL";

QString withChoices(const QString& problem) {
    return problem + QStringLiteral(" (choose %1; --list-sources shows the sensors found)")
                         .arg(QLatin1String(kChoices));
}

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

// The map for a sensor of `kind`: --axes, else the stored setting, else the driver's default.
// A bad --axes is the user's mistake now and fails; a bad setting is old and only warned about.
std::optional<AxisMap> axesFor(const QString& kind, const SourceRequest& options,
                               const AxisMap& fallback, QString* error) {
    if (!options.axes.isEmpty())
        return AxisMap::parse(options.axes, error);
    const QString stored = QSettings().value(QStringLiteral("axes/") + kind).toString();
    if (stored.isEmpty())
        return fallback;
    QString problem;
    if (std::optional<AxisMap> map = AxisMap::parse(stored, &problem))
        return map;
    qWarning("Ignoring the setting axes/%s: %s", qPrintable(kind), qPrintable(problem));
    return fallback;
}

std::unique_ptr<AccelerometerDriver> startSensor(const SourceInfo& info,
                                                 const SourceRequest& options, QString* error) {
    const bool iio = info.kind == QLatin1String("iio");
    const AxisMap fallback = iio ? IioDriver::defaultAxes(info.name) : InputDriver::defaultAxes();
    const std::optional<AxisMap> axes = axesFor(info.kind, options, fallback, error);
    if (!axes)
        return nullptr;
    std::unique_ptr<AccelerometerDriver> driver;
    if (iio)
        driver = std::make_unique<IioDriver>(info.path, *axes);
    else
        driver = std::make_unique<InputDriver>(info.path, InputDriver::openerFor(info.path), *axes);
    if (!driver->start(error))
        return nullptr;
    return driver;
}

std::unique_ptr<AccelerometerDriver> createAuto(const SourceRequest& options, QString* error) {
    QStringList skipped;
    for (const SourceInfo& info : detectSources()) {
        QString problem;
        if (auto driver = startSensor(info, options, &problem)) {
            qInfo("Reading from %s", qPrintable(driver->description()));
            return driver;
        }
        skipped << problem;
    }
    auto simulated = createSimulated(QString(), error);
    qInfo(
        "Reading from %s: %s", qPrintable(simulated->description()),
        skipped.isEmpty()
            ? "no sensor found"
            : qPrintable(
                  QStringLiteral("no usable sensor (%1)").arg(skipped.join(QStringLiteral("; ")))));
    return simulated;
}

std::unique_ptr<AccelerometerDriver> createIio(const QString& name, const SourceRequest& options,
                                               QString* error) {
    const QString source = name.isEmpty() ? QStringLiteral("iio") : QStringLiteral("iio:") + name;
    const std::vector<SourceInfo> found = IioDriver::discover();
    QStringList names;
    for (const SourceInfo& info : found) {
        if (name.isEmpty() || info.name == name || QFileInfo(info.path).fileName() == name ||
            info.path == name) {
            QString problem;
            if (auto driver = startSensor(info, options, &problem))
                return driver;
            *error = withChoices(QStringLiteral("Unusable source '%1': %2").arg(source, problem));
            return nullptr;
        }
        names << QStringLiteral("%1 (%2)").arg(info.name, QFileInfo(info.path).fileName());
    }
    const QString where = IioDriver::sysfsRoot() + QStringLiteral("/bus/iio/devices");
    *error = withChoices(
        names.isEmpty()
            ? QStringLiteral("Unusable source '%1': no IIO accelerometer under %2")
                  .arg(source, where)
            : QStringLiteral("Unusable source '%1': no IIO accelerometer of that name; found %2")
                  .arg(source, names.join(QStringLiteral(", "))));
    return nullptr;
}

std::unique_ptr<AccelerometerDriver> createInput(const QString& path, const SourceRequest& options,
                                                 QString* error) {
    const QString source =
        path.isEmpty() ? QStringLiteral("input") : QStringLiteral("input:") + path;
    SourceInfo info{QStringLiteral("input"), QString(), path, QString()};
    if (path.isEmpty()) {
        const std::vector<SourceInfo> found = InputDriver::discover();
        if (found.empty()) {
            *error = withChoices(
                QStringLiteral("Unusable source 'input': no readable input accelerometer in %1")
                    .arg(InputDriver::inputRoot()));
            return nullptr;
        }
        info = found.front();
    } else if (!path.contains(QLatin1Char('/'))) {
        info.path = InputDriver::inputRoot() + QLatin1Char('/') + path; // "event5"
    }
    QString problem;
    if (auto driver = startSensor(info, options, &problem))
        return driver;
    *error = withChoices(QStringLiteral("Unusable source '%1': %2").arg(source, problem));
    return nullptr;
}

} // namespace

std::vector<SourceInfo> detectSources() {
    std::vector<SourceInfo> sources = IioDriver::discover();
    for (SourceInfo& info : InputDriver::discover())
        sources.push_back(std::move(info));
    return sources;
}

bool byDeviceNumber(const QString& a, const QString& b) {
    auto split = [](const QString& name) {
        qsizetype digits = name.size();
        while (digits > 0 && name.at(digits - 1).isDigit())
            --digits;
        return std::pair(name.left(digits), name.mid(digits).toULongLong());
    };
    return split(a) < split(b);
}

QString accessDeniedMessage(const QString& path) {
    struct stat status {};
    QString group;
    if (::stat(QFile::encodeName(path).constData(), &status) == 0)
        if (const struct group* entry = ::getgrgid(status.st_gid))
            group = QString::fromLocal8Bit(entry->gr_name);
    if (group.isEmpty() || group == QLatin1String("root"))
        return QStringLiteral("Permission denied reading %1: give your user access with a udev "
                              "rule (see docs/sensors.md)")
            .arg(path);
    return QStringLiteral("Permission denied reading %1: join its group with 'sudo usermod -aG "
                          "%2 $USER' and log in again, or add a udev rule (see docs/sensors.md)")
        .arg(path, group);
}

std::unique_ptr<AccelerometerDriver> createSource(const SourceRequest& options, QString* error) {
    const QString& source = options.source;
    const qsizetype colon = source.indexOf(QLatin1Char(':'));
    const QString kind = colon < 0 ? source : source.left(colon);
    const QString argument = colon < 0 ? QString() : source.mid(colon + 1);

    QString problem;
    if (!options.axes.isEmpty() && !AxisMap::parse(options.axes, &problem)) {
        *error = problem;
        return nullptr;
    }
    if (kind == QLatin1String("replay") || kind == QLatin1String("phyphox"))
        return createRecordedOrRemote(kind, argument, options.loop, error);
    if (kind == QLatin1String("auto") && argument.isEmpty())
        return createAuto(options, error);
    if (kind == QLatin1String("sim"))
        return createSimulated(argument, error);
    if (kind == QLatin1String("iio"))
        return createIio(argument, options, error);
    if (kind == QLatin1String("input"))
        return createInput(argument, options, error);
    *error = QStringLiteral("Unknown source '%1': choose %2").arg(source, QLatin1String(kChoices));
    return nullptr;
}

} // namespace platform
