#include "drawing/Layer.h"

#include "drawing/PainterContext.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

namespace drawing {

namespace {

// Tiles in device pixels. Rows of tiles are short so that thin horizontal lines and short
// texts give small pieces; neighbouring busy tiles in a row are merged into one piece.
constexpr int kTileWidth = 32;
constexpr int kTileHeight = 8;

bool tileHoldsAnything(const QImage& image, const QRect& tile) {
    for (int y = tile.top(); y <= tile.bottom(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = tile.left(); x <= tile.right(); ++x) {
            if (qAlpha(row[x]) != 0)
                return true;
        }
    }
    return false;
}

// Where the frame's corner falls under `device`, in device pixels.
QPointF cornerOf(Rect frame, const QTransform& device) {
    return device.map(QPointF(frame.x, frame.y));
}

QPointF fractionOf(QPointF corner) {
    return corner - QPointF(std::floor(corner.x()), std::floor(corner.y()));
}

} // namespace

bool Layer::canBeMadeFor(const QTransform& device) {
    return device.type() <= QTransform::TxScale && device.m11() == device.m22() &&
           device.m11() > 0.0;
}

bool Layer::isValidFor(Rect frame, Rect bounds, const QTransform& device) const {
    // A corner that moved by a fraction of a pixel would put every edge elsewhere within its
    // pixels; one that moved by whole pixels only moves the picture.
    const QPointF moved = fractionOf(cornerOf(frame, device)) - fraction_;
    return scale_ > 0.0 && scale_ == device.m11() && frame_ == frame && bounds_ == bounds &&
           std::abs(moved.x()) < 1e-6 && std::abs(moved.y()) < 1e-6;
}

void Layer::clear() {
    pieces_.clear();
    frame_ = Rect();
    bounds_ = Rect();
    scale_ = 0.0;
    fraction_ = QPointF();
}

void Layer::draw(Rect frame, Rect bounds, const QTransform& device, const LayerContent& content) {
    clear();
    frame_ = frame;
    bounds_ = bounds;
    scale_ = device.m11();
    fraction_ = fractionOf(cornerOf(frame, device));
    const QSize pixels(static_cast<int>(std::ceil(frame.width * scale_ + fraction_.x())),
                       static_cast<int>(std::ceil(frame.height * scale_ + fraction_.y())));
    if (pixels.isEmpty())
        return;
    QImage whole(pixels, QImage::Format_ARGB32_Premultiplied);
    whole.fill(Qt::transparent);
    {
        // Every point lands where it would on the surface, less a whole number of pixels.
        QPainter painter(&whole);
        painter.translate(fraction_);
        painter.scale(scale_, scale_);
        painter.translate(-frame.x, -frame.y);
        PainterContext context(painter);
        content(context);
    }

    // Runs of busy tiles, row by row; a run identical in x to the one above extends it.
    std::vector<QRect> runs;
    std::vector<QRect> previousRow;
    for (int ty = 0; ty < pixels.height(); ty += kTileHeight) {
        std::vector<QRect> row;
        const int h = std::min(kTileHeight, pixels.height() - ty);
        for (int tx = 0; tx < pixels.width(); tx += kTileWidth) {
            const QRect tile(tx, ty, std::min(kTileWidth, pixels.width() - tx), h);
            if (!tileHoldsAnything(whole, tile))
                continue;
            if (!row.empty() && row.back().right() + 1 == tile.left())
                row.back().setRight(tile.right());
            else
                row.push_back(tile);
        }
        for (QRect& run : row) {
            auto above = std::find_if(previousRow.begin(), previousRow.end(), [&](const QRect& r) {
                return r.left() == run.left() && r.right() == run.right();
            });
            if (above != previousRow.end()) {
                // Grow the stored run downwards instead of starting a new one.
                auto stored = std::find(runs.begin(), runs.end(), *above);
                stored->setBottom(run.bottom());
                run = *stored;
            } else {
                runs.push_back(run);
            }
        }
        previousRow = std::move(row);
    }

    pieces_.reserve(runs.size());
    for (const QRect& run : runs)
        pieces_.push_back(Piece{run.topLeft(), whole.copy(run)});
}

void Layer::composite(QPainter& painter) const {
    if (pieces_.empty())
        return;
    const QTransform device = painter.deviceTransform();
    const QPointF corner = cornerOf(frame_, device) - fraction_;
    // Drawn in device pixels: a move by the picture's whole-pixel corner and nothing else, so
    // the pieces are copied, not resampled.
    painter.save();
    painter.setWorldTransform(
        QTransform::fromTranslate(std::round(corner.x()), std::round(corner.y())) *
        device.inverted() * painter.worldTransform());
    for (const Piece& piece : pieces_)
        painter.drawImage(piece.origin, piece.image);
    painter.restore();
}

} // namespace drawing
