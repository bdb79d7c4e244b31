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

} // namespace

bool Layer::isValidFor(Rect frame, Rect bounds, qreal devicePixelRatio) const {
    return devicePixelRatio_ > 0.0 && devicePixelRatio_ == devicePixelRatio && frame_ == frame &&
           bounds_ == bounds;
}

void Layer::clear() {
    pieces_.clear();
    frame_ = Rect();
    bounds_ = Rect();
    devicePixelRatio_ = 0.0;
}

void Layer::draw(Rect frame, Rect bounds, qreal devicePixelRatio, const LayerContent& content) {
    clear();
    frame_ = frame;
    bounds_ = bounds;
    devicePixelRatio_ = devicePixelRatio;
    const QSize pixels(static_cast<int>(std::ceil(frame.width * devicePixelRatio)),
                       static_cast<int>(std::ceil(frame.height * devicePixelRatio)));
    if (pixels.isEmpty())
        return;
    QImage whole(pixels, QImage::Format_ARGB32_Premultiplied);
    whole.setDevicePixelRatio(devicePixelRatio);
    whole.fill(Qt::transparent);
    {
        QPainter painter(&whole);
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
    for (const QRect& run : runs) {
        QImage piece = whole.copy(run);
        piece.setDevicePixelRatio(devicePixelRatio);
        pieces_.push_back(Piece{
            QPointF(frame.x + run.x() / devicePixelRatio, frame.y + run.y() / devicePixelRatio),
            std::move(piece)});
    }
}

void Layer::composite(QPainter& painter) const {
    for (const Piece& piece : pieces_)
        painter.drawImage(piece.origin, piece.image);
}

} // namespace drawing
