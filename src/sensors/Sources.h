#pragma once

#include "sensors/AccelerometerDriver.h"
#include "sensors/AxisMap.h"
#include "sensors/SourceRequest.h"

#include <functional>
#include <memory>
#include <vector>

namespace sensors {

// A sensor found on this machine.
struct SourceInfo {
    QString kind;               // "iio", "input"
    QString name;               // the device's own name
    QString path;               // where it lives (sysfs folder, device node)
    QString rates;              // the sample rates it offers, as the user would write them
    QString label;              // the kernel's label, e.g. "accel-display"; often empty
    QString location;           // "display" (in the screen), "base" (in a keyboard base) or empty
    QString matrix;             // the mount matrix in use, "m00, m01, m02; ...", rows first
    QString matrixOrigin;       // "udev hwdb", "kernel" or "identity"
    QStringList matrixRejected; // matrices passed over: "udev hwdb's rejected: WHY"
    QString note;               // what the user should know of a usable sensor, or empty
    QString problem;            // why it cannot be used; empty when it can
};

// One kind of source the user can name with --source, as its driver registers it.
struct SourceKind {
    QString kind;  // what comes before the colon: "iio"
    QString usage; // how it is written: "iio[:NAME]"
    // Whether --axes and the [axes] setting apply to its readings (not to a recording, which
    // holds device axes already, nor to the simulator, which makes them).
    bool takesAxes = false;
    // The sensors of this kind on this machine; null for sources that are not found but named.
    // It reads device files: it is run off the main thread.
    std::function<std::vector<SourceInfo>()> discover;
    // Creates and starts the source for the text after the colon. `axes` is the map to apply
    // (identity unless the user gave one). On failure returns null and sets `error`.
    std::function<std::unique_ptr<AccelerometerDriver>(
        const QString& argument, const SourceRequest& request, const AxisMap& axes, QString* error)>
        create;
};

// Every kind of source, in the order `auto` and --list-sources consider them.
const std::vector<SourceKind>& sourceKinds();

// Every real sensor found on this machine, in the order `auto` prefers them: a display's sensor
// before a keyboard base's, an IIO sensor before an input device.
std::vector<SourceInfo> detectSources();

// The lines --list-sources prints: one per sensor, tab-separated (kind, name, path, rates,
// location, matrix and its origin), or one line saying none was found and how to read the
// simulated sensor instead.
QStringList describeSources(const std::vector<SourceInfo>& sources);

// The map for a sensor of `kind`: the request's, else the setting "axes/KIND" of the default
// QSettings, else identity. A bad request is the user's mistake now and fails; a bad setting is
// old and only warned about, once.
std::optional<AxisMap> axesFor(const QString& kind, const SourceRequest& request, QString* error);

// Creates and starts the driver that the request asks for. On failure returns null and sets
// `error` to one line naming what was wrong and the choices. `auto` logs the source it chose and
// why, in one line.
std::unique_ptr<AccelerometerDriver> createSource(const SourceRequest& request, QString* error);

} // namespace sensors
