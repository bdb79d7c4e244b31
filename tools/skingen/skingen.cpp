// Generates the skin images of the five screens and the application icon.
//
//   skingen RESOURCES_DIR
//
// writes RESOURCES_DIR/skins/<skin>[90][@2x].png and
// RESOURCES_DIR/icons/hicolor/<N>x<N>/apps/wobblestar.png. Every picture is drawn in logical
// points and rendered once per pixel density, so the @2x variants carry the same design with
// twice the detail. Random textures use fixed seeds: running the generator again gives the same
// files, so regenerating does not churn the repository.

#include "app/GaugeLayout.h"

#include <QConicalGradient>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <numbers>
#include <vector>

namespace {

constexpr QSize portraitSize{320, 480};
constexpr QSize landscapeSize{480, 320};

// ---------------------------------------------------------------------------------------------
// Noise

quint32 hash(qint32 x, qint32 y, quint32 seed) {
    quint32 h = seed * 0x9E3779B1u ^ quint32(x) * 0x85EBCA77u ^ quint32(y) * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return h;
}

// Uniform in [0, 1).
double random01(qint32 x, qint32 y, quint32 seed) {
    return double(hash(x, y, seed) >> 8) / double(1u << 24);
}

double smoothstep(double t) {
    return t * t * (3.0 - 2.0 * t);
}

// Smooth value noise in [0, 1) with features about one unit apart.
double valueNoise(double x, double y, quint32 seed) {
    const double fx = std::floor(x), fy = std::floor(y);
    const auto ix = qint32(fx), iy = qint32(fy);
    const double tx = smoothstep(x - fx), ty = smoothstep(y - fy);
    const double a = random01(ix, iy, seed), b = random01(ix + 1, iy, seed);
    const double c = random01(ix, iy + 1, seed), d = random01(ix + 1, iy + 1, seed);
    return std::lerp(std::lerp(a, b, tx), std::lerp(c, d, tx), ty);
}

// Fractal noise in about [0, 1): octaves of value noise, each half the size and weight.
double fractalNoise(double x, double y, int octaves, quint32 seed) {
    double sum = 0.0, weight = 0.5, total = 0.0;
    for (int i = 0; i < octaves; ++i) {
        sum += weight * valueNoise(x, y, seed + quint32(i) * 101u);
        total += weight;
        x *= 2.0;
        y *= 2.0;
        weight *= 0.5;
    }
    return sum / total;
}

// ---------------------------------------------------------------------------------------------
// Canvas helpers

double clamp01(double v) {
    return std::clamp(v, 0.0, 1.0);
}

QRgb rgb(double r, double g, double b) {
    return qRgb(int(std::lround(clamp01(r) * 255.0)), int(std::lround(clamp01(g) * 255.0)),
                int(std::lround(clamp01(b) * 255.0)));
}

// Fonts are sized in points; at 72 dots per inch a point is one logical unit of the painter,
// whatever the pixel density.
void setPointResolution(QImage& image) {
    constexpr int dotsPerMeterAt72Dpi = 2835;
    image.setDotsPerMeterX(dotsPerMeterAt72Dpi);
    image.setDotsPerMeterY(dotsPerMeterAt72Dpi);
}

QImage newImage(QSize points, qreal scale) {
    QImage image(points * scale, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    setPointResolution(image);
    return image;
}

// Fills every pixel from a function of its centre in points.
void shadePixels(QImage& image, qreal scale, const std::function<QRgb(double, double)>& shade) {
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            line[x] = shade((x + 0.5) / scale, (y + 0.5) / scale);
    }
}

// A painter that draws in points on an image of any density.
class PointPainter : public QPainter {
public:
    PointPainter(QImage& image, qreal scale) : QPainter(&image) {
        setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                       QPainter::SmoothPixmapTransform);
        QPainter::scale(scale, scale);
    }
};

// Darkens towards the corners, as a lens or an old print does.
void vignette(QImage& image, qreal scale, QColor edge, double strength) {
    const QSizeF size = QSizeF(image.size()) / scale;
    PointPainter p(image, scale);
    QRadialGradient g(size.width() / 2, size.height() / 2,
                      0.75 * std::hypot(size.width(), size.height()) / 2);
    QColor clear = edge;
    clear.setAlphaF(0.0);
    QColor dark = edge;
    dark.setAlphaF(float(strength));
    g.setColorAt(0.0, clear);
    g.setColorAt(0.55, clear);
    g.setColorAt(1.0, dark);
    p.fillRect(QRectF(QPointF(), size), g);
}

QFont font(const QString& family, qreal points, QFont::Weight weight = QFont::Normal,
           bool italic = false) {
    QFont f(family);
    f.setPointSizeF(points);
    f.setWeight(weight);
    f.setItalic(italic);
    f.setHintingPreference(QFont::PreferNoHinting);
    return f;
}

void drawCentredText(QPainter& p, QPointF centre, const QString& text) {
    const QFontMetricsF m(p.font());
    const QRectF box = m.tightBoundingRect(text);
    p.drawText(QPointF(centre.x() - box.width() / 2 - box.left(),
                       centre.y() - box.height() / 2 - box.top()),
               text);
}

// ---------------------------------------------------------------------------------------------
// Gauge faces
//
// The meters screen draws its needles at the pivots of app/GaugeLayout.h in a 480 × 320 point
// view, turning clockwise for positive readings from straight up at 0 g. The skin carries the
// matching scale.

struct Gauge {
    QPointF pivot;
    QString label;
    QColor accent; // the axis colour of the graph traces, lightened to read on a dark face
};

QPointF pivotOf(unsigned axis) {
    return {app::gauge::kPivots[axis].x, app::gauge::kPivots[axis].y};
}

const std::array<Gauge, 3> gauges{{
    {pivotOf(0), QStringLiteral("X"), QColor(255, 80, 70)},
    {pivotOf(1), QStringLiteral("Y"), QColor(70, 220, 90)},
    {pivotOf(2), QStringLiteral("Z"), QColor(90, 150, 255)},
}};

// Radii in points. The needle tip reaches gauge::kNeedleLength (50): the ticks start just
// inside it.
constexpr double faceRadius = 73.0;
constexpr double bezelRadius = 79.0; // leaves 12 points between X and Z, 15 to the left edge
constexpr double tickOuter = 59.0;
constexpr double majorTickInner = 48.5;
constexpr double halfTickInner = 52.0;
constexpr double minorTickInner = 55.0;
constexpr double numberRadius = 66.5;
constexpr double degreesPerG = app::gauge::kDegreesPerG;
static_assert(majorTickInner < app::gauge::kNeedleLength && app::gauge::kNeedleLength < tickOuter,
              "the needle's tip must end among the ticks");

struct DialStyle {
    std::function<void(QPainter&, const Gauge&)> paintBezel;
    std::function<void(QPainter&, const Gauge&)> paintFace;
    QColor ink;      // ticks and numbers
    QColor labelInk; // invalid: the gauge's accent colour
    QString family;
    bool italicNumbers = false;
    double tickWidth = 1.6;
};

// Point on the dial at the needle angle of a reading: 0 g up, positive clockwise.
QPointF onDial(QPointF pivot, double g, double radius) {
    const double a = g * degreesPerG * std::numbers::pi / 180.0;
    return {pivot.x() + radius * std::sin(a), pivot.y() - radius * std::cos(a)};
}

QString scaleNumber(int g) {
    if (g == 6)
        return QStringLiteral("±6");
    if (g < 0)
        return QStringLiteral("\u2212%1").arg(-g);
    return QString::number(g);
}

void drawScale(QPainter& p, const Gauge& gauge, const DialStyle& style) {
    // Quarter-g ticks all round: -6 g and +6 g meet straight down.
    for (int quarter = -23; quarter <= 24; ++quarter) {
        const double g = quarter / 4.0;
        const bool major = quarter % 4 == 0, half = quarter % 2 == 0;
        const double inner = major ? majorTickInner : half ? halfTickInner : minorTickInner;
        QPen pen(style.ink, major  ? style.tickWidth
                            : half ? style.tickWidth * 0.75
                                   : style.tickWidth * 0.55);
        pen.setCapStyle(Qt::FlatCap);
        p.setPen(pen);
        p.drawLine(onDial(gauge.pivot, g, inner), onDial(gauge.pivot, g, tickOuter));
    }
    p.setFont(font(style.family, 8.5, QFont::DemiBold, style.italicNumbers));
    p.setPen(style.ink);
    for (int g = -5; g <= 6; ++g)
        drawCentredText(p, onDial(gauge.pivot, g, numberRadius), scaleNumber(g));

    p.setPen(style.labelInk.isValid() ? style.labelInk : gauge.accent);
    p.setFont(font(style.family, 13, QFont::Bold));
    drawCentredText(p, gauge.pivot + QPointF(0, 24), gauge.label);
    p.setPen(style.ink);
    p.setFont(font(style.family, 7.5, QFont::Normal, true));
    drawCentredText(p, gauge.pivot + QPointF(0, 37), QStringLiteral("g"));
}

void drawDials(QImage& image, qreal scale, const DialStyle& style) {
    PointPainter p(image, scale);
    for (const Gauge& gauge : gauges) {
        p.save();
        style.paintBezel(p, gauge);
        p.restore();
        p.save();
        QPainterPath face;
        face.addEllipse(gauge.pivot, faceRadius, faceRadius);
        p.setClipPath(face);
        style.paintFace(p, gauge);
        p.restore();
        p.save();
        drawScale(p, gauge, style);
        p.restore();
    }
}

// A soft shadow under a round part lifted off the background.
void dropShadow(QPainter& p, QPointF centre, double radius, double alpha) {
    QRadialGradient g(centre + QPointF(1.5, 3), radius + 7);
    g.setColorAt(0.0, QColor(0, 0, 0, int(alpha * 255)));
    g.setColorAt(radius / (radius + 7), QColor(0, 0, 0, int(alpha * 255)));
    g.setColorAt(1.0, QColor(0, 0, 0, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawEllipse(centre + QPointF(1.5, 3), radius + 7, radius + 7);
}

// A polished ring lit from above-left: a conical gradient reads as metal.
void metalRing(QPainter& p, QPointF centre, double outer, double inner, QColor light, QColor dark) {
    QConicalGradient g(centre, 45);
    g.setColorAt(0.00, light);
    g.setColorAt(0.15, dark);
    g.setColorAt(0.35, light.darker(115));
    g.setColorAt(0.50, dark.darker(130));
    g.setColorAt(0.70, light);
    g.setColorAt(0.85, dark);
    g.setColorAt(1.00, light);
    QPainterPath ring;
    ring.addEllipse(centre, outer, outer);
    ring.addEllipse(centre, inner, inner);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawPath(ring);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0, 0, 0, 150), 0.8));
    p.drawEllipse(centre, outer, outer);
    p.setPen(QPen(QColor(0, 0, 0, 190), 1.0));
    p.drawEllipse(centre, inner, inner);
}

// Glass over the face: a faint highlight in the upper half.
void glassHighlight(QPainter& p, QPointF centre, double radius, int alpha) {
    QLinearGradient g(centre - QPointF(0, radius), centre + QPointF(0, radius * 0.1));
    g.setColorAt(0.0, QColor(255, 255, 255, alpha));
    g.setColorAt(1.0, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawEllipse(
        QRectF(centre.x() - radius * 0.85, centre.y() - radius * 0.97, radius * 1.7, radius * 1.1));
}

// ---------------------------------------------------------------------------------------------
// Carbon: a 2/2 twill of carbon tows under a clear coat.

QImage carbonWeave(QSize points, qreal scale) {
    constexpr double cell = 6.0; // one tow width, in points
    QImage image = newImage(points, scale);
    const double w = points.width(), h = points.height();
    shadePixels(image, scale, [&](double x, double y) {
        const double cx = x / cell, cy = y / cell;
        const auto i = qint32(std::floor(cx)), j = qint32(std::floor(cy));
        const double u = cx - i, v = cy - j;
        const int phase = ((i + j) % 4 + 4) % 4;
        const bool horizontal = phase < 2; // each tow floats over two crossing tows
        const double across = horizontal ? v : u;
        const double along = ((horizontal ? phase : phase - 2) + (horizontal ? u : v)) / 2.0;
        // Round tows, dipping where they pass under the crossing tows.
        const double round = std::pow(std::sin(std::numbers::pi * across), 0.5);
        const double dip = std::pow(std::sin(std::numbers::pi * along), 0.35);
        // Fibres run along the tow: fine streaks across it.
        const qint32 tow = horizontal ? j : i;
        const double fibre = 0.85 + 0.3 * random01(qint32(std::floor(across * 14.0)),
                                                   tow * 7 + (horizontal ? 1 : 2), 11u);
        // Light glancing from the upper left lifts the horizontal tows on one side of the
        // picture and the vertical ones on the other, the shimmer real carbon shows.
        const double sweep = 0.5 + 0.5 * std::sin((x / w * 1.3 - y / h * 0.8) * std::numbers::pi);
        const double sheen = horizontal ? 0.20 + 0.20 * sweep : 0.12 + 0.16 * (1.0 - sweep);
        const double value = 0.035 + sheen * round * dip * fibre;
        return rgb(value * 0.97, value * 0.99, value * 1.06);
    });
    // Clear coat: a broad soft reflection across the top.
    PointPainter p(image, scale);
    QLinearGradient coat(0, 0, w * 0.6, h);
    coat.setColorAt(0.0, QColor(255, 255, 255, 28));
    coat.setColorAt(0.45, QColor(255, 255, 255, 6));
    coat.setColorAt(1.0, QColor(255, 255, 255, 0));
    p.fillRect(QRectF(0, 0, w, h), coat);
    p.end();
    vignette(image, scale, Qt::black, 0.55);
    return image;
}

const DialStyle carbonDial{
    [](QPainter& p, const Gauge& gauge) {
        dropShadow(p, gauge.pivot, bezelRadius, 0.6);
        metalRing(p, gauge.pivot, bezelRadius, faceRadius, QColor(235, 238, 242),
                  QColor(70, 74, 80));
    },
    [](QPainter& p, const Gauge& gauge) {
        QRadialGradient g(gauge.pivot - QPointF(0, 20), faceRadius * 1.3);
        g.setColorAt(0.0, QColor(34, 36, 40));
        g.setColorAt(1.0, QColor(6, 6, 8));
        p.fillRect(QRectF(gauge.pivot - QPointF(faceRadius, faceRadius),
                          QSizeF(2 * faceRadius, 2 * faceRadius)),
                   g);
        glassHighlight(p, gauge.pivot, faceRadius, 34);
    },
    QColor(236, 238, 242),
    QColor(),
    QStringLiteral("DejaVu Sans"),
};

QImage carbon(QSize points, qreal scale) {
    QImage image = carbonWeave(points, scale);
    if (points.width() > points.height())
        drawDials(image, scale, carbonDial);
    return image;
}

// ---------------------------------------------------------------------------------------------
// Metal: brushed steel, spun-steel dial faces, four screws.

// Streaks along x: white noise smeared by a long box filter, run twice so it looks like a
// triangle filter and leaves no visible box edges.
std::vector<double> brushedStreaks(QSize pixels, qreal scale, quint32 seed) {
    const int w = pixels.width(), h = pixels.height();
    const int reach = int(20 * scale);
    std::vector<double> streaks(size_t(w) * h);
    std::vector<double> row(w), smeared(w);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x)
            row[x] = random01(x, y, seed) - 0.5;
        for (int pass = 0; pass < 2; ++pass) {
            double sum = 0.0;
            for (int k = -reach; k <= reach; ++k)
                sum += row[(k + w) % w];
            for (int x = 0; x < w; ++x) {
                smeared[x] = sum / (2 * reach + 1);
                sum += row[(x + reach + 1) % w] - row[(x - reach + w) % w];
            }
            row.swap(smeared);
        }
        // Some grooves run deeper than others along a whole row.
        const double groove = (random01(y, 0, seed + 7u) - 0.5) * 0.35;
        for (int x = 0; x < w; ++x)
            streaks[size_t(y) * w + x] = row[x] * std::sqrt(2.0 * reach) * 1.6 + groove;
    }
    return streaks;
}

QImage brushedSteel(QSize points, qreal scale) {
    QImage image = newImage(points, scale);
    const std::vector<double> streaks = brushedStreaks(image.size(), scale, 23u);
    const double w = points.width(), h = points.height();
    const int pw = image.width();
    shadePixels(image, scale, [&](double x, double y) {
        const double s = streaks[size_t(y * scale) * pw + size_t(x * scale)];
        // Brushing spreads a light into broad bands across the grain.
        const double bands = 0.06 * std::cos((x / w * 2.2 + 0.1) * std::numbers::pi) +
                             0.04 * std::cos((x / w * 5.0 + 0.7) * std::numbers::pi);
        const double base = 0.60 - 0.10 * (y / h) + bands + 0.05 * s;
        return rgb(base * 0.98, base, base * 1.03);
    });
    return image;
}

void screw(QPainter& p, QPointF centre, double radius) {
    QRadialGradient head(centre - QPointF(radius * 0.4, radius * 0.4), radius * 1.6);
    head.setColorAt(0.0, QColor(240, 242, 245));
    head.setColorAt(1.0, QColor(95, 98, 104));
    p.setPen(QPen(QColor(40, 42, 46, 200), 0.6));
    p.setBrush(head);
    p.drawEllipse(centre, radius, radius);
    p.setPen(QPen(QColor(45, 47, 50), radius * 0.28, Qt::SolidLine, Qt::RoundCap));
    const QPointF slot = QPointF(std::cos(0.6), std::sin(0.6)) * radius * 0.7;
    p.drawLine(centre - slot, centre + slot);
    p.setPen(QPen(QColor(255, 255, 255, 120), radius * 0.12));
    p.drawLine(centre - slot + QPointF(0.3, 0.4), centre + slot + QPointF(0.3, 0.4));
}

void screwsInCorners(QImage& image, qreal scale, QSize points, double inset) {
    PointPainter p(image, scale);
    for (double x : {inset, points.width() - inset})
        for (double y : {inset, points.height() - inset})
            screw(p, {x, y}, 4.5);
}

// Spun steel: fine concentric grooves, with the light caught in a bow-tie across them.
QImage spunFace(double radius, qreal scale, quint32 seed) {
    const QSize points(int(2 * radius), int(2 * radius));
    QImage face = newImage(points, scale);
    shadePixels(face, scale, [&](double x, double y) {
        const double dx = x - radius, dy = y - radius;
        const double r = std::hypot(dx, dy), a = std::atan2(dy, dx);
        const double groove = random01(qint32(r * scale * 1.5), 0, seed) - 0.5;
        const double ring = 0.5 * (random01(qint32(r * 0.7), 1, seed) - 0.5);
        const double bowtie = 0.10 * std::pow(std::abs(std::cos(a - 0.9)), 6.0);
        const double v = 0.17 + bowtie + 0.035 * groove + 0.03 * ring - 0.05 * (r / radius);
        return rgb(v * 0.97, v, v * 1.05);
    });
    return face;
}

QImage metal(QSize points, qreal scale) {
    QImage image = brushedSteel(points, scale);
    screwsInCorners(image, scale, points, 9.0);
    if (points.width() > points.height()) {
        const QImage face = spunFace(faceRadius, scale, 31u);
        const DialStyle style{
            [](QPainter& p, const Gauge& gauge) {
                dropShadow(p, gauge.pivot, bezelRadius, 0.45);
                metalRing(p, gauge.pivot, bezelRadius, faceRadius, QColor(250, 251, 253),
                          QColor(110, 114, 120));
            },
            [&face](QPainter& p, const Gauge& gauge) {
                p.drawImage(QRectF(gauge.pivot - QPointF(faceRadius, faceRadius),
                                   QSizeF(2 * faceRadius, 2 * faceRadius)),
                            face);
                // The face sits below the bezel: its rim lies in the bezel's shadow.
                QRadialGradient rim(gauge.pivot, faceRadius);
                rim.setColorAt(0.88, QColor(0, 0, 0, 0));
                rim.setColorAt(1.0, QColor(0, 0, 0, 140));
                p.fillRect(QRectF(gauge.pivot - QPointF(faceRadius, faceRadius),
                                  QSizeF(2 * faceRadius, 2 * faceRadius)),
                           rim);
                glassHighlight(p, gauge.pivot, faceRadius, 26);
            },
            QColor(240, 242, 246),
            QColor(),
            QStringLiteral("DejaVu Sans Condensed"),
        };
        drawDials(image, scale, style);
    }
    return image;
}

// ---------------------------------------------------------------------------------------------
// Ancient: foxed parchment with burnt edges; brass-rimmed dials of aged card.

struct Paper {
    quint32 seed;
    double darkness;  // 0 for the page, more for the darker card of the dial faces
    double stains;    // weight of the large brown water stains
    double burnWidth; // points of scorched border; 0 for none
};

QRgb parchmentAt(double x, double y, QSizeF size, const Paper& paper) {
    const quint32 seed = paper.seed;
    const double cloud = fractalNoise(x / 70.0, y / 70.0, 5, seed);
    const double grain = valueNoise(x / 1.3, y / 1.3, seed + 3u);
    const double fibre = valueNoise(x / 9.0, y / 0.9, seed + 5u); // laid lines of the paper
    // Stains: the upper tail of a coarse noise becomes faint brown tide marks.
    const double stain =
        paper.stains * std::max(0.0, fractalNoise(x / 45.0, y / 45.0, 4, seed + 9u) - 0.6);
    double v = (0.82 + 0.14 * (cloud - 0.5) + 0.05 * (grain - 0.5) + 0.03 * (fibre - 0.5)) *
               (1.0 - paper.darkness);
    double r = v * 1.00 - stain * 0.8, g = v * 0.86 - stain * 1.0, b = v * 0.62 - stain * 0.9;
    if (paper.burnWidth > 0) {
        // Scorched border: darkening that creeps in from the edge along a ragged front.
        const double edge =
            std::min({x, y, size.width() - x, size.height() - y}) / paper.burnWidth +
            0.7 * (fractalNoise(x / 18.0, y / 18.0, 3, seed + 13u) - 0.5);
        const double burn = 1.0 - smoothstep(clamp01(edge));
        r = std::lerp(r, 0.28, burn * 0.9);
        g = std::lerp(g, 0.16, burn * 0.9);
        b = std::lerp(b, 0.06, burn * 0.9);
    }
    return rgb(r, g, b);
}

// Foxing: the small rust-brown spots that old paper grows.
void foxing(QImage& image, qreal scale, QSize points, quint32 seed, int count) {
    PointPainter p(image, scale);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < count; ++i) {
        const QPointF at(random01(i, 1, seed) * points.width(),
                         random01(i, 2, seed) * points.height());
        const double radius = 0.8 + 3.5 * std::pow(random01(i, 3, seed), 3.0);
        QRadialGradient spot(at, radius);
        const int alpha = int(60 + 90 * random01(i, 4, seed));
        spot.setColorAt(0.0, QColor(120, 62, 20, alpha));
        spot.setColorAt(0.6, QColor(140, 80, 30, alpha / 2));
        spot.setColorAt(1.0, QColor(140, 80, 30, 0));
        p.setBrush(spot);
        p.drawEllipse(at, radius, radius);
    }
}

QImage parchment(QSize points, qreal scale) {
    QImage image = newImage(points, scale);
    const Paper page{41u, 0.0, 0.9, 22.0};
    shadePixels(image, scale,
                [&](double x, double y) { return parchmentAt(x, y, QSizeF(points), page); });
    foxing(image, scale, points, 43u, 70);
    vignette(image, scale, QColor(60, 30, 10), 0.55);
    return image;
}

// A thin double rule around the page, as on an old instrument card.
void inkBorder(QImage& image, qreal scale, QSize points) {
    PointPainter p(image, scale);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(60, 32, 10, 170), 1.1));
    p.drawRect(QRectF(QPointF(17, 17), QSizeF(points) - QSizeF(34, 34)));
    p.setPen(QPen(QColor(60, 32, 10, 130), 0.5));
    p.drawRect(QRectF(QPointF(20, 20), QSizeF(points) - QSizeF(40, 40)));
}

const DialStyle ancientDial{
    [](QPainter& p, const Gauge& gauge) {
        dropShadow(p, gauge.pivot, bezelRadius, 0.45);
        metalRing(p, gauge.pivot, bezelRadius, faceRadius, QColor(250, 222, 140),
                  QColor(120, 82, 28));
    },
    [](QPainter& p, const Gauge& gauge) {
        // Aged card darker than the page, so the white needle stands out.
        const QPointF corner = gauge.pivot - QPointF(faceRadius, faceRadius);
        const qreal scale = p.transform().m11();
        const Paper paper{57u, 0.20, 0.25, 0.0};
        QImage card = newImage(QSize(int(2 * faceRadius), int(2 * faceRadius)), scale);
        shadePixels(card, scale, [&](double x, double y) {
            return parchmentAt(x + corner.x(), y + corner.y(), {}, paper);
        });
        p.drawImage(QRectF(corner, QSizeF(card.size()) / scale), card);
        QRadialGradient rim(gauge.pivot, faceRadius);
        rim.setColorAt(0.86, QColor(50, 25, 5, 0));
        rim.setColorAt(1.0, QColor(50, 25, 5, 130));
        p.fillRect(QRectF(corner, QSizeF(2 * faceRadius, 2 * faceRadius)), rim);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(40, 20, 5, 200), 0.7));
        p.drawEllipse(gauge.pivot, tickOuter + 0.6, tickOuter + 0.6);
        p.drawEllipse(gauge.pivot, tickOuter + 2.0, tickOuter + 2.0);
    },
    QColor(38, 20, 6),
    QColor(110, 20, 10),
    QStringLiteral("DejaVu Serif"),
    true,
    1.4,
};

QImage ancient(QSize points, qreal scale) {
    QImage image = parchment(points, scale);
    inkBorder(image, scale, points);
    if (points.width() > points.height())
        drawDials(image, scale, ancientDial);
    return image;
}

// ---------------------------------------------------------------------------------------------
// Black: nothing but black, and plain rings on the meters screen.

const DialStyle blackDial{
    [](QPainter& p, const Gauge& gauge) {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(90, 90, 90), 1.2));
        p.drawEllipse(gauge.pivot, faceRadius, faceRadius);
    },
    [](QPainter&, const Gauge&) {},
    QColor(215, 215, 215),
    QColor(),
    QStringLiteral("DejaVu Sans"),
};

QImage black(QSize points, qreal scale) {
    QImage image = newImage(points, scale);
    if (points.width() > points.height())
        drawDials(image, scale, blackDial);
    return image;
}

// ---------------------------------------------------------------------------------------------
// Application icon: three traces, red, green and blue, on a dark rounded square.

QImage icon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    setPointResolution(image);
    const double s = size / 64.0; // designed on a 64-unit grid
    PointPainter p(image, s);
    const QRectF tile(2, 2, 60, 60);
    QLinearGradient bg(0, 2, 0, 62);
    bg.setColorAt(0.0, QColor(58, 62, 70));
    bg.setColorAt(1.0, QColor(14, 15, 18));
    p.setPen(size >= 32 ? QPen(QColor(0, 0, 0, 160), 1.0 / s) : Qt::NoPen);
    p.setBrush(bg);
    p.drawRoundedRect(tile, 13, 13);
    if (size >= 32) {
        p.setPen(QPen(QColor(255, 255, 255, 40), 1.0 / s));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(tile.adjusted(1.0, 1.0, -1.0, -1.0), 12, 12);
    }
    struct Trace {
        QColor colour;
        double baseline, amplitude, cycles, phase;
    };
    const std::array<Trace, 3> traces{{
        {QColor(255, 70, 60), 18, 6.5, 1.5, 0.0},
        {QColor(60, 220, 90), 32, 5.0, 2.5, 1.3},
        {QColor(80, 140, 255), 46, 7.0, 1.0, 2.1},
    }};
    if (size >= 48) {
        // Faint zero lines, as on the graph screen's strips.
        p.setPen(QPen(QColor(255, 255, 255, 38), 1.0));
        for (const Trace& t : traces)
            p.drawLine(QPointF(9, t.baseline), QPointF(55, t.baseline));
    }
    // A few pixels cannot show a wobble: at the smallest size the traces calm down.
    const double wiggle = size <= 16 ? 0.45 : 1.0;
    const double width = std::max(3.2, 1.25 / s);
    for (const Trace& t : traces) {
        QPainterPath path;
        for (double x = 10; x <= 54.01; x += 0.5) {
            const double k = (x - 10) / 44;
            // A damped wobble: big where the shake starts, settling towards the right.
            const double y =
                t.baseline - wiggle * t.amplitude * std::exp(-1.6 * k) *
                                 std::sin(2 * std::numbers::pi * t.cycles * k + t.phase);
            if (x == 10)
                path.moveTo(x, y);
            else
                path.lineTo(x, y);
        }
        p.setPen(QPen(t.colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(path);
    }
    return image;
}

// ---------------------------------------------------------------------------------------------
// The device's axes, for the info screen: a phone seen from the front, X to the right of its
// screen, Y to its top, Z out of the screen towards the viewer.

// Drawn at the size the info text shows it (the text's width less its margins), so that it is
// never scaled down; the figure is drawn on a 280 x 150 grid shrunk to fit.
const QSize axesSize(252, 135);
const QSizeF axesGrid(280, 150);

bool save(const QImage& image, const QString& path);

void arrow(QPainter& p, QPointF from, QPointF to, const QColor& colour) {
    p.setPen(QPen(colour, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(from, to);
    const QPointF d = (to - from) / std::hypot(to.x() - from.x(), to.y() - from.y());
    const QPointF n(-d.y(), d.x());
    QPolygonF head;
    head << to + d * 2.0 << to - d * 9.0 + n * 5.0 << to - d * 9.0 - n * 5.0;
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPolygon(head);
}

QImage deviceAxes(qreal scale) {
    QImage image(axesSize * scale, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    setPointResolution(image);
    PointPainter p(image, scale);
    const qreal shrink = axesSize.width() / axesGrid.width();
    p.save();
    p.scale(shrink, shrink);
    const QColor red(255, 80, 70), green(70, 220, 100), blue(90, 150, 255);
    const QRectF phone(100, 14, 70, 124);
    p.setPen(QPen(QColor(200, 200, 200), 1.5));
    p.setBrush(QColor(40, 42, 48));
    p.drawRoundedRect(phone, 10, 10);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(20, 60, 90));
    p.drawRect(phone.adjusted(6, 16, -6, -18));
    p.setBrush(QColor(200, 200, 200));
    p.drawEllipse(QPointF(phone.center().x(), phone.bottom() - 9), 4, 4);

    const QPointF origin = phone.center();
    arrow(p, origin, origin + QPointF(95, 0), red);
    arrow(p, origin, origin - QPointF(0, 70), green);
    // Z points at the viewer: a dot in a ring.
    p.setPen(QPen(blue, 2.5));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(origin, 9, 9);
    p.setPen(Qt::NoPen);
    p.setBrush(blue);
    p.drawEllipse(origin, 3.5, 3.5);

    p.setFont(font(QStringLiteral("DejaVu Sans"), 12, QFont::Bold));
    p.setPen(red);
    p.drawText(QPointF(origin.x() + 100, origin.y() + 5), QStringLiteral("X"));
    p.setPen(green);
    p.drawText(QPointF(origin.x() + 9, origin.y() - 58), QStringLiteral("Y"));
    p.setPen(blue);
    p.drawText(QPointF(origin.x() - 30, origin.y() + 24), QStringLiteral("Z"));
    p.restore();
    // The caption keeps the body text's size; light grey on the about screen's dark panel. It
    // ends a clear gap before the phone's outline.
    p.setFont(font(QStringLiteral("DejaVu Sans"), 12));
    p.setPen(QColor(225, 225, 225));
    p.drawText(QRectF(0, 80, (phone.left() - 10) * shrink, 54),
               Qt::AlignRight | Qt::AlignVCenter | Qt::TextWordWrap,
               QStringLiteral("face up:\n(0, 0, \u22121) g"));
    return image;
}

bool writeHelpImages(const QString& dir) {
    return save(deviceAxes(1), dir + QStringLiteral("/axes.png")) &&
           save(deviceAxes(2), dir + QStringLiteral("/axes@2x.png"));
}

// ---------------------------------------------------------------------------------------------

bool save(const QImage& image, const QString& path) {
    if (!QDir().mkpath(QFileInfo(path).absolutePath()) || !image.save(path, "PNG")) {
        std::fprintf(stderr, "skingen: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

bool writeSkins(const QString& dir) {
    struct Skin {
        const char* name;
        QImage (*paint)(QSize, qreal);
    };
    const std::array<Skin, 4> skins{{
        {"carbon", carbon},
        {"metal", metal},
        {"ancient", ancient},
        {"black", black},
    }};
    bool ok = true;
    for (const Skin& skin : skins)
        for (const bool landscape : {false, true})
            for (const int scale : {1, 2}) {
                const QString name = QString::fromLatin1(skin.name) +
                                     (landscape ? QStringLiteral("90") : QString()) +
                                     (scale == 2 ? QStringLiteral("@2x") : QString()) +
                                     QStringLiteral(".png");
                // Opaque images compress better without an alpha channel.
                const QImage image = skin.paint(landscape ? landscapeSize : portraitSize, scale)
                                         .convertToFormat(QImage::Format_RGB888);
                ok = save(image, dir + QLatin1Char('/') + name) && ok;
            }
    return ok;
}

bool writeIcons(const QString& dir) {
    bool ok = true;
    for (const int size : {16, 32, 48, 64, 128, 256, 512})
        ok = save(icon(size),
                  QStringLiteral("%1/hicolor/%2x%2/apps/wobblestar.png").arg(dir).arg(size)) &&
             ok;
    return ok;
}

} // namespace

int main(int argc, char* argv[]) {
    // Painting text needs a GUI application but no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: skingen RESOURCES_DIR\n"
                             "Writes RESOURCES_DIR/skins/*.png and the application icons.\n");
        return 2;
    }
    const QString resources = args.at(1);
    const bool ok = writeSkins(resources + QStringLiteral("/skins")) &&
                    writeIcons(resources + QStringLiteral("/icons")) &&
                    writeHelpImages(resources + QStringLiteral("/help"));
    return ok ? 0 : 1;
}
