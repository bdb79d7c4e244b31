#pragma once

#include "sensors/Acceleration.h"

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

namespace sensors {

// One batch of readings in the JSON that phone sensor loggers push over HTTP and publish to
// MQTT brokers:
//
//   {"messageId": 3, "sessionId": "…", "deviceId": "…",
//    "payload": [{"name": "totalacceleration", "time": 1700000000123456789,
//                 "values": {"x": 0.01, "y": 0.02, "z": 9.81}}, …]}
//
// Values in m/s² in Android's sign (a phone lying face up reads z = +9.81), time in
// nanoseconds since the Unix epoch (UTC). "accelerometer" entries are the same without gravity;
// entries of other sensors are skipped.
struct ReadingBatch {
    qint64 messageId = 0;
    QString sessionId;
    QString deviceId;
    // In g in the device convention (face up Z = -1 g); `timestamp` in seconds since the Unix
    // epoch. In time order, from one sensor: "totalacceleration" where the batch has any, else
    // "accelerometer".
    std::vector<Acceleration> readings;
    bool withoutGravity = false;
    // Acceleration entries skipped: a value missing, not a number, or beyond any sensor.
    int skipped = 0;
};

// Parses one batch. On anything but the schema above (not JSON, no payload list, a payload
// entry that is not an object) returns nothing and sets `error` to what was wrong, in words
// that quote nothing of the input.
std::optional<ReadingBatch> parseReadingBatch(const QByteArray& body, QString* error);

// Writes `batch.readings` (g, device convention, Unix seconds) as "totalacceleration" entries in
// the schema above: the inverse of parseReadingBatch().
QByteArray encodeReadingBatch(const ReadingBatch& batch);

} // namespace sensors
