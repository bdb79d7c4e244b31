#include "platform/View.h"

#include "platform/PainterContext.h"

#include <QPainter>

namespace platform {

View::View(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setAutoFillBackground(false);
}

void View::setNeedsDisplay() {
    // QWidget::update() already merges repeated requests into one paint event.
    update();
}

Rect View::bounds() const {
    return Rect{0.0f, 0.0f, static_cast<float>(width()), static_cast<float>(height())};
}

void View::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    PainterContext context(painter);
    drawRect(context, bounds());
}

} // namespace platform
