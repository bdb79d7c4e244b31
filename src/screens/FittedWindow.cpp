#include "screens/FittedWindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QKeyEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScreen>
#include <QShortcut>
#include <algorithm>
#include <cmath>

namespace screens {

FittedWindow::FittedWindow(QWidget* layout) : layout_(layout) {
    setObjectName(QStringLiteral("fittedWindow"));
    setWindowTitle(layout->windowTitle());
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform |
                   QPainter::TextAntialiasing);
    // Each part of the layout that changes is repainted, not the rectangle around them all: the
    // graph changes in a band per axis, as high as the trace reaches, often a small part of it.
    setViewportUpdateMode(QGraphicsView::SmartViewportUpdate);
    // The layout is clipped to its own rectangle: nothing it draws spills beyond it, so the
    // view need not widen each update by two pixels all round for antialiasing.
    setOptimizationFlag(QGraphicsView::DontAdjustForAntialiasing);
    setBackgroundBrush(Qt::black);
    // Every pixel is painted by drawBackground() or by the layout: filling the viewport first
    // would only be painted over, and at a large window that fill is a good part of a frame.
    // The viewport marked opaque is also left out when the window under it paints its own.
    viewport()->setAutoFillBackground(false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(160, 160);

    auto* scene = new QGraphicsScene(this);
    setScene(scene);
    proxy_ = scene->addWidget(layout);
    layout->installEventFilter(this);

    auto* fullScreen = new QShortcut(QKeySequence(Qt::Key_F11), this);
    fullScreen->setContext(Qt::ApplicationShortcut);
    connect(fullScreen, &QShortcut::activated, this, &FittedWindow::toggleFullScreen);

    const QScreen* screen = this->screen();
    resize(
        initialSize(layout->size(), screen ? screen->availableGeometry().size() : layout->size()));
    fit();
}

FittedWindow::~FittedWindow() {
    layout_->removeEventFilter(this);
    proxy_->setWidget(nullptr);
}

double FittedWindow::deviceScale() const {
    return scale_ * devicePixelRatioF();
}

void FittedWindow::setLetterboxColor(const QColor& color) {
    setBackgroundBrush(color);
}

QSize FittedWindow::initialSize(QSize layoutSize, QSize available) {
    const QSize room(available.width() - kFrameAllowance, available.height() - kFrameAllowance);
    if (layoutSize.isEmpty() || room.isEmpty())
        return layoutSize;
    // A whole scale keeps every point of the layout on whole pixels: text and skins as sharp
    // as they were drawn.
    for (const int whole : {3, 2, 1})
        if (layoutSize.width() * whole <= room.width() &&
            layoutSize.height() * whole <= room.height())
            return layoutSize * whole;
    return shrunkToFit(layoutSize, room);
}

QSize FittedWindow::shrunkToFit(QSize size, QSize room) {
    if (size.isEmpty() || room.isEmpty())
        return size;
    const double scale =
        std::min({1.0, double(room.width()) / size.width(), double(room.height()) / size.height()});
    return QSize(int(std::floor(size.width() * scale)), int(std::floor(size.height() * scale)));
}

bool FittedWindow::event(QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool backward = key->key() == Qt::Key_Backtab ||
                              (key->key() == Qt::Key_Tab && key->modifiers() & Qt::ShiftModifier);
        if ((key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) &&
            !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
            moveFocus(!backward);
            return true;
        }
    }
    return QGraphicsView::event(event);
}

void FittedWindow::moveFocus(bool forward) {
    // The proxy's own Tab handling finds nothing in a layout that no control has focus in yet,
    // so Tab walks the layout's focus chain here: the shown screen's controls, in their order.
    QWidget* const from = layout_->focusWidget() ? layout_->focusWidget() : layout_;
    QWidget* candidate = from;
    do {
        candidate = forward ? candidate->nextInFocusChain() : candidate->previousInFocusChain();
        if (candidate != layout_ && layout_->isAncestorOf(candidate) &&
            candidate->isVisibleTo(layout_) && candidate->isEnabled() &&
            (candidate->focusPolicy() & Qt::TabFocus)) {
            if (!proxy_->hasFocus())
                proxy_->setFocus(Qt::OtherFocusReason);
            candidate->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return;
        }
    } while (candidate != from);
}

void FittedWindow::resizeEvent(QResizeEvent* event) {
    QGraphicsView::resizeEvent(event);
    fit();
}

void FittedWindow::closeEvent(QCloseEvent* event) {
    QCloseEvent layoutClose;
    QCoreApplication::sendEvent(layout_, &layoutClose);
    QGraphicsView::closeEvent(event);
}

bool FittedWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == layout_ && event->type() == QEvent::Resize) {
        const auto* resize = static_cast<QResizeEvent*>(event);
        followLayoutTurn(resize->oldSize(), resize->size());
        fit();
    }
    return QGraphicsView::eventFilter(watched, event);
}

void FittedWindow::drawBackground(QPainter* painter, const QRectF& rect) {
    // In the window's pixels: the layout covers every pixel wholly inside it, the letterbox
    // colour goes everywhere else, the layout's partly covered edge pixels included.
    const QTransform toWindow = painter->worldTransform();
    const QRect exposed = toWindow.mapRect(rect).toAlignedRect();
    const QRectF layout = toWindow.mapRect(QRectF(QPointF(0, 0), layout_->size()));
    const QRect inner(
        QPoint(int(std::ceil(layout.left())), int(std::ceil(layout.top()))),
        QPoint(int(std::floor(layout.right())) - 1, int(std::floor(layout.bottom())) - 1));
    const QRegion letterbox = QRegion(exposed).subtracted(QRegion(inner));
    if (letterbox.isEmpty())
        return;
    painter->save();
    painter->resetTransform();
    // Whole pixels: antialiased, each of the many rows of a thin strip costs a span of its own.
    painter->setRenderHint(QPainter::Antialiasing, false);
    for (const QRect& part : letterbox)
        painter->fillRect(part, backgroundBrush());
    painter->restore();
}

void FittedWindow::followLayoutTurn(QSize before, QSize after) {
    if (!before.isValid() || before.isEmpty() || isFullScreen() || isMaximized())
        return;
    const bool wasPortrait = before.height() > before.width();
    const bool isPortrait = after.height() > after.width();
    if (wasPortrait == isPortrait)
        return;
    // Turn the window as a phone is turned, at the scale it had, shrunk if the screen is
    // too small for the turned window.
    const QSize turned(int(std::lround(after.width() * scale_)),
                       int(std::lround(after.height() * scale_)));
    const QScreen* screen = this->screen();
    resize(screen ? shrunkToFit(turned, screen->availableGeometry().size() -
                                            QSize(kFrameAllowance, kFrameAllowance))
                  : turned);
}

void FittedWindow::fit() {
    const QSizeF content = layout_->size();
    if (content.isEmpty() || viewport()->size().isEmpty())
        return;
    // The proxy follows the layout's size limits one call at a time. A turn swaps both limits
    // (a fixed 320 x 480 becomes a fixed 480 x 320), and between the calls the proxy's old
    // limits hold it to the old width: only 320 of 480 points would be drawn and take clicks.
    if (proxy_->size() != content) {
        proxy_->setMinimumSize(content);
        proxy_->setMaximumSize(content);
        proxy_->resize(content);
    }
    const QSizeF room = viewport()->size();
    scale_ = std::min(room.width() / content.width(), room.height() / content.height());
    scene()->setSceneRect(QRectF(QPointF(0, 0), content));
    setTransform(QTransform::fromScale(scale_, scale_));
    centerOn(content.width() / 2.0, content.height() / 2.0);
    const double device = deviceScale();
    if (device != reportedDeviceScale_) {
        reportedDeviceScale_ = device;
        emit deviceScaleChanged(device);
    }
}

void FittedWindow::toggleFullScreen() {
    if (isFullScreen())
        showNormal();
    else
        showFullScreen();
}

} // namespace screens
