#include "screens/AlignedImages.h"

#include "drawing/SpanStroker.h"

#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <cmath>
#include <cstring>

namespace screens {

void AlignedImages::watch(QLabel* view) {
    view->installEventFilter(this);
    connect(view, &QObject::destroyed, this, [this, view] { scaled_.remove(view); });
}

void AlignedImages::keepOpaqueIfCovered(QLabel* view, bool covered) {
    // An opaque picture covers the view, so what lies under it (the whole window's background,
    // under the graph on every frame) need not be painted first. The style sheet clears the
    // mark whenever it polishes a label it gives a transparent background, so it is checked at
    // each paint and set again after it, never while painting.
    if (view->testAttribute(Qt::WA_OpaquePaintEvent) == covered)
        return;
    QMetaObject::invokeMethod(
        view, [view, covered] { view->setAttribute(Qt::WA_OpaquePaintEvent, covered); },
        Qt::QueuedConnection);
}

bool AlignedImages::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::Paint)
        return false;
    auto* view = static_cast<QLabel*>(watched);
    const QPixmap picture = view->pixmap();
    keepOpaqueIfCovered(view, !picture.isNull() && !picture.hasAlphaChannel());
    if (picture.isNull())
        return false;
    QPainter painter(view);
    const QTransform device = painter.deviceTransform();
    if (device.type() > QTransform::TxScale || device.m11() != device.m22() || device.m11() <= 0) {
        painter.end();
        return false;
    }
    // The view's edges on the device, each at its nearest pixel edge.
    const QRectF exact = device.mapRect(QRectF(view->rect()));
    const QPoint topLeft(int(std::lround(exact.left())), int(std::lround(exact.top())));
    const QSize pixels(int(std::lround(exact.right())) - topLeft.x(),
                       int(std::lround(exact.bottom())) - topLeft.y());
    if (pixels.isEmpty())
        return true;
    Scaled& scaled = scaled_[view];
    if (scaled.source != picture.cacheKey() || scaled.image.size() != pixels) {
        QImage image =
            picture.toImage().scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        // An opaque picture is copied row by row, not blended.
        scaled.image = image.convertToFormat(
            image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
        // One image pixel to one device pixel, whatever resolution the picture came in.
        scaled.image.setDevicePixelRatio(1.0);
        scaled.source = picture.cacheKey();
    }
    // An opaque picture's rows are copied straight to the surface, only where it is repainted:
    // QPainter would hand a copy this large to its worker threads, and waking them costs more
    // than the copy.
    drawing::PixelTarget target;
    if (scaled.image.format() == QImage::Format_RGB32 &&
        drawing::PixelTarget::of(painter, &target)) {
        const QRegion repainted = target.region.isEmpty() ? QRegion(target.clip) : target.region;
        const QRect placed(topLeft, scaled.image.size());
        for (const QRect& part : repainted& placed) {
            const qsizetype bytes = qsizetype(part.width()) * 4;
            for (int y = part.top(); y <= part.bottom(); ++y)
                std::memcpy(target.bits + y * target.bytesPerLine + qsizetype(part.left()) * 4,
                            scaled.image.constScanLine(y - topLeft.y()) +
                                qsizetype(part.left() - topLeft.x()) * 4,
                            std::size_t(bytes));
        }
        return true;
    }
    // Drawn in device pixels, moved and nothing else.
    painter.setWorldTransform(QTransform::fromTranslate(topLeft.x(), topLeft.y()) *
                              device.inverted() * painter.worldTransform());
    painter.drawImage(QPoint(0, 0), scaled.image);
    return true;
}

} // namespace screens
