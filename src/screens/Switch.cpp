#include "screens/Switch.h"

#include <QPainter>
#include <QPainterPath>

namespace platform {

Switch::Switch(QWidget* parent) : QAbstractButton(parent) {
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize Switch::sizeHint() const {
    return QSize(51, 31);
}

void Switch::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
    const qreal radius = track.height() / 2.0;
    const QColor onColor(52, 199, 89);
    const QColor offColor(120, 120, 128, 160);
    QColor trackColor = isOn() ? onColor : offColor;
    if (!isEnabled())
        trackColor.setAlphaF(trackColor.alphaF() * 0.4);
    painter.setPen(Qt::NoPen);
    painter.setBrush(trackColor);
    painter.drawRoundedRect(track, radius, radius);

    const qreal inset = 2.0;
    const qreal knob = track.height() - 2 * inset;
    const qreal knobX = isOn() ? track.right() - inset - knob : track.left() + inset;
    painter.setBrush(QColor(0, 0, 0, 40));
    painter.drawEllipse(QRectF(knobX, track.top() + inset + 1, knob, knob));
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(knobX, track.top() + inset, knob, knob));
    if (hasFocus()) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(palette().highlight().color(), 1.5));
        painter.drawRoundedRect(track.adjusted(-0.5, -0.5, 0.5, 0.5), radius, radius);
    }
}

} // namespace platform
