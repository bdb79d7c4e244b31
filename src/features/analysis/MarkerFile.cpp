#include "features/analysis/MarkerFile.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <algorithm>
#include <cmath>

namespace features::analysis {

QString markerFilePath(const QString& recording) {
    return recording + QStringLiteral(".markers.json");
}

std::vector<Marker> loadMarkers(const QString& recording, QString* error) {
    std::vector<Marker> markers;
    QFile file(markerFilePath(recording));
    if (!file.exists())
        return markers;
    // A marker file is a few hundred bytes; one far larger is not ours.
    if (!file.open(QIODevice::ReadOnly) || file.size() > 4 * 1024 * 1024) {
        *error = QStringLiteral("Cannot read the markers in \"%1\": %2")
                     .arg(file.fileName(), file.isOpen() ? QStringLiteral("the file is too large")
                                                         : file.errorString());
        return markers;
    }
    QJsonParseError parse{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parse);
    if (parse.error != QJsonParseError::NoError || !document.isObject()) {
        *error = QStringLiteral("Cannot read the markers in \"%1\": %2")
                     .arg(file.fileName(), parse.error != QJsonParseError::NoError
                                               ? parse.errorString()
                                               : QStringLiteral("not a marker file"));
        return markers;
    }
    for (const QJsonValue& value : document.object().value(QLatin1String("markers")).toArray()) {
        const QJsonObject object = value.toObject();
        const double time = object.value(QLatin1String("time_s")).toDouble(NAN);
        if (std::isfinite(time) && time >= 0.0)
            markers.push_back({time, object.value(QLatin1String("note")).toString()});
    }
    std::sort(markers.begin(), markers.end(),
              [](const Marker& a, const Marker& b) { return a.time < b.time; });
    return markers;
}

bool saveMarkers(const QString& recording, const std::vector<Marker>& markers, QString* error) {
    const QString path = markerFilePath(recording);
    if (markers.empty()) {
        if (!QFile::exists(path) || QFile::remove(path))
            return true;
        *error = QStringLiteral("Cannot remove \"%1\"").arg(path);
        return false;
    }
    QJsonArray list;
    for (const Marker& marker : markers)
        list.append(QJsonObject{{QStringLiteral("time_s"), marker.time},
                                {QStringLiteral("note"), marker.note}});
    QSaveFile file(path);
    const QByteArray bytes = QJsonDocument(QJsonObject{{QStringLiteral("markers"), list}})
                                 .toJson(QJsonDocument::Indented);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    *error = QStringLiteral("Cannot write \"%1\": %2").arg(path, file.errorString());
    return false;
}

} // namespace features::analysis
