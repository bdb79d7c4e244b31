#include "screens/Switch.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace screens {

Switch::Switch(QWidget* parent) : QAbstractButton(parent) {
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void Switch::takeClicksOf(QWidget* label) {
    label->installEventFilter(this);
    label->setCursor(Qt::PointingHandCursor);
}

bool Switch::eventFilter(QObject* watched, QEvent* event) {
    // The press is taken too: a label lets it pass to its parent, and the release then never
    // comes to the label.
    if (event->type() == QEvent::MouseButtonPress && isEnabled() &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
        return true;
    if (event->type() == QEvent::MouseButtonRelease && isEnabled() &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
        static_cast<QWidget*>(watched)->rect().contains(
            static_cast<QMouseEvent*>(event)->position().toPoint())) {
        setFocus(Qt::MouseFocusReason);
        click();
        return true;
    }
    return QAbstractButton::eventFilter(watched, event);
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
        // The same light blue ring as every other control's focus, on any skin.
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(QColor(0x9c, 0xc2, 0xff), 2.0));
        painter.drawRoundedRect(track, radius, radius);
    }
}

} // namespace screens
