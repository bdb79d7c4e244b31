#pragma once

#include "sensors/AccelerometerDriver.h"
#include "sensors/SourceRequest.h"

#include <memory>
#include <vector>

namespace platform {

// A sensor found on this machine.
struct SourceInfo {
    QString kind;  // "iio", "input", ...
    QString name;  // the device's own name
    QString path;  // where it lives (sysfs folder, device node)
    QString rates; // the sample rates it offers, as the user would write them
};

// Every real sensor found on this machine, in the order `auto` tries them.
std::vector<SourceInfo> detectSources();

// Orders "iio:device2" before "iio:device10" and "event9" before "event10", as the kernel
// numbers them (QCollator's numeric mode is not there in the C locale).
bool byDeviceNumber(const QString& a, const QString& b);

// One sentence for a device file the user may not read: which file, and how to grant access
// (group membership or a udev rule).
QString accessDeniedMessage(const QString& path);

// Creates and starts the driver that --source (and --axes, --loop) ask for. On failure returns
// null and sets `error` to one line naming what was wrong and the choices.
//
// A sensor's axis map comes from --axes, else from the setting "axes/iio" or "axes/input" of
// the default QSettings, else from the driver's default. `auto` logs the source it chose.
std::unique_ptr<AccelerometerDriver> createSource(const SourceRequest& options, QString* error);

} // namespace platform
