#pragma once

#include "features/analysis/PlotDrawing.h"

#include <QString>
#include <vector>

namespace features::analysis {

// Markers are kept beside their recording, in "<recording>.markers.json", so that they come
// back when the recording is opened again and travel with it when it is renamed.
QString markerFilePath(const QString& recording);

// The markers of `recording`, by time; none when it has no marker file. A file that cannot be
// read gives none and sets `error`.
std::vector<Marker> loadMarkers(const QString& recording, QString* error);

// Replaces the marker file whole (or removes it when there are no markers). False with `error`
// set when it cannot be written; the file before stays as it was.
bool saveMarkers(const QString& recording, const std::vector<Marker>& markers, QString* error);

} // namespace features::analysis
