#include "sensors/ReadingBatch.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>

namespace sensors {

namespace {

// No accelerometer measures more; a larger value is a fault, not a reading (m/s²).
constexpr double kMaxValue = 1000.0 * kStandardGravity;

std::optional<double> number(const QJsonValue& value) {
    if (value.isDouble())
        return value.toDouble();
    // Some loggers write the nanosecond time as text, to keep all its digits.
    if (value.isString()) {
        bool ok = false;
        const double parsed = value.toString().toDouble(&ok);
        if (ok)
            return parsed;
    }
    return std::nullopt;
}

std::optional<Acceleration> readingOf(const QJsonObject& entry) {
    const std::optional<double> time = number(entry.value(QLatin1String("time")));
    const QJsonObject values = entry.value(QLatin1String("values")).toObject();
    const QJsonValue x = values.value(QLatin1String("x")), y = values.value(QLatin1String("y")),
                     z = values.value(QLatin1String("z"));
    if (!time || !std::isfinite(*time) || *time <= 0 || !x.isDouble() || !y.isDouble() ||
        !z.isDouble())
        return std::nullopt;
    for (const double v : {x.toDouble(), y.toDouble(), z.toDouble()})
        if (!std::isfinite(v) || std::abs(v) > kMaxValue)
            return std::nullopt;
    // Android's sign to the device convention: face up is +9.81 m/s² there, -1 g here.
    return Acceleration{-x.toDouble() / kStandardGravity, -y.toDouble() / kStandardGravity,
                        -z.toDouble() / kStandardGravity, *time * 1e-9};
}

} // namespace

std::optional<ReadingBatch> parseReadingBatch(const QByteArray& body, QString* error) {
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    auto refuse = [&](const QString& why) -> std::optional<ReadingBatch> {
        *error = why;
        return std::nullopt;
    };
    if (parseError.error != QJsonParseError::NoError)
        return refuse(QStringLiteral("not JSON (%1 at byte %2)")
                          .arg(parseError.errorString())
                          .arg(parseError.offset));
    if (!document.isObject())
        return refuse(QStringLiteral("not a JSON object"));
    const QJsonObject root = document.object();
    const QJsonValue payload = root.value(QLatin1String("payload"));
    if (!payload.isArray())
        return refuse(QStringLiteral("no \"payload\" list"));

    ReadingBatch batch;
    batch.messageId = qint64(number(root.value(QLatin1String("messageId"))).value_or(0));
    batch.sessionId = root.value(QLatin1String("sessionId")).toString();
    batch.deviceId = root.value(QLatin1String("deviceId")).toString();
    std::vector<Acceleration> total, linear;
    int skippedTotal = 0, skippedLinear = 0;
    for (const QJsonValue& value : payload.toArray()) {
        if (!value.isObject())
            return refuse(QStringLiteral("a \"payload\" entry that is not an object"));
        const QJsonObject entry = value.toObject();
        const QString name = entry.value(QLatin1String("name")).toString();
        const bool isTotal = name == u"totalacceleration";
        if (!isTotal && name != u"accelerometer")
            continue;
        const std::optional<Acceleration> reading = readingOf(entry);
        if (reading)
            (isTotal ? total : linear).push_back(*reading);
        else
            ++(isTotal ? skippedTotal : skippedLinear);
    }
    batch.withoutGravity = total.empty() && skippedTotal == 0 && (!linear.empty() || skippedLinear);
    batch.readings = std::move(batch.withoutGravity ? linear : total);
    batch.skipped = batch.withoutGravity ? skippedLinear : skippedTotal;
    // Loggers batch by sensor callbacks, which need not come in time order.
    std::stable_sort(
        batch.readings.begin(), batch.readings.end(),
        [](const Acceleration& a, const Acceleration& b) { return a.timestamp < b.timestamp; });
    return batch;
}

QByteArray encodeReadingBatch(const ReadingBatch& batch) {
    QJsonArray payload;
    for (const Acceleration& reading : batch.readings) {
        const QJsonObject values{{QStringLiteral("x"), -reading.x * kStandardGravity},
                                 {QStringLiteral("y"), -reading.y * kStandardGravity},
                                 {QStringLiteral("z"), -reading.z * kStandardGravity}};
        payload.append(
            QJsonObject{{QStringLiteral("name"), QStringLiteral("totalacceleration")},
                        {QStringLiteral("time"), qint64(std::llround(reading.timestamp * 1e9))},
                        {QStringLiteral("values"), values}});
    }
    const QJsonObject root{{QStringLiteral("messageId"), batch.messageId},
                           {QStringLiteral("sessionId"), batch.sessionId},
                           {QStringLiteral("deviceId"), batch.deviceId},
                           {QStringLiteral("payload"), payload}};
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

} // namespace sensors
