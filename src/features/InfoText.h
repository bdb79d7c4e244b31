#pragma once

#include <QString>

namespace features {

// What the info screen explains: each screen, the units and axes, the version, the sensor in
// use, and where settings and recordings are kept. Rich text for a QTextBrowser; the picture of
// the device's axes comes from the resource ":/help/axes.png".
struct InfoFacts {
    QString version;
    QString source;         // the sensor in use, as the status bar names it
    QString settingsFile;   // where the settings and the last log are stored
    QString recordingsPath; // where full-rate recordings go
};

QString infoHtml(const InfoFacts& facts);

} // namespace features
