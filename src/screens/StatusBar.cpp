#include "screens/StatusBar.h"

#include <QPainter>
#include <QTime>
#include <cmath>

namespace screens {

StatusBar::StatusBar(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setGeometry(0, 0, parent ? parent->width() : 320, kHeight);
    // The minute display needs no more than one repaint every few seconds.
    clock_.setInterval(5000);
    connect(&clock_, &QTimer::timeout, this, qOverload<>(&QWidget::update));
    clock_.start();
    noticeEnd_.setSingleShot(true);
    noticeEnd_.setInterval(kNoticeSeconds * 1000);
    connect(&noticeEnd_, &QTimer::timeout, this, [this] {
        notice_.clear();
        update();
    });
}

void StatusBar::showNotice(const QString& message) {
    notice_ = message;
    noticeEnd_.start();
    update();
}

void StatusBar::showLost(const QString& message) {
    lost_ = message;
    // The newest word about the source wins over an older notice.
    notice_.clear();
    noticeEnd_.stop();
    update();
}

void StatusBar::clearLost() {
    lost_.clear();
    update();
}

QString StatusBar::messageText() const {
    return notice_.isEmpty() ? lost_ : notice_;
}

void StatusBar::setStatusBarOrientation(int orientation, int windowWidth) {
    orientation_ = orientation;
    setGeometry(0, 0, windowWidth, kHeight);
    raise();
}

void StatusBar::setSource(const QString& description) {
    source_ = description;
    update();
}

void StatusBar::setRateSelected(bool selected) {
    rateSelected_ = selected;
    update();
}

void StatusBar::setDeliveredRate(double samplesPerSecond) {
    rate_ = samplesPerSecond;
    update();
}

void StatusBar::setHint(const QString& hint) {
    if (hint == hint_)
        return;
    hint_ = hint;
    update();
}

QString StatusBar::rateText() const {
    if (!rateSelected_)
        return tr("No rate selected");
    return QStringLiteral("%1/s").arg(std::lround(rate_));
}

void StatusBar::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    QFont font = painter.font();
    font.setPixelSize(12);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    const QRect inner = rect().adjusted(6, 0, -6, 0);
    if (const QString message = messageText(); !message.isEmpty()) {
        font.setPixelSize(11);
        painter.setFont(font);
        // Amber for a source that is gone, white for a passing notice. Messages carry file
        // names and addresses whose ends tell them apart, so the middle gives way.
        painter.setPen(notice_.isEmpty() ? QColor(255, 170, 60) : Qt::white);
        painter.drawText(inner, Qt::AlignCenter,
                         QFontMetrics(font).elidedText(message, Qt::ElideMiddle, inner.width()));
        return;
    }
    if (!hint_.isEmpty()) {
        paintHint(painter, inner);
        return;
    }
    painter.drawText(inner, Qt::AlignCenter,
                     QTime::currentTime().toString(QStringLiteral("HH:mm")));

    font.setBold(false);
    font.setPixelSize(11);
    painter.setFont(font);
    const QFontMetrics metrics(font);
    // Each side gets the room left of the clock, less a little air.
    const int side = (inner.width() - metrics.horizontalAdvance(QStringLiteral("00:00"))) / 2 - 8;
    painter.setPen(QColor(200, 200, 200));
    // Source names differ at their ends ("iio: lis3dh (iio:device0)", a file's name), so a
    // long one gives way in the middle.
    painter.drawText(QRect(inner.left(), 0, side, height()), Qt::AlignLeft | Qt::AlignVCenter,
                     metrics.elidedText(source_, Qt::ElideMiddle, side));
    painter.setPen(rateSelected_ ? QColor(200, 200, 200) : QColor(255, 170, 60));
    painter.drawText(QRect(inner.right() - side, 0, side, height()),
                     Qt::AlignRight | Qt::AlignVCenter,
                     metrics.elidedText(rateText(), Qt::ElideLeft, side));
}

void StatusBar::paintHint(QPainter& painter, const QRect& inner) {
    // The rate keeps its place at the right; the hint takes the rest of the bar.
    QFont font = painter.font();
    font.setBold(false);
    font.setPixelSize(11);
    painter.setFont(font);
    const QFontMetrics metrics(font);
    const QString rate = rateText();
    const int rateWidth = metrics.horizontalAdvance(rate);
    painter.setPen(rateSelected_ ? QColor(200, 200, 200) : QColor(255, 170, 60));
    painter.drawText(inner, Qt::AlignRight | Qt::AlignVCenter, rate);
    font.setBold(true);
    painter.setFont(font);
    const int room = inner.width() - rateWidth - 8;
    painter.setPen(QColor(255, 200, 80));
    painter.drawText(QRect(inner.left(), 0, room, height()), Qt::AlignLeft | Qt::AlignVCenter,
                     QFontMetrics(font).elidedText(hint_, Qt::ElideRight, room));
}

} // namespace screens
