#pragma once

#include <QString>

namespace platform {

// What the user asked of the source of readings, as the sensors layer needs it.
struct SourceRequest {
    // auto, sim[:SEED], iio[:NAME], input[:PATH], replay:FILE, phyphox:URL.
    QString source = QStringLiteral("auto");
    // Axis map for the source's readings, e.g. "x,y,-z"; empty: the stored setting or the
    // driver's own.
    QString axes;
    // Replay: start again at the end of the file.
    bool loop = false;
};

} // namespace platform
