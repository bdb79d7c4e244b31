#include "features/analysis/SpectrumDrawing.h"

#include "drawing/PainterContext.h"
#include "features/analysis/PlotDrawing.h"

#include <QFontMetricsF>
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

void setSeriesColors(drawing::DrawingContext& context, Series series, PlotTheme theme) {
    const drawing::Color c = seriesColor(series, theme);
    // Pure blue is hard to read on the dark ground; lighten it a little.
    const float least = theme == PlotTheme::Dark ? 0.3f : 0.0f;
    context.setRGBStrokeColor(std::max(c.red, least), std::max(c.green, least),
                              std::max(c.blue, least), 1.0f);
    context.setRGBFillColor(std::max(c.red, least), std::max(c.green, least),
                            std::max(c.blue, least), 1.0f);
}

void setFill(drawing::DrawingContext& context, drawing::Color c) {
    context.setRGBFillColor(c.red, c.green, c.blue, c.alpha);
}

// Text that stands out: near white on the dark ground, the labels' colour on a light one.
void setStrongText(drawing::DrawingContext& context, const PlotStyle& look) {
    if (look.theme == PlotTheme::Dark)
        context.setGrayFillColor(0.9f, 1.0f);
    else
        setFill(context, look.label);
}

QString welchLine(const PowerSpectrum& basis) {
    return QStringLiteral("Welch: Hann, 50 % overlap, %1-sample segments, %2 apart, %3 averaged")
        .arg(basis.segmentLength)
        .arg(hzLabel(basis.binHz))
        .arg(basis.segments);
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
              SpectrumQuantity quantity, const PlotStyle& look, bool unitInTitle) {
    const drawing::Rect& a = map.area;
    double step = 1.0;
    const std::vector<double> hzTicks =
        map.frequencyAxis == AxisScale::Logarithmic
            ? logTicks(map.lowHz, map.highHz)
            : niceTicks(map.lowHz, map.highHz, std::max(2, int(a.width / 90.0f)), &step);
    for (double hz : hzTicks) {
        const float x = std::round(map.x(hz));
        setFill(context, look.grid);
        context.fillRect({x, a.y, 1.0f, a.height});
        const QString label = hzLabel(hz);
        setFill(context, look.label);
        context.drawAtPoint(label, {x - textWidth(label) / 2.0f, a.y + a.height + 5.0f},
                            kLabelFont);
    }
    const std::vector<double> valueTicks =
        map.valueAxis == AxisScale::Logarithmic
            ? logTicks(map.lowValue, map.highValue)
            : niceTicks(map.lowValue, map.highValue, std::max(2, int(a.height / 48.0f)), &step);
    for (double value : valueTicks) {
        const float y = std::round(map.y(value));
        setFill(context, look.grid);
        context.fillRect({a.x, y, a.width, 1.0f});
        const QString label = valueLabel(value);
        setFill(context, look.label);
        context.drawAtPoint(label, {a.x - 6.0f - textWidth(label), y - 6.5f}, kLabelFont);
    }
    if (unitInTitle)
        return; // a figure's axis title names it
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
                drawing::Rect bounds, const PlotStyle& look) {
    if (!style.cursorHz || *style.cursorHz < map.lowHz || *style.cursorHz > map.highHz)
        return;
    const float x = std::round(map.x(*style.cursorHz));
    if (look.theme == PlotTheme::Dark)
        context.setGrayFillColor(0.85f, 1.0f);
    else
        setFill(context, look.label);
    context.fillRect({x, map.area.y, 1.0f, map.area.height});
    float at = map.area.x;
    setStrongText(context, look);
    at += context.drawAtPoint(hzLabel(*style.cursorHz), {at, bounds.y + 22.0f}, kLabelFont).width +
          14.0f;
    for (const SeriesSpectrum& one : spectra) {
        setSeriesColors(context, one.series, look.theme);
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
    const PlotStyle look = PlotStyle::forTheme(style.theme);
    context.setAllowsAntialiasing(true);
    setFill(context, look.ground);
    context.fillRect(bounds);
    const SpectrumMapping map = spectrumMapping(bounds, spectra, style);
    setFill(context, look.area);
    context.fillRect(map.area);
    QString heading = title;
    const auto shown = std::find_if(spectra.begin(), spectra.end(), [](const SeriesSpectrum& s) {
        return s.spectrum && !s.spectrum->isEmpty();
    });
    setStrongText(context, look);
    if (shown == spectra.end()) {
        context.drawAtPoint(heading.isEmpty() || style.framed
                                ? QStringLiteral("Too few samples for a spectrum")
                                : heading + QStringLiteral(": too few samples"),
                            {map.area.x, bounds.y + 4.0f}, kLabelFont);
        return;
    }
    const PowerSpectrum& basis = *shown->spectrum;
    const QString quantity = style.quantity == SpectrumQuantity::Density
                                 ? QStringLiteral("Power spectral density")
                                 : QStringLiteral("Amplitude spectrum");
    if (!style.framed) {
        heading = QStringLiteral("%1%2 (%3)")
                      .arg(heading.isEmpty() ? QString() : heading + QStringLiteral(": "),
                           heading.isEmpty() ? quantity : quantity.toLower(), welchLine(basis));
        context.drawAtPoint(heading, {map.area.x, bounds.y + 4.0f}, kLabelFont);
    }
    drawAxes(context, map, style.quantity, look, style.framed);
    for (const SeriesSpectrum& one : spectra) {
        if (!one.spectrum || one.spectrum->isEmpty())
            continue;
        setSeriesColors(context, one.series, look.theme);
        drawCurve(context, map, *one.spectrum, style.quantity);
    }
    // Peaks over every curve, strongest series first in the order given.
    std::vector<drawing::Rect> labels;
    for (const SeriesSpectrum& one : spectra) {
        setSeriesColors(context, one.series, look.theme);
        drawPeaks(context, map, one, style.quantity, labels);
    }
    if (!style.framed) {
        // The legend, right-aligned above the plot area.
        float at = map.area.x + map.area.width;
        for (auto one = spectra.rbegin(); one != spectra.rend(); ++one) {
            const QString name = seriesName(one->series);
            at -= textWidth(name) + 12.0f;
            setSeriesColors(context, one->series, look.theme);
            context.drawAtPoint(name, {at, bounds.y + 22.0f}, kLabelFont);
        }
    }
    drawCursor(context, map, spectra, style, bounds, look);
}

Figure spectraFigure(const std::vector<SeriesSpectrum>& spectra, SpectrumStyle style,
                     const QString& title, const QString& span) {
    style.framed = true;
    Figure figure;
    figure.theme = style.theme;
    figure.title = title;
    figure.subtitle = span;
    const auto shown = std::find_if(spectra.begin(), spectra.end(), [](const SeriesSpectrum& s) {
        return s.spectrum && !s.spectrum->isEmpty();
    });
    if (shown != spectra.end())
        figure.subtitle += QStringLiteral("; ") + welchLine(*shown->spectrum);
    for (const SeriesSpectrum& one : spectra)
        figure.legend.push_back({seriesName(one.series), seriesColor(one.series, style.theme)});
    figure.xTitle = QStringLiteral("Frequency (Hz)");
    figure.yTitle = style.quantity == SpectrumQuantity::Density
                        ? QStringLiteral("Power spectral density (g²/Hz)")
                        : QStringLiteral("Amplitude (g)");
    figure.drawBody = [spectra, style](drawing::DrawingContext& context, drawing::Rect bounds,
                                       const PlotStyle&) {
        drawSpectra(context, bounds, spectra, style, QString());
    };
    return figure;
}

} // namespace features::analysis
