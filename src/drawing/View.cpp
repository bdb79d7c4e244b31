#include "drawing/View.h"

#include "drawing/PainterContext.h"

#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QPainter>
#include <QScreen>
#include <algorithm>
#include <cmath>

namespace drawing {

View::View(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setAutoFillBackground(false);
    frameTimer_.setSingleShot(true);
    frameTimer_.setTimerType(Qt::PreciseTimer);
    connect(&frameTimer_, &QTimer::timeout, this, [this] { redraw(regionToRedraw()); });
}

void View::setNeedsDisplay() {
    // A request while one is pending is already covered by the coming paint.
    if (frameTimer_.isActive())
        return;
    int delay = 0;
    if (sinceLastPaint_.isValid())
        delay = std::max<qint64>(0, frameInterval() - sinceLastPaint_.elapsed());
    frameTimer_.start(delay);
}

int View::frameInterval() const {
    const QScreen* s = screen();
    const qreal hz = s ? s->refreshRate() : 60.0;
    // Some platforms report 0 or absurd rates; fall back to 60 Hz.
    if (!(hz >= 1.0 && hz <= 1000.0))
        return 16;
    return std::max(1, static_cast<int>(std::floor(1000.0 / hz)));
}

Rect View::bounds() const {
    return Rect{0.0f, 0.0f, static_cast<float>(width()), static_cast<float>(height())};
}

void View::redraw(const QRegion& region) {
    requested_ += region;
    // A scene keeps one dirty rectangle per item, so the few bands of a view shown through a
    // proxy would be merged into the rectangle around them: the views showing the scene are
    // asked for the bands themselves.
    const QGraphicsProxyWidget* proxy = window()->graphicsProxyWidget();
    if (proxy == nullptr || proxy->scene() == nullptr || region.rectCount() < 2) {
        update(region);
        return;
    }
    const QPoint offset = mapTo(window(), QPoint(0, 0));
    for (QGraphicsView* view : proxy->scene()->views()) {
        const QTransform toViewport = proxy->sceneTransform() * view->viewportTransform();
        QRegion mapped;
        for (const QRect& part : region)
            mapped += toViewport.mapRect(QRectF(part.translated(offset))).toAlignedRect();
        view->viewport()->update(mapped);
    }
}

QRegion View::regionToRedraw() const {
    return rect();
}

void View::paintEvent(QPaintEvent* /*event*/) {
    sinceLastPaint_.start();
    QPainter painter(this);
    PainterContext context(painter);
    drawRect(context, bounds());
    requested_ = QRegion();
}

} // namespace drawing
