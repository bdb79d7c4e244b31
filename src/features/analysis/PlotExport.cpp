#include "features/analysis/PlotExport.h"

#include "drawing/PainterContext.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QSvgGenerator>
#include <array>
#include <climits>
#include <unistd.h>

namespace features::analysis {

namespace {

// A name that is not text reaches us as /proc/self/fd/N (see argumentsFromBytes): its
// extension and its name for messages are those of the file the descriptor names.
constexpr QLatin1String kDescriptorPrefix("/proc/self/fd/");

QString nameBehind(const QString& path) {
    if (!path.startsWith(kDescriptorPrefix))
        return path;
    std::array<char, PATH_MAX> target{};
    const ssize_t length =
        ::readlink(QFile::encodeName(path).constData(), target.data(), target.size() - 1);
    return length > 0 ? QString::fromUtf8(target.data(), length) : path;
}

void fill(QPainter& painter, QRectF rect, drawing::Color c) {
    painter.fillRect(rect, QColor::fromRgbF(c.red, c.green, c.blue, c.alpha));
}

QFont figureFont(int pixels, bool bold = false) {
    QFont font = drawing::PainterContext::qtFont(drawing::Font{float(pixels)});
    font.setBold(bold);
    return font;
}

// The frame around the body: title, subtitle, legend and axis titles, then the body itself.
void drawFigure(QPainter& painter, QSize size, const Figure& figure) {
    const PlotStyle style = [&] {
        PlotStyle s = PlotStyle::forTheme(figure.theme);
        s.readout = false;
        return s;
    }();
    const QRectF whole(QPointF(0, 0), QSizeF(size));
    fill(painter, whole, style.ground);
    const QColor text = QColor::fromRgbF(style.label.red, style.label.green, style.label.blue);
    const QColor strong = figure.theme == PlotTheme::Light ? Qt::black : Qt::white;
    constexpr qreal margin = 14.0;

    painter.setPen(strong);
    painter.setFont(figureFont(18, true));
    const QRectF titleBox(margin, margin - 4.0, size.width() - 2 * margin, 26.0);
    painter.drawText(titleBox, Qt::AlignLeft | Qt::AlignVCenter, figure.title);
    painter.setPen(text);
    painter.setFont(figureFont(13));
    const QRectF subtitleBox(margin, titleBox.bottom(), size.width() - 2 * margin, 20.0);
    painter.drawText(subtitleBox, Qt::AlignLeft | Qt::AlignVCenter, figure.subtitle);

    // The legend, right-aligned on the subtitle's line: a short stroke of each colour, and
    // its name.
    const QFontMetricsF metrics(painter.font());
    qreal x = size.width() - margin;
    for (auto entry = figure.legend.rbegin(); entry != figure.legend.rend(); ++entry) {
        const qreal width = metrics.horizontalAdvance(entry->name);
        x -= width;
        painter.setPen(text);
        painter.drawText(QRectF(x, subtitleBox.top(), width + 2.0, subtitleBox.height()),
                         Qt::AlignLeft | Qt::AlignVCenter, entry->name);
        x -= 24.0;
        fill(painter, QRectF(x, subtitleBox.center().y() - 1.5, 18.0, 3.0), entry->color);
        x -= 14.0;
    }

    const qreal axisTitle = 18.0;
    const QRectF body(margin + axisTitle, subtitleBox.bottom() + 8.0,
                      size.width() - 2 * margin - axisTitle,
                      size.height() - subtitleBox.bottom() - 8.0 - margin - axisTitle);
    painter.setPen(text);
    painter.drawText(QRectF(body.left(), body.bottom(), body.width(), axisTitle + 4.0),
                     Qt::AlignHCenter | Qt::AlignBottom, figure.xTitle);
    painter.save();
    painter.translate(margin, body.center().y());
    painter.rotate(-90.0);
    painter.drawText(QRectF(-body.height() / 2.0, 0.0, body.height(), axisTitle),
                     Qt::AlignHCenter | Qt::AlignTop, figure.yTitle);
    painter.restore();

    if (figure.drawBody) {
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        drawing::PainterContext context(painter);
        figure.drawBody(
            context, {float(body.x()), float(body.y()), float(body.width()), float(body.height())},
            style);
        painter.restore();
    }
}

bool encode(QIODevice& out, PictureFormat format, QSize size, const Figure& figure) {
    switch (format) {
    case PictureFormat::Png:
    case PictureFormat::Jpeg: {
        QImage image(size, format == PictureFormat::Png ? QImage::Format_ARGB32_Premultiplied
                                                        : QImage::Format_RGB32);
        if (image.isNull())
            return false;
        {
            QPainter painter(&image);
            drawFigure(painter, size, figure);
        }
        return format == PictureFormat::Png ? image.save(&out, "PNG")
                                            : image.save(&out, "JPEG", 92);
    }
    case PictureFormat::Svg: {
        QSvgGenerator svg;
        svg.setOutputDevice(&out);
        // Browsers and drawing programs take 96 pixels to the inch (CSS); at that resolution
        // the picture opens at the size asked for.
        svg.setResolution(96);
        svg.setSize(size);
        svg.setViewBox(QRect(QPoint(0, 0), size));
        svg.setTitle(figure.title);
        svg.setDescription(figure.subtitle);
        QPainter painter(&svg);
        drawFigure(painter, size, figure);
        return painter.end();
    }
    case PictureFormat::Pdf: {
        QPdfWriter pdf(&out);
        pdf.setTitle(figure.title);
        pdf.setCreator(QStringLiteral("Wobblestar"));
        // At 96 units to the inch a page of W × H points at 0.75 holds the figure's logical
        // pixels one to one.
        pdf.setResolution(96);
        pdf.setPageSize(QPageSize(QSizeF(size) * 0.75, QPageSize::Point));
        pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
        QPainter painter(&pdf);
        drawFigure(painter, size, figure);
        return painter.end();
    }
    }
    return false;
}

QString formatSpan(double from, double to) {
    const int decimals = to - from < 10.0 ? 3 : 1;
    return QStringLiteral("%1 s to %2 s").arg(from, 0, 'f', decimals).arg(to, 0, 'f', decimals);
}

} // namespace

std::optional<PictureFormat> pictureFormatOf(const QString& path) {
    const QString suffix = QFileInfo(nameBehind(path)).suffix().toLower();
    if (suffix == u"png")
        return PictureFormat::Png;
    if (suffix == u"jpg" || suffix == u"jpeg")
        return PictureFormat::Jpeg;
    if (suffix == u"svg")
        return PictureFormat::Svg;
    if (suffix == u"pdf")
        return PictureFormat::Pdf;
    return std::nullopt;
}

QString pictureFormatList() {
    return QStringLiteral(".png, .jpg, .svg or .pdf");
}

QString withPictureExtension(const QString& path, PictureFormat format) {
    if (!QFileInfo(path).suffix().isEmpty())
        return path;
    static const char* const extensions[] = {".png", ".jpg", ".svg", ".pdf"};
    return path + QLatin1String(extensions[int(format)]);
}

QSize a4LandscapeSize() {
    // 297 × 210 mm at 96 pixels to the inch.
    return {1123, 794};
}

Figure recordingFigure(const RecordingSeries& recording, const PlotView& view, PlotTheme theme,
                       const QString& title) {
    Figure figure;
    figure.theme = theme;
    figure.title = title.isEmpty() ? QFileInfo(nameBehind(recording.path())).fileName() : title;
    figure.subtitle = formatSpan(view.from, view.to);
    for (int s = 0; s < kSeriesCount; ++s) {
        if (view.shown[std::size_t(s)])
            figure.legend.push_back({seriesName(Series(s)), seriesColor(Series(s), theme)});
    }
    figure.xTitle = QStringLiteral("Time (s)");
    figure.yTitle = QStringLiteral("Acceleration (%1)").arg(unitName(view.units));
    PlotView shown = view;
    shown.cursor.reset();
    shown.selection.reset();
    figure.drawBody = [&recording, shown](drawing::DrawingContext& context, drawing::Rect bounds,
                                          const PlotStyle& style) {
        std::vector<Column> columns;
        drawPlot(context, bounds, recording, shown, columns, style);
    };
    return figure;
}

bool writeFigure(const QString& path, QSize size, const Figure& figure, QString* error) {
    const QString name = nameBehind(path);
    const std::optional<PictureFormat> format = pictureFormatOf(path);
    if (!format) {
        *error = QStringLiteral("Cannot write \"%1\": a picture's name must end in %2")
                     .arg(name, pictureFormatList());
        return false;
    }
    if (size.isEmpty() || qint64(size.width()) * size.height() > kPixelBudget) {
        *error = QStringLiteral("Cannot write \"%1\": %2 × %3 pixels is more than a picture may "
                                "have (%4 million)")
                     .arg(name)
                     .arg(size.width())
                     .arg(size.height())
                     .arg(kPixelBudget / 1'000'000);
        return false;
    }
    QBuffer encoded;
    encoded.open(QIODevice::WriteOnly);
    if (!encode(encoded, *format, size, figure)) {
        *error = QStringLiteral("Cannot write \"%1\": the picture could not be encoded").arg(name);
        return false;
    }

    const QByteArray& bytes = encoded.data();
    if (path.startsWith(kDescriptorPrefix)) {
        // The descriptor names the file itself; there is no folder name to put a temporary
        // file beside it.
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
            file.write(bytes) == bytes.size() && file.flush())
            return true;
        *error = QStringLiteral("Cannot write \"%1\": %2").arg(name, file.errorString());
        return false;
    }
    QSaveFile file(path);
    // Where no file can be made beside it (a device, a file in /proc), the file is written in
    // place, so that the reason given is the system's for that file.
    file.setDirectWriteFallback(true);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    *error = QStringLiteral("Cannot write \"%1\": %2").arg(name, file.errorString());
    return false;
}

bool writePlot(const QString& path, QSize size, const RecordingSeries& recording,
               const PlotView& view, QString* error) {
    return writeFigure(path, size, recordingFigure(recording, view, PlotTheme::Dark), error);
}

} // namespace features::analysis
