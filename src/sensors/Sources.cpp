#include "sensors/Sources.h"

#include "sensors/IioDriver.h"
#include "sensors/InputDriver.h"
#include "sensors/MqttDriver.h"
#include "sensors/PhyphoxDriver.h"
#include "sensors/PushDriver.h"
#include "sensors/ReplayDriver.h"
#include "sensors/SensorFiles.h"
#include "sensors/SimulatedDriver.h"

#include <QFileInfo>
#include <QMetaObject>
#include <QSettings>
#include <QtDebug>
#include <algorithm>

namespace sensors {

namespace {

QString choices() {
    QStringList usages{QStringLiteral("auto")};
    for (const SourceKind& kind : sourceKinds())
        usages << kind.usage;
    return usages.join(QStringLiteral(", "));
}

QString withChoices(const QString& problem) {
    return problem +
           QStringLiteral(" (choose %1; --list-sources shows the sensors found)").arg(choices());
}

const SourceKind* kindNamed(const QString& name) {
    for (const SourceKind& kind : sourceKinds())
        if (kind.kind == name)
            return &kind;
    return nullptr;
}

// A setting written by hand as `iio=-y,x,-z`, unquoted, comes back from QSettings as a list of
// three strings; joined again it is the map the user wrote.
QString storedAxes(const QString& kind) {
    const QVariant value = QSettings().value(QStringLiteral("axes/") + kind);
    if (value.metaType().id() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

// Sensors first from a display, then from a keyboard base; IIO before input; else as found.
int preference(const SourceInfo& info) {
    return (info.location == u"base" ? 2 : 0) + (info.kind == u"iio" ? 0 : 1);
}

QString describeChoice(const SourceInfo& chosen, const std::vector<SourceInfo>& found) {
    const auto other = std::find_if(found.begin(), found.end(), [&](const SourceInfo& info) {
        return info.path != chosen.path;
    });
    if (other == found.end())
        return QStringLiteral("the only sensor found");
    const auto base = std::find_if(found.begin(), found.end(),
                                   [](const SourceInfo& info) { return info.location == u"base"; });
    if (chosen.location != u"base" && base != found.end())
        return QStringLiteral("a display's sensor, preferred over the base's %1 (%2)")
            .arg(base->name, QFileInfo(base->path).fileName());
    const auto input = std::find_if(found.begin(), found.end(),
                                    [](const SourceInfo& info) { return info.kind == u"input"; });
    if (chosen.kind == u"iio" && input != found.end())
        return QStringLiteral("an IIO sensor, preferred over the input device %1").arg(input->name);
    return QStringLiteral("the first of %1 sensors found").arg(found.size());
}

// The map for a sensor of `kind`, warning of a bad setting once for each kind in `warned`.
std::optional<AxisMap> axesWarningOnce(const QString& kind, const SourceRequest& request,
                                       QStringList* warned, QString* error) {
    if (!request.axes.isEmpty())
        return AxisMap::parse(request.axes, error);
    const QString stored = storedAxes(kind);
    if (stored.isEmpty())
        return AxisMap();
    QString problem;
    if (std::optional<AxisMap> map = AxisMap::parse(stored, &problem))
        return map;
    if (!warned->contains(kind)) {
        *warned << kind;
        qWarning("Ignoring the setting axes/%s: %s", qPrintable(kind), qPrintable(problem));
    }
    return AxisMap();
}

// The simulator stands in; the user learns why on standard error, and in the status bar when
// sensors were found but could not be used.
std::unique_ptr<AccelerometerDriver> simulatedInstead(const QStringList& skipped, QString* error) {
    auto simulated = std::make_unique<SimulatedDriver>();
    simulated->start(error);
    const QString why =
        skipped.isEmpty()
            ? QStringLiteral("no sensor found")
            : QStringLiteral("no usable sensor (%1)").arg(skipped.join(QStringLiteral("; ")));
    qInfo("Reading from %s: %s", qPrintable(simulated->description()), qPrintable(why));
    // With no sensor at all the status bar's "simulated" says enough.
    if (skipped.isEmpty())
        return simulated;
    const QString notice =
        QStringLiteral("Showing the simulated sensor: %1 (--list-sources says more)").arg(why);
    SimulatedDriver* driver = simulated.get();
    QMetaObject::invokeMethod(
        driver,
        [driver, notice] {
            emit driver->statusMessage(notice, AccelerometerDriver::MessageKind::Notice);
        },
        Qt::QueuedConnection);
    return simulated;
}

std::unique_ptr<AccelerometerDriver> createAuto(const SourceRequest& request, QString* error) {
    const std::vector<SourceInfo> found = detectSources();
    QStringList warned;
    QStringList skipped;
    for (const SourceInfo& info : found) {
        if (!info.problem.isEmpty()) {
            skipped << QStringLiteral("%1: %2").arg(info.path, info.problem);
            continue;
        }
        QString problem;
        const SourceKind* kind = kindNamed(info.kind);
        const std::optional<AxisMap> axes = axesWarningOnce(info.kind, request, &warned, &problem);
        if (!axes) {
            *error = problem;
            return nullptr;
        }
        if (auto driver = kind->create(info.path, request, *axes, &problem)) {
            qInfo("Reading from %s: %s", qPrintable(driver->description()),
                  qPrintable(describeChoice(info, found)));
            return driver;
        }
        skipped << problem;
    }
    return simulatedInstead(skipped, error);
}

} // namespace

const std::vector<SourceKind>& sourceKinds() {
    static const std::vector<SourceKind> kinds{
        SimulatedDriver::sourceKind(), IioDriver::sourceKind(),     InputDriver::sourceKind(),
        ReplayDriver::sourceKind(),    PhyphoxDriver::sourceKind(), MqttDriver::sourceKind(false),
        MqttDriver::sourceKind(true),  PushDriver::sourceKind(),
    };
    return kinds;
}

std::vector<SourceInfo> detectSources() {
    std::vector<SourceInfo> sources;
    for (const SourceKind& kind : sourceKinds()) {
        if (!kind.discover)
            continue;
        const std::optional<std::vector<SourceInfo>> found =
            sensorfiles::withDeadline<std::vector<SourceInfo>>(kind.discover);
        if (!found) {
            qWarning("Looking for %s sensors: their files are not answering; skipped",
                     qPrintable(kind.kind));
            continue;
        }
        sources.insert(sources.end(), found->begin(), found->end());
    }
    std::stable_sort(sources.begin(), sources.end(), [](const SourceInfo& a, const SourceInfo& b) {
        return preference(a) < preference(b);
    });
    return sources;
}

QStringList describeSources(const std::vector<SourceInfo>& sources) {
    if (sources.empty())
        return {QStringLiteral("No sensor found. --source sim reads the built-in simulated "
                               "accelerometer.")};
    QStringList lines;
    for (const SourceInfo& info : sources) {
        QStringList fields{info.kind, info.name, info.path,
                           info.problem.isEmpty() ? info.rates : info.problem};
        fields << (info.location.isEmpty() ? QStringLiteral("location unknown") : info.location);
        if (!info.matrix.isEmpty())
            fields << QStringLiteral("matrix %1 (%2)")
                          .arg(info.matrix, (QStringList{info.matrixOrigin} + info.matrixRejected)
                                                .join(QStringLiteral("; ")));
        if (!info.note.isEmpty())
            fields << info.note;
        lines << fields.join(QLatin1Char('\t'));
    }
    return lines;
}

std::optional<AxisMap> axesFor(const QString& kind, const SourceRequest& request, QString* error) {
    QStringList warned;
    return axesWarningOnce(kind, request, &warned, error);
}

std::unique_ptr<AccelerometerDriver> createSource(const SourceRequest& request, QString* error) {
    const QString& source = request.source;
    const qsizetype colon = source.indexOf(QLatin1Char(':'));
    const QString name = colon < 0 ? source : source.left(colon);
    const QString argument = colon < 0 ? QString() : source.mid(colon + 1);

    QString problem;
    if (!request.axes.isEmpty() && !AxisMap::parse(request.axes, &problem)) {
        *error = problem;
        return nullptr;
    }
    if (name == u"auto" && argument.isEmpty())
        return createAuto(request, error);
    const SourceKind* kind = kindNamed(name);
    if (!kind) {
        *error = QStringLiteral("Unknown source '%1': choose %2").arg(source, choices());
        return nullptr;
    }
    std::optional<AxisMap> axes = AxisMap();
    if (kind->takesAxes) {
        axes = axesFor(name, request, error);
        if (!axes)
            return nullptr;
    } else if (!request.axes.isEmpty()) {
        qWarning("--axes does not apply to source '%s': its readings are in the device's axes "
                 "already",
                 qPrintable(source));
    }
    auto driver = kind->create(argument, request, *axes, &problem);
    if (driver)
        return driver;
    // A sensor's problem is about the device; the user also needs the other choices.
    *error = kind->discover
                 ? withChoices(QStringLiteral("Unusable source '%1': %2").arg(source, problem))
                 : problem;
    return nullptr;
}

} // namespace sensors
