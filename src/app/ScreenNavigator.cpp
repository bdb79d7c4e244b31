#include "app/ScreenNavigator.h"

#include "screens/FittedWindow.h"
#include "screens/LandscapeScreen.h"
#include "screens/StatusBar.h"
#include "screens/Switch.h"
#include "ui_Wobblestar.h"

#include <QLabel>
#include <QShortcut>

namespace app {

using screens::StatusBar;
using screens::Transition;

namespace {

// 270 degrees as the nearest 32-bit float to 3π/2 radians gives it; the meters screen is laid
// out for landscape and turned once.
constexpr double kMetersTurnDegrees = 270.0;
constexpr double kTransitionSeconds = 1.0;

} // namespace

ScreenNavigator::ScreenNavigator(Ui::Wobblestar& ui, QWidget& window)
    : ui_(ui), window_(window), statusBar_(new StatusBar(&window)),
      transition_(new screens::ScreenTransition(&window)) {}

void ScreenNavigator::loadSkins(const std::function<QPixmap(const QString&)>& imageNamed) {
    carbon = imageNamed(QStringLiteral("carbon.png"));
    metal = imageNamed(QStringLiteral("metal.png"));
    ancient = imageNamed(QStringLiteral("ancient.png"));
    black = imageNamed(QStringLiteral("black.png"));
    carbon90 = imageNamed(QStringLiteral("carbon90.png"));
    metal90 = imageNamed(QStringLiteral("metal90.png"));
    black90 = imageNamed(QStringLiteral("black90.png"));
    ancient90 = imageNamed(QStringLiteral("ancient90.png"));
    for (QLabel* view : {ui_.one, ui_.two, ui_.three, ui_.four, ui_.five})
        alignedImages_.watch(view);
}

void ScreenNavigator::reloadSkins(double deviceScale) {
    QPixmap* const images[] = {&carbon,   &metal,   &ancient,   &black,
                               &carbon90, &metal90, &ancient90, &black90};
    const char* const names[] = {"carbon",   "metal",   "ancient",   "black",
                                 "carbon90", "metal90", "ancient90", "black90"};
    QLabel* const views[] = {ui_.one, ui_.two, ui_.three, ui_.four, ui_.five};
    for (int i = 0; i < 8; ++i) {
        const qint64 shown = images[i]->cacheKey();
        *images[i] = drawing::imageNamed(QString::fromLatin1(names[i]) + QStringLiteral(".png"),
                                         deviceScale);
        for (QLabel* view : views)
            if (!view->pixmap().isNull() && view->pixmap().cacheKey() == shown)
                view->setPixmap(*images[i]);
    }
}

void ScreenNavigator::updateAxesHint() {
    const bool allOff = !ui_.xAxis->isOn() && !ui_.yAxis->isOn() && !ui_.zAxis->isOn();
    statusBar_->setHint(shown_ == Screen::Graph && allOff
                            ? QStringLiteral("All axes off: switch them on in Settings")
                            : QString());
}

void ScreenNavigator::layOutMetersScreen() {
    metersHost_ = new screens::LandscapeScreen(ui_.metersView, &window_);
    const QSize screen = window_.size();
    metersHost_->setScreenBounds(QSizeF(screen.height(), screen.width()));
    metersHost_->setScreenRotation(metersHost_->screenRotation() + kMetersTurnDegrees);
    metersHost_->setScreenCenter(QRectF(window_.rect()).center());
    if (fixedOrientation_) {
        // Turned into the portrait window, the screen's top edge, with its Done button, lies
        // along the window's right side and its right end under the status bar: shrink it
        // into the room below the bar.
        const double room = screen.height() - StatusBar::kHeight;
        metersHost_->setScreenScale(room / screen.height());
        metersHost_->setScreenCenter(
            QPointF(screen.width() / 2.0, StatusBar::kHeight + room / 2.0));
    }
}

void ScreenNavigator::showFirstScreen() {
    ui_.settingsView->hide();
    ui_.infoView->hide();
    ui_.RecordView->hide();
    metersHost_->hide();
    statusBar_->raise();
}

QWidget* ScreenNavigator::rootOf(QWidget* screen) const {
    if (metersHost_ && screen == ui_.metersView)
        return metersHost_;
    return screen;
}

void ScreenNavigator::changeScreen(QWidget* outgoing, QWidget* incoming, Transition kind,
                                   Screen shown) {
    transition_->beginAnimations();
    transition_->setAnimationDuration(kTransitionSeconds);
    transition_->setAnimationTransition(kind, &window_);
    rootOf(outgoing)->hide();
    QWidget* incomingRoot = rootOf(incoming);
    incomingRoot->show();
    incomingRoot->raise();
    statusBar_->raise();
    transition_->commitAnimations();
    shown_ = shown;
    updateAxesHint();
    if (pauseKey_)
        pauseKey_->setEnabled(shown == Screen::Graph || shown == Screen::Meters);
}

void ScreenNavigator::dress(QLabel* imageView) const {
    const bool landscape = imageView == ui_.five;
    const int index = ui_.design->selectedSegmentIndex();
    if (index == 0)
        imageView->setPixmap(landscape ? carbon90 : carbon);
    else if (index == 1)
        imageView->setPixmap(landscape ? metal90 : metal);
    else if (index == 2)
        imageView->setPixmap(landscape ? ancient90 : ancient);
    else if (index == 3)
        imageView->setPixmap(landscape ? black90 : black);
}

void ScreenNavigator::setStatusBarOrientation(int orientation) {
    if (!fixedOrientation_ && metersHost_) {
        // A desktop window turns the way the user would turn a phone.
        const bool landscape = orientation == StatusBar::kLandscapeLeft;
        const QSize size = landscape ? QSize(480, 320) : QSize(320, 480);
        window_.setFixedSize(size);
        metersHost_->setDeviceRotation(landscape ? 90 : 0, size);
    }
    statusBar_->setStatusBarOrientation(orientation, window_.width());
}

void ScreenNavigator::fitPlatesToText() {
    window_.ensurePolished();
    for (QLabel* label : window_.findChildren<QLabel*>()) {
        const QString role = label->property("role").toString();
        if (role != u"section" && role != u"hint" && role != u"appname")
            continue;
        // A label filled in later (the samples file) keeps its width, and no empty plate shows.
        if (label->text().isEmpty())
            label->hide();
        else
            label->resize(std::min(label->sizeHint().width(), label->width()), label->height());
    }
}

void ScreenNavigator::linkSwitchLabels() {
    ui_.xAxis->takeClicksOf(ui_.xAxisLabel);
    ui_.yAxis->takeClicksOf(ui_.yAxisLabel);
    ui_.zAxis->takeClicksOf(ui_.zAxisLabel);
    ui_.Filter->takeClicksOf(ui_.filterTitle);
}

void ScreenNavigator::letterbox(screens::FittedWindow* window) const {
    if (!window || ui_.one->pixmap().isNull())
        return;
    // The skin's average colour, a little darker, so the bars beside the layout belong to it
    // without being mistaken for part of it.
    const QImage average =
        ui_.one->pixmap().toImage().scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    window->setLetterboxColor(average.pixelColor(0, 0).darker(160));
}

} // namespace app
