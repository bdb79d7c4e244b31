#include "screens/AlignedImages.h"

#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <cmath>

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
    // Drawn in device pixels, moved and nothing else.
    painter.setWorldTransform(QTransform::fromTranslate(topLeft.x(), topLeft.y()) *
                              device.inverted() * painter.worldTransform());
    painter.drawImage(QPoint(0, 0), scaled.image);
    return true;
}

} // namespace screens
