#include "drawing/View.h"

#include "drawing/PainterContext.h"

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
    connect(&frameTimer_, &QTimer::timeout, this, [this] { update(); });
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

void View::paintEvent(QPaintEvent* /*event*/) {
    sinceLastPaint_.start();
    QPainter painter(this);
    PainterContext context(painter);
    drawRect(context, bounds());
}

} // namespace drawing
