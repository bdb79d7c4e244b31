#include "screens/LandscapeScreen.h"

#include <QGraphicsProxyWidget>
#include <QGraphicsScene>

namespace screens {

LandscapeScreen::LandscapeScreen(QWidget* screen, QWidget* window)
    : QGraphicsView(window), screen_(screen), portrait_(window->size()) {
    setObjectName(screen->objectName() + QStringLiteral("Host"));
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setBackgroundBrush(Qt::black);
    setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform |
                   QPainter::TextAntialiasing);
    setViewportUpdateMode(QGraphicsView::FullViewportUpdate);
    setFocusPolicy(Qt::NoFocus);

    auto* scene = new QGraphicsScene(this);
    scene->setSceneRect(QRectF(QPointF(0, 0), portrait_));
    setScene(scene);
    // Out of the window the screen would lose the window's style sheet; it keeps its look.
    screen->setParent(nullptr);
    screen->setStyleSheet(window->styleSheet());
    proxy_ = scene->addWidget(screen);
    center_ = QPointF(portrait_.width() / 2.0, portrait_.height() / 2.0);
    setGeometry(QRect(QPoint(0, 0), window->size()));
    place();
}

void LandscapeScreen::setScreenBounds(const QSizeF& size) {
    screen_->resize(size.toSize());
    place();
}

QSizeF LandscapeScreen::screenBounds() const {
    return screen_->size();
}

void LandscapeScreen::setScreenRotation(double degrees) {
    proxy_->setRotation(degrees);
    place();
}

double LandscapeScreen::screenRotation() const {
    return proxy_->rotation();
}

void LandscapeScreen::setScreenScale(double scale) {
    proxy_->setScale(scale);
}

void LandscapeScreen::setScreenCenter(const QPointF& center) {
    center_ = center;
    place();
}

QPointF LandscapeScreen::screenCenter() const {
    return center_;
}

void LandscapeScreen::place() {
    const QSizeF size = screen_->size();
    proxy_->setTransformOriginPoint(size.width() / 2.0, size.height() / 2.0);
    proxy_->setPos(center_ - QPointF(size.width() / 2.0, size.height() / 2.0));
}

void LandscapeScreen::setDeviceRotation(int degrees, const QSize& size) {
    deviceRotation_ = degrees;
    setGeometry(QRect(QPoint(0, 0), size));
    // The view scrolls the turned page so that it fills the viewport exactly.
    setTransform(QTransform().rotate(degrees));
    centerOn(portrait_.width() / 2.0, portrait_.height() / 2.0);
}

} // namespace screens
