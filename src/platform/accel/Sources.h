#pragma once

#include "platform/CommandLine.h"
#include "platform/accel/AccelerometerDriver.h"

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

// Creates and starts the driver that --source (and --axes, --loop) ask for. On failure returns
// null and sets `error` to one line naming what was wrong and the choices.
std::unique_ptr<AccelerometerDriver> createSource(const LaunchOptions& options, QString* error);

} // namespace platform
