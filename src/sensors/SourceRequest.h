#pragma once

#include <QString>

namespace sensors {

// Which sensor to read and how, as the user asked for it (--source, --axes, --loop).
struct SourceRequest {
    // Where readings come from: auto, sim[:SEED], iio[:NAME], input[:PATH], replay:FILE
    // (replay:- reads standard input), phyphox:URL, mqtt://BROKER/TOPIC, push:[ADDRESS:]PORT.
    QString source = QStringLiteral("auto");
    // Axis map applied to the source's readings, e.g. "x,y,-z"; empty: the driver's default.
    QString axes;
    // Replay: start again at the end of the file.
    bool loop = false;
    // Replay: the rate in Hz of a file without times (--rate); 0: none given.
    double rate = 0.0;
};

} // namespace sensors
