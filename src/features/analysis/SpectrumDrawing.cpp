#include "features/analysis/SpectrumDrawing.h"

#include "drawing/PainterContext.h"
#include "features/analysis/PlotDrawing.h"

#include <QFileInfo>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <QSvgGenerator>
#include <algorithm>
#include <cmath>

namespace features::analysis {

namespace {

using drawing::DrawingContext;
using drawing::Font;
using drawing::Rect;

constexpr drawing::Font kLabelFont{11.0f};
constexpr float kLeft = 74.0f, kRight = 14.0f, kTop = 40.0f, kBottom = 24.0f;
// A log value axis shows seven decades below the strongest bin; the rest is noise and leakage.
constexpr double kLogDecades = 7.0;

float textWidth(const QString& text) {
    return float(
        QFontMetricsF(drawing::PainterContext::qtFont(kLabelFont)).horizontalAdvance(text));
}

const char* unitOf(SpectrumQuantity quantity) {
    return quantity == SpectrumQuantity::Density ? "g²/Hz" : "g";
}

const std::vector<double>& valuesOf(const PowerSpectrum& spectrum, SpectrumQuantity quantity) {
    return quantity == SpectrumQuantity::Density ? spectrum.psd : spectrum.amplitude;
}

QString hzLabel(double hz) {
    return QStringLiteral("%1 Hz").arg(hz, 0, 'f', hz < 1.0 ? 3 : hz < 100.0 ? 2 : 1);
}

QString valueLabel(double value) {
    return QString::number(value, 'g', 3);
}

void setSeriesColors(drawing::DrawingContext& context, Series series) {
    const drawing::Color c = seriesColor(series);
    // Pure blue is hard to read on the dark ground; lighten it a little.
    context.setRGBStrokeColor(std::max(c.red, 0.3f), std::max(c.green, 0.3f),
                              std::max(c.blue, 0.3f), 1.0f);
    context.setRGBFillColor(std::max(c.red, 0.3f), std::max(c.green, 0.3f), std::max(c.blue, 0.3f),
                            1.0f);
}

// Ticks of a log axis: the decades, with 2 and 5 between them when few decades are shown.
std::vector<double> logTicks(double low, double high) {
    std::vector<double> ticks;
    const bool fine = std::log10(high / low) < 4.0;
    for (double decade = std::pow(10.0, std::floor(std::log10(low))); decade <= high;
         decade *= 10.0) {
        for (double m : {1.0, 2.0, 5.0}) {
            if ((m == 1.0 || fine) && decade * m >= low && decade * m <= high)
                ticks.push_back(decade * m);
        }
    }
    return ticks;
}

void drawAxes(drawing::DrawingContext& context, const SpectrumMapping& map,
              SpectrumQuantity quantity) {
    const drawing::Rect& a = map.area;
    double step = 1.0;
    const std::vector<double> hzTicks =
        map.frequencyAxis == AxisScale::Logarithmic
            ? logTicks(map.lowHz, map.highHz)
            : niceTicks(map.lowHz, map.highHz, std::max(2, int(a.width / 90.0f)), &step);
    for (double hz : hzTicks) {
        const float x = std::round(map.x(hz));
        context.setGrayFillColor(0.22f, 1.0f);
        context.fillRect({x, a.y, 1.0f, a.height});
        const QString label = hzLabel(hz);
        context.setGrayFillColor(0.75f, 1.0f);
        context.drawAtPoint(label, {x - textWidth(label) / 2.0f, a.y + a.height + 5.0f},
                            kLabelFont);
    }
    const std::vector<double> valueTicks =
        map.valueAxis == AxisScale::Logarithmic
            ? logTicks(map.lowValue, map.highValue)
            : niceTicks(map.lowValue, map.highValue, std::max(2, int(a.height / 48.0f)), &step);
    for (double value : valueTicks) {
        const float y = std::round(map.y(value));
        context.setGrayFillColor(0.22f, 1.0f);
        context.fillRect({a.x, y, a.width, 1.0f});
        const QString label = valueLabel(value);
        context.setGrayFillColor(0.75f, 1.0f);
        context.drawAtPoint(label, {a.x - 6.0f - textWidth(label), y - 6.5f}, kLabelFont);
    }
    const QString unit = QString::fromUtf8(unitOf(quantity));
    context.drawAtPoint(unit, {a.x - 6.0f - textWidth(unit), a.y - 16.0f}, kLabelFont);
}

// One point per pixel column (the largest of the bins under it), joined; where bins lie wider
// apart than pixels, each bin is a point.
void drawCurve(drawing::DrawingContext& context, const SpectrumMapping& map,
               const PowerSpectrum& spectrum, SpectrumQuantity quantity) {
    const std::vector<double>& values = valuesOf(spectrum, quantity);
    context.setLineWidth(1.2f);
    context.beginPath();
    bool started = false;
    int column = 0;
    double best = 0.0;
    bool pending = false;
    const auto flush = [&] {
        const float x = float(column) + 0.5f, y = map.y(best);
        started ? context.addLineToPoint(x, y) : context.moveToPoint(x, y);
        started = true;
        pending = false;
    };
    for (std::size_t k = 1; k < values.size(); ++k) {
        const double hz = double(k) * spectrum.binHz;
        if (hz < map.lowHz || hz > map.highHz)
            continue;
        const int px = int(std::floor(map.x(hz)));
        if (pending && px != column)
            flush();
        if (!pending) {
            column = px;
            best = values[k];
            pending = true;
        } else {
            best = std::max(best, values[k]);
        }
    }
    if (pending)
        flush();
    context.strokePath();
}

// Each peak is a dot; its frequency is written above it unless that would cover a label
// already written (`labels` holds them, across the series).
void drawPeaks(drawing::DrawingContext& context, const SpectrumMapping& map,
               const SeriesSpectrum& one, SpectrumQuantity quantity,
               std::vector<drawing::Rect>& labels) {
    for (const SpectralPeak& peak : one.peaks) {
        if (peak.hz < map.lowHz || peak.hz > map.highHz)
            continue;
        const double value =
            quantity == SpectrumQuantity::Density ? peak.psdG2PerHz : peak.amplitudeG;
        const float x = map.x(peak.hz), y = map.y(value);
        context.fillEllipseInRect({x - 3.5f, y - 3.5f, 7.0f, 7.0f});
        const QString label = hzLabel(peak.hz);
        const float width = textWidth(label);
        const drawing::Rect box{
            std::clamp(x - width / 2.0f, map.area.x, map.area.x + map.area.width - width),
            std::max(map.area.y, y - 19.0f), width, 14.0f};
        const bool covers =
            std::any_of(labels.begin(), labels.end(), [&box](const drawing::Rect& r) {
                return box.x < r.x + r.width && r.x < box.x + box.width && box.y < r.y + r.height &&
                       r.y < box.y + box.height;
            });
        if (covers)
            continue;
        labels.push_back(box);
        context.drawAtPoint(label, {box.x, box.y}, kLabelFont);
    }
}

void drawCursor(drawing::DrawingContext& context, const SpectrumMapping& map,
                const std::vector<SeriesSpectrum>& spectra, const SpectrumStyle& style,
                drawing::Rect bounds) {
    if (!style.cursorHz || *style.cursorHz < map.lowHz || *style.cursorHz > map.highHz)
        return;
    const float x = std::round(map.x(*style.cursorHz));
    context.setGrayFillColor(0.85f, 1.0f);
    context.fillRect({x, map.area.y, 1.0f, map.area.height});
    float at = map.area.x;
    context.setGrayFillColor(0.9f, 1.0f);
    at += context.drawAtPoint(hzLabel(*style.cursorHz), {at, bounds.y + 22.0f}, kLabelFont).width +
          14.0f;
    for (const SeriesSpectrum& one : spectra) {
        setSeriesColors(context, one.series);
        const QString text =
            QStringLiteral("%1 %2 %3")
                .arg(seriesName(one.series),
                     valueLabel(spectrumValueAt(*one.spectrum, style, *style.cursorHz)),
                     QString::fromUtf8(unitOf(style.quantity)));
        at += context.drawAtPoint(text, {at, bounds.y + 22.0f}, kLabelFont).width + 14.0f;
    }
}

} // namespace

float SpectrumMapping::x(double hz) const {
    const double f = frequencyAxis == AxisScale::Logarithmic
                         ? std::log(std::max(hz, lowHz) / lowHz) / std::log(highHz / lowHz)
                         : (hz - lowHz) / (highHz - lowHz);
    return area.x + float(f) * area.width;
}

float SpectrumMapping::y(double value) const {
    const double f =
        valueAxis == AxisScale::Logarithmic
            ? std::log(std::max(value, lowValue) / lowValue) / std::log(highValue / lowValue)
            : (value - lowValue) / (highValue - lowValue);
    return std::clamp(area.y + area.height - float(f) * area.height, area.y, area.y + area.height);
}

double SpectrumMapping::hzAt(float px) const {
    const double f = std::clamp(double(px - area.x) / double(area.width), 0.0, 1.0);
    return frequencyAxis == AxisScale::Logarithmic ? lowHz * std::pow(highHz / lowHz, f)
                                                   : lowHz + f * (highHz - lowHz);
}

SpectrumMapping spectrumMapping(drawing::Rect bounds, const std::vector<SeriesSpectrum>& spectra,
                                const SpectrumStyle& style) {
    SpectrumMapping map;
    map.area = {bounds.x + kLeft, bounds.y + kTop, std::max(1.0f, bounds.width - kLeft - kRight),
                std::max(1.0f, bounds.height - kTop - kBottom)};
    map.frequencyAxis = style.frequencyAxis;
    map.valueAxis = style.valueAxis;
    double binHz = 0.0, nyquist = 0.0, top = 0.0;
    for (const SeriesSpectrum& one : spectra) {
        if (!one.spectrum || one.spectrum->isEmpty())
            continue;
        binHz = binHz > 0.0 ? std::min(binHz, one.spectrum->binHz) : one.spectrum->binHz;
        nyquist = std::max(nyquist, one.spectrum->nyquistHz());
        const std::vector<double>& values = valuesOf(*one.spectrum, style.quantity);
        top = std::max(top, *std::max_element(values.begin() + 1, values.end()));
    }
    if (!(nyquist > 0.0))
        return map;
    map.lowHz = style.frequencyAxis == AxisScale::Logarithmic ? binHz : 0.0;
    map.highHz = nyquist;
    if (!(top > 0.0))
        top = 1.0;
    if (style.valueAxis == AxisScale::Logarithmic) {
        map.highValue = std::pow(10.0, std::ceil(std::log10(top)));
        map.lowValue = map.highValue * std::pow(10.0, -kLogDecades);
    } else {
        map.lowValue = 0.0;
        map.highValue = top * 1.08;
    }
    return map;
}

double spectrumValueAt(const PowerSpectrum& spectrum, const SpectrumStyle& style, double hz) {
    const std::vector<double>& values = valuesOf(spectrum, style.quantity);
    if (values.empty() || !(spectrum.binHz > 0.0))
        return 0.0;
    const auto k = std::size_t(
        std::clamp(std::llround(hz / spectrum.binHz), 0LL, (long long)values.size() - 1));
    return values[k];
}

void drawSpectra(drawing::DrawingContext& context, drawing::Rect bounds,
                 const std::vector<SeriesSpectrum>& spectra, const SpectrumStyle& style,
                 const QString& title) {
    context.setAllowsAntialiasing(true);
    context.setGrayFillColor(0.0f, 1.0f);
    context.fillRect(bounds);
    const SpectrumMapping map = spectrumMapping(bounds, spectra, style);
    context.setGrayFillColor(0.07f, 1.0f);
    context.fillRect(map.area);
    QString heading = title;
    const auto shown = std::find_if(spectra.begin(), spectra.end(), [](const SeriesSpectrum& s) {
        return s.spectrum && !s.spectrum->isEmpty();
    });
    if (shown == spectra.end()) {
        context.setGrayFillColor(0.9f, 1.0f);
        context.drawAtPoint(heading.isEmpty() ? QStringLiteral("Too few samples for a spectrum")
                                              : heading + QStringLiteral(": too few samples"),
                            {map.area.x, bounds.y + 4.0f}, kLabelFont);
        return;
    }
    const PowerSpectrum& basis = *shown->spectrum;
    const QString quantity = style.quantity == SpectrumQuantity::Density
                                 ? QStringLiteral("Power spectral density")
                                 : QStringLiteral("Amplitude spectrum");
    heading = QStringLiteral("%1%2 (Welch: Hann, 50 % overlap, %3-sample segments, %4 apart, "
                             "%5 averaged)")
                  .arg(heading.isEmpty() ? QString() : heading + QStringLiteral(": "),
                       heading.isEmpty() ? quantity : quantity.toLower())
                  .arg(basis.segmentLength)
                  .arg(hzLabel(basis.binHz))
                  .arg(basis.segments);
    context.setGrayFillColor(0.9f, 1.0f);
    context.drawAtPoint(heading, {map.area.x, bounds.y + 4.0f}, kLabelFont);
    drawAxes(context, map, style.quantity);
    for (const SeriesSpectrum& one : spectra) {
        if (!one.spectrum || one.spectrum->isEmpty())
            continue;
        setSeriesColors(context, one.series);
        drawCurve(context, map, *one.spectrum, style.quantity);
    }
    // Peaks over every curve, strongest series first in the order given.
    std::vector<drawing::Rect> labels;
    for (const SeriesSpectrum& one : spectra) {
        setSeriesColors(context, one.series);
        drawPeaks(context, map, one, style.quantity, labels);
    }
    // The legend, right-aligned above the plot area.
    float at = map.area.x + map.area.width;
    for (auto one = spectra.rbegin(); one != spectra.rend(); ++one) {
        const QString name = seriesName(one->series);
        at -= textWidth(name) + 12.0f;
        setSeriesColors(context, one->series);
        context.drawAtPoint(name, {at, bounds.y + 22.0f}, kLabelFont);
    }
    drawCursor(context, map, spectra, style, bounds);
}

bool writeSpectraPicture(const QString& path, QSize size,
                         const std::vector<SeriesSpectrum>& spectra, const SpectrumStyle& style,
                         const QString& title, QString* error) {
    const drawing::Rect bounds{0.0f, 0.0f, float(size.width()), float(size.height())};
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("Cannot write \"%1\": %2").arg(path, file.errorString());
        return false;
    }
    bool written = false;
    if (QFileInfo(path).suffix().compare(QLatin1String("svg"), Qt::CaseInsensitive) == 0) {
        QSvgGenerator svg;
        svg.setOutputDevice(&file);
        // 96 pixels to the inch (CSS), so that the picture opens at the size asked for.
        svg.setResolution(96);
        svg.setSize(size);
        svg.setViewBox(QRect(QPoint(0, 0), size));
        svg.setTitle(title);
        QPainter painter(&svg);
        painter.setRenderHint(QPainter::Antialiasing);
        drawing::PainterContext context(painter);
        drawSpectra(context, bounds, spectra, style, title);
        written = painter.end();
    } else {
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            drawing::PainterContext context(painter);
            drawSpectra(context, bounds, spectra, style, title);
        }
        written = image.save(&file, "PNG");
    }
    if (!written || !file.commit()) {
        *error = QStringLiteral("Cannot write \"%1\": %2")
                     .arg(path, file.errorString().isEmpty()
                                    ? QStringLiteral("the picture could not be encoded")
                                    : file.errorString());
        return false;
    }
    return true;
}

} // namespace features::analysis
