#pragma once

#include "drawing/DrawingContext.h"
#include "features/analysis/PlotDrawing.h"

#include <QSize>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

namespace features::analysis {

enum class PictureFormat { Png, Jpeg, Svg, Pdf };

// The format a file name asks for by its extension (.png, .jpg or .jpeg, .svg, .pdf, in any
// case); none for any other extension or none at all.
std::optional<PictureFormat> pictureFormatOf(const QString& path);
// The extensions, for messages: ".png, .jpg, .svg or .pdf".
QString pictureFormatList();
// `path` as typed in a save dialog: with the extension of `format` added when it has none.
QString withPictureExtension(const QString& path, PictureFormat format);

// Pixels a picture may have (width × height, also for the vector formats, whose readers
// rasterise them): 64 million is an 8000 × 8000 picture, 256 MB as 32-bit pixels.
inline constexpr qint64 kPixelBudget = 64'000'000;

// A picture made for a report: a title and a subtitle, a legend, axis titles, and a body that
// any kind of plot draws into the rectangle left for it (tick labels go inside that rectangle).
//
//   Figure figure = recordingFigure(recording, view, PlotTheme::Light);
//   writeFigure("ride.pdf", {1200, 500}, figure, &error);
struct Figure {
    struct LegendEntry {
        QString name;
        drawing::Color color;
    };
    PlotTheme theme = PlotTheme::Light;
    QString title;
    QString subtitle;
    std::vector<LegendEntry> legend;
    QString xTitle, yTitle;
    std::function<void(drawing::DrawingContext& context, drawing::Rect bounds,
                       const PlotStyle& style)>
        drawBody;
};

// The figure of a recording's plot as `view` shows it, without the pointer's cursor and
// readout: titled with the file's name (or `title`) and the span, the shown traces in the
// legend.
Figure recordingFigure(const RecordingSeries& recording, const PlotView& view, PlotTheme theme,
                       const QString& title = {});

// Writes `figure` at `size` logical pixels in the format of the path's extension (PNG, JPEG,
// SVG; a PDF page of that size at 96 pixels to the inch). The file is replaced whole or not at
// all. False with `error` set (the system's reason, and the file's name) when it cannot be.
bool writeFigure(const QString& path, QSize size, const Figure& figure, QString* error);

// The size a PDF page for a report takes: A4 landscape at 96 pixels to the inch.
QSize a4LandscapeSize();

} // namespace features::analysis
