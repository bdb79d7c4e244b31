#include "screens/ScreenTransition.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QTimer>
#include <cmath>
#include <numbers>

namespace screens {

ScreenTransition::ScreenTransition(QWidget* window) : QWidget(window) {
    setFocusPolicy(Qt::StrongFocus);
    hide();
    // A window turned to landscape mid-transition stays covered everywhere.
    window->installEventFilter(this);
    animation_.setStartValue(0.0);
    animation_.setEndValue(1.0);
    animation_.setEasingCurve(QEasingCurve::InOutQuad);
    connect(&animation_, &QVariantAnimation::valueChanged, this, qOverload<>(&QWidget::update));
    connect(&animation_, &QVariantAnimation::finished, this, [this] {
        hide();
        before_ = after_ = QPixmap();
        if (focusBefore_)
            focusBefore_->setFocus();
        emit finished();
    });
}

bool ScreenTransition::animationsEnabled() {
    static const bool enabled = qEnvironmentVariable("WOBBLESTAR_ANIMATIONS") != u"0";
    return enabled;
}

void ScreenTransition::beginAnimations() {
    finish();
    pendingKind_ = Transition::None;
    duration_ = 0.0;
}

void ScreenTransition::setAnimationTransition(Transition kind, QWidget* view) {
    pendingKind_ = kind;
    view_ = view;
    if (!animationsEnabled() || !view)
        return;
    // The picture of the old state has to be taken before any screen is swapped.
    grabbing_ = true;
    before_ = view->grab();
    grabbing_ = false;
}

void ScreenTransition::commitAnimations() {
    kind_ = pendingKind_;
    if (!animationsEnabled() || !view_ || kind_ == Transition::None || duration_ <= 0.0)
        return;
    setGeometry(view_->rect());
    after_ = before_;
    focusBefore_ = QApplication::focusWidget();
    show();
    raise();
    setFocus();
    animation_.setDuration(static_cast<int>(std::lround(duration_ * 1000.0)));
    animation_.start();
    // Steps that follow the commit in the same turn of the event loop (a turned window, a
    // dressed screen) belong to the final picture, so it is taken on the next turn.
    QTimer::singleShot(0, this, &ScreenTransition::takeFinalPicture);
}

void ScreenTransition::takeFinalPicture() {
    if (!isRunning() || !view_)
        return;
    setGeometry(view_->rect());
    grabbing_ = true;
    after_ = view_->grab();
    grabbing_ = false;
    raise();
    update();
}

void ScreenTransition::finish() {
    if (isRunning()) {
        animation_.setCurrentTime(animation_.duration());
        animation_.stop();
        hide();
        before_ = after_ = QPixmap();
        emit finished();
    }
}

bool ScreenTransition::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parent() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    return QWidget::eventFilter(watched, event);
}

void ScreenTransition::keyPressEvent(QKeyEvent* event) {
    event->accept();
}

void ScreenTransition::mousePressEvent(QMouseEvent* event) {
    event->accept();
}

void ScreenTransition::paintEvent(QPaintEvent* /*event*/) {
    if (grabbing_)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), Qt::black);
    const double t = animation_.currentValue().toDouble();
    if (kind_ == Transition::FlipFromLeft || kind_ == Transition::FlipFromRight)
        drawFlip(painter, t);
    else
        drawCurl(painter, t);
}

// Turns the window's content about its vertical axis: the old picture for the first half turn,
// the new one for the second, darkening as it stands edge-on.
void ScreenTransition::drawFlip(QPainter& painter, double t) {
    const double sign = kind_ == Transition::FlipFromLeft ? 1.0 : -1.0;
    const bool firstHalf = t < 0.5;
    const QPixmap& picture = firstHalf ? before_ : after_;
    const double angle = sign * (firstHalf ? 180.0 * t : 180.0 * t - 180.0);
    const QSizeF size = picture.deviceIndependentSize();
    QTransform transform;
    transform.translate(width() / 2.0, height() / 2.0);
    transform.rotate(angle, Qt::YAxis);
    transform.translate(-size.width() / 2.0, -size.height() / 2.0);
    painter.setTransform(transform);
    painter.drawPixmap(QPointF(0, 0), picture);
    const double edgeOn = std::abs(std::sin(angle * std::numbers::pi / 180.0));
    painter.fillRect(QRectF(QPointF(0, 0), size), QColor(0, 0, 0, int(160 * edgeOn)));
}

// Curl up lifts the old page from its bottom edge and rolls it away upward over the new one;
// curl down rolls the new page back down over the old one.
void ScreenTransition::drawCurl(QPainter& painter, double t) {
    const bool up = kind_ == Transition::CurlUp;
    const QPixmap& below = up ? after_ : before_;
    const QPixmap& page = up ? before_ : after_;
    const double h = height();
    const double w = width();
    const double edge = up ? h * (1.0 - t) : h * t;
    // The roll is thickest halfway, where the most paper is lifted.
    const double radius = 10.0 + 36.0 * std::sin(std::numbers::pi * t);

    painter.drawPixmap(QPointF(0, 0), below);

    QLinearGradient shadow(0, edge, 0, edge + 28);
    shadow.setColorAt(0, QColor(0, 0, 0, 150));
    shadow.setColorAt(1, QColor(0, 0, 0, 0));
    painter.fillRect(QRectF(0, edge, w, 28), shadow);

    painter.save();
    painter.setClipRect(QRectF(0, 0, w, edge));
    painter.drawPixmap(QPointF(0, 0), page);
    painter.restore();

    // The back of the paper, lit like a cylinder.
    const QRectF roll(0, edge - radius, w, radius);
    QLinearGradient paper(0, roll.top(), 0, roll.bottom());
    paper.setColorAt(0.0, QColor(120, 120, 120, 230));
    paper.setColorAt(0.45, QColor(245, 245, 245, 240));
    paper.setColorAt(0.8, QColor(200, 200, 200, 240));
    paper.setColorAt(1.0, QColor(90, 90, 90, 240));
    painter.fillRect(roll.intersected(QRectF(0, 0, w, h)), paper);
}

} // namespace screens
