#include "app/WobblestarAppDelegate.h"

#include "app/SourceActions.h"
#include "features/RecordingLog.h"
#include "features/analysis/AnalysisWindow.h"
#include "screens/FittedWindow.h"
#include "screens/StatusBar.h"
#include "screens/WindowPlacement.h"
#include "sensors/SampleRates.h"

#include <QAction>
#include <QApplication>
#include <QLayout>
#include <QPushButton>
#include <QShortcut>
#include <QToolBar>
#include <array>
#include <optional>

namespace app {

using screens::StatusBar;
using screens::Transition;
using sensors::Accelerometer;

WobblestarAppDelegate::WobblestarAppDelegate(QObject* parent)
    : QObject(parent), window_(std::make_unique<QWidget>()) {
    ui.setupUi(window_.get());
    screens_ = std::make_unique<ScreenNavigator>(ui, *window_);
    recorder_ = std::make_unique<Recorder>(ui, window_.get(), [this] { timerFired(); });
    recorder_->setStatusBar(screens_->statusBar());
    sources_ = std::make_unique<SourceActions>(*recorder_, *screens_->statusBar(), [this] {
        return std::optional(sensors::Acceleration{x, y, z, 0.0});
    });
    connectControls();
    // However the application ends (Ctrl+Q, the window closed, SIGTERM through QuitOnSignals),
    // a running recording is stopped and stored first.
    window_->installEventFilter(this);
    if (QCoreApplication* application = QCoreApplication::instance())
        connect(application, &QCoreApplication::aboutToQuit, recorder_.get(), &Recorder::finish);
}

WobblestarAppDelegate::~WobblestarAppDelegate() {
    // The accelerometer outlives every delegate; it must not call one that is gone.
    if (Accelerometer::sharedAccelerometer().delegate() == this)
        Accelerometer::sharedAccelerometer().setDelegate(nullptr);
}

void WobblestarAppDelegate::connectControls() {
    connect(ui.back, &QPushButton::clicked, this, &WobblestarAppDelegate::back);
    connect(ui.info, &QPushButton::clicked, this, &WobblestarAppDelegate::info);
    connect(ui.close, &QPushButton::clicked, this, &WobblestarAppDelegate::close);
    connect(ui.closerecord, &QPushButton::clicked, this, &WobblestarAppDelegate::closerecord);
    connect(ui.closeMeter, &QPushButton::clicked, this, &WobblestarAppDelegate::closeMeter);
    connect(ui.metersPause, &QPushButton::clicked, this, &WobblestarAppDelegate::toggleRunMeters);
    connect(ui.start, &QPushButton::clicked, this, &WobblestarAppDelegate::start);
    connect(ui.stop, &QPushButton::clicked, this, &WobblestarAppDelegate::stop);
    connect(ui.emailrecord, &QPushButton::clicked, this, &WobblestarAppDelegate::emailrecord);
    connect(ui.email, &QPushButton::clicked, this, &WobblestarAppDelegate::email);
    connect(ui.checkAxes, &QPushButton::clicked, this,
            [this] { sources_->checkAxes(topLevel_ ? topLevel_.get() : window_.get()); });
    connect(ui.saveLog, &QPushButton::clicked, this, &WobblestarAppDelegate::saveLog);
    connect(ui.recordings, &QPushButton::clicked, this, &WobblestarAppDelegate::recordings);
}

void WobblestarAppDelegate::applicationDidFinishLaunching() {
    StatusBar* statusBar = screens_->statusBar();
    statusBar->setStatusBarStyle(2);
    screens_->loadSkins();
    screens_->layOutMetersScreen();
    settingsMessage_ = settingsTable_.restore();
    features::RecordingLog::fitSampleLinesToView(ui.recordingText);
    screens_->fitPlatesToText();
    screens_->linkSwitchLabels();
    buildToolbar();
    // The graph screen is shown first; the others wait until their actions bring them in.
    screens_->showFirstScreen();
    setUpKeyboard();
    topLevel_ = std::make_unique<screens::FittedWindow>(window_.get());
    // The gauges' landscape turn is a passing shape; the portrait window is the one to keep.
    screens::WindowPlacement::keep(topLevel_.get(), QStringLiteral("main"),
                                   [this] { return window_->height() > window_->width(); });
    sources_->setMainWindow(topLevel_.get());
    recorder_->setDialogParent(topLevel_.get());
    screens_->reloadSkins(topLevel_->deviceScale());
    connect(topLevel_.get(), &screens::FittedWindow::deviceScaleChanged, this,
            [this](double scale) { screens_->reloadSkins(scale); });
    sources_->installOpener(window_.get());
    topLevel_->show();

    ui.graphView->setUpdatingIsEnabled(true);
    ui.meterView->setUpdatingIsEnabled(0);
    applySampleRate();
    ui.graphView->setFilteringEnabled(ui.Filter->isOn());
    screens_->dress(ui.one);
    screens_->letterbox(topLevel_.get());

    Accelerometer& accelerometer = Accelerometer::sharedAccelerometer();
    const QString source =
        accelerometer.driver() ? accelerometer.driver()->description() : QString();
    statusBar->setSource(source);
    connect(&accelerometer, &Accelerometer::deliveredRateChanged, statusBar,
            &StatusBar::setDeliveredRate);
    sources_->showAbout(ui.infoText, source);
    screens_->updateAxesHint();
    SettingsTable::showMessage(settingsMessage_, topLevel_.get());
}

void WobblestarAppDelegate::buildToolbar() {
    toolbar = new QToolBar(window_.get());
    toolbar->setObjectName(QStringLiteral("toolbar"));
    toolbar->setGeometry(0, 434, 320, 46);
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    toolbar->setProperty("barStyle", 1); // black, opaque
    toolbar->layout()->setContentsMargins(6, 0, 6, 0);

    struct Item {
        const char* title;
        void (WobblestarAppDelegate::*action)();
        int width;
    };
    static constexpr Item items[] = {
        {"Pause", &WobblestarAppDelegate::toggleRun, 65},
        {"Recording", &WobblestarAppDelegate::recordMenu, 80},
        {"G-Meters", &WobblestarAppDelegate::meterMenu, 68},
        {"Settings", &WobblestarAppDelegate::settings, 65},
    };
    // The four buttons take 278 of the bar's 320 points; the interface file's style sheet
    // spreads the rest as margins and gaps.
    for (const Item& item : items) {
        QAction* action = toolbar->addAction(QString::fromLatin1(item.title));
        toolbar->widgetForAction(action)->setFixedWidth(item.width);
        connect(action, &QAction::triggered, this, item.action);
    }
    toolbar->show();
}

void WobblestarAppDelegate::setUpKeyboard() {
    // Keys work on whichever screen is shown, so each acts on the application as a whole.
    auto key = [this](const QKeySequence& keys, auto receiver, auto slot) {
        auto* shortcut = new QShortcut(keys, window_.get());
        shortcut->setContext(Qt::ApplicationShortcut);
        connect(shortcut, &QShortcut::activated, receiver, slot);
        return shortcut;
    };
    screens_->setPauseKey(key(Qt::Key_Space, this, &WobblestarAppDelegate::pauseShownDisplay));
    key(Qt::Key_Escape, this, &WobblestarAppDelegate::leaveShownScreen);
    key(QKeySequence::Quit, qApp, &QCoreApplication::quit);
    key(QKeySequence::Open, this, &WobblestarAppDelegate::recordings);
}

void WobblestarAppDelegate::pauseShownDisplay() {
    if (screens_->isChanging())
        return;
    if (screens_->shown() == Screen::Graph)
        toggleRun();
    else if (screens_->shown() == Screen::Meters)
        toggleRunMeters();
}

// How each screen is reached from the graph screen, and left again, by its own controls.
struct WobblestarAppDelegate::ScreenRoute {
    using Action = void (WobblestarAppDelegate::*)();
    Screen screen;
    std::array<Action, 2> enter; // in order; null entries are skipped
    Action leave;
};

const WobblestarAppDelegate::ScreenRoute* WobblestarAppDelegate::routeTo(Screen screen) {
    using D = WobblestarAppDelegate;
    static const std::array<ScreenRoute, 5> routes = {{
        {Screen::Graph, {nullptr, nullptr}, nullptr},
        {Screen::Settings, {&D::settings, nullptr}, &D::back},
        {Screen::Info, {&D::settings, &D::info}, &D::close},
        {Screen::Recording, {&D::recordMenu, nullptr}, &D::leaveRecordingScreen},
        {Screen::Meters, {&D::meterMenu, nullptr}, &D::closeMeter},
    }};
    for (const ScreenRoute& route : routes) {
        if (route.screen == screen)
            return &route;
    }
    return nullptr;
}

void WobblestarAppDelegate::showScreen(Screen screen) {
    if (const ScreenRoute* route = routeTo(screen)) {
        for (const ScreenRoute::Action action : route->enter) {
            if (action)
                (this->*action)();
        }
    }
}

void WobblestarAppDelegate::leaveShownScreen() {
    // The key is the application's, so it reaches here from any of its windows: a dialog is
    // closed, another window is left alone.
    QWidget* active = QApplication::activeWindow();
    if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
        dialog->reject();
        return;
    }
    if (topLevel_ && active && active != topLevel_.get())
        return;
    if (screens_->isChanging())
        return;
    if (screens_->shown() == Screen::Graph && topLevel_ && topLevel_->isFullScreen()) {
        topLevel_->showNormal();
        return;
    }
    const ScreenRoute* route = routeTo(screens_->shown());
    if (route && route->leave)
        (this->*route->leave)();
}

void WobblestarAppDelegate::leaveRecordingScreen() {
    // A running recording disables the button, and with it this way out.
    if (ui.closerecord->isEnabled())
        closerecord();
}

void WobblestarAppDelegate::accelerometer(Accelerometer& /*accelerometer*/,
                                          const sensors::Acceleration& acceleration) {
    const float graphX = ui.xAxis->isOn() ? static_cast<float>(acceleration.x) : 0.0f;
    const float graphY = ui.yAxis->isOn() ? static_cast<float>(acceleration.y) : 0.0f;
    const float graphZ = ui.zAxis->isOn() ? static_cast<float>(acceleration.z) : 0.0f;
    ui.graphView->updateHistoryWithX(graphX, graphY, graphZ);

    x = static_cast<float>(acceleration.x);
    y = static_cast<float>(acceleration.y);
    z = static_cast<float>(acceleration.z);
    ui.meterView->X(x, y, z);

    recorder_->record(acceleration);
    // Kept from the start, so that the recordings window's live view opened later shows the
    // last minutes too.
    sources_->liveFeed().append(acceleration);
}

void WobblestarAppDelegate::applySampleRate() {
    if (const std::optional<sensors::SampleRate> rate =
            sensors::sampleRateAt(ui.segmentcontroller->selectedSegmentIndex())) {
        Accelerometer::sharedAccelerometer().setUpdateInterval(rate->interval);
        sources_->liveFeed().setRate(1.0 / rate->interval);
        Accelerometer::sharedAccelerometer().setDelegate(this);
    }
    // No segment selected, or one we do not know: interval and delegate stay as they were.
    screens_->statusBar()->setRateSelected(Accelerometer::sharedAccelerometer().delegate() == this);
}

void WobblestarAppDelegate::settings() {
    screens_->changeScreen(ui.graphView, ui.settingsView, Transition::CurlUp, Screen::Settings);
    ui.graphView->setUpdatingIsEnabled(false);
    screens_->dress(ui.three);
}

void WobblestarAppDelegate::back() {
    screens_->changeScreen(ui.settingsView, ui.graphView, Transition::CurlDown, Screen::Graph);
    applySampleRate();
    ui.graphView->setFilteringEnabled(ui.Filter->isOn());
    QString notSaved;
    settingsTable_.save(&notSaved);
    ui.graphView->setUpdatingIsEnabled(true);
    showPauseTitles();
    screens_->dress(ui.one);
    SettingsTable::showMessage(notSaved, topLevel_.get(), tr("Settings not saved"));
    screens_->letterbox(topLevel_.get());
}

void WobblestarAppDelegate::info() {
    screens_->changeScreen(ui.settingsView, ui.infoView, Transition::FlipFromRight, Screen::Info);
    screens_->dress(ui.two);
}

void WobblestarAppDelegate::close() {
    screens_->changeScreen(ui.infoView, ui.settingsView, Transition::FlipFromLeft,
                           Screen::Settings);
}

void WobblestarAppDelegate::recordMenu() {
    recorder_->offerSourceRate();
    screens_->changeScreen(ui.graphView, ui.RecordView, Transition::CurlUp, Screen::Recording);
    ui.graphView->setUpdatingIsEnabled(false);
    screens_->dress(ui.four);
}

void WobblestarAppDelegate::closerecord() {
    screens_->changeScreen(ui.RecordView, ui.graphView, Transition::CurlDown, Screen::Graph);
    ui.graphView->setUpdatingIsEnabled(true);
    showPauseTitles();
}

void WobblestarAppDelegate::meterMenu() {
    screens_->changeScreen(ui.graphView, ui.metersView, Transition::FlipFromRight, Screen::Meters);
    ui.meterView->setUpdatingIsEnabled(1);
    ui.graphView->setUpdatingIsEnabled(false);
    showPauseTitles();
    screens_->setStatusBarOrientation(StatusBar::kLandscapeLeft);
    screens_->idle().setIdleTimerDisabled(true);
    screens_->dress(ui.five);
}

void WobblestarAppDelegate::closeMeter() {
    screens_->changeScreen(ui.metersView, ui.graphView, Transition::FlipFromLeft, Screen::Graph);
    ui.meterView->setUpdatingIsEnabled(0);
    ui.graphView->setUpdatingIsEnabled(true);
    showPauseTitles();
    screens_->setStatusBarOrientation(StatusBar::kPortrait);
    screens_->idle().setIdleTimerDisabled(false);
}

void WobblestarAppDelegate::toggleRun() {
    ui.graphView->setUpdatingIsEnabled(!ui.graphView->updatingIsEnabled());
    showPauseTitles();
}

void WobblestarAppDelegate::toggleRunMeters() {
    ui.meterView->setUpdatingIsEnabled(ui.meterView->updatingIsEnabled() ? 0 : 1);
    showPauseTitles();
}

void WobblestarAppDelegate::showPauseTitles() {
    // A title says what pressing the button does, so it follows the display's state wherever
    // that was changed.
    if (toolbar && !toolbar->actions().isEmpty())
        toolbar->actions().at(0)->setText(
            ui.graphView->updatingIsEnabled() ? QStringLiteral("Pause") : QStringLiteral("Resume"));
    ui.metersPause->setText(ui.meterView->updatingIsEnabled() ? QStringLiteral("Pause")
                                                              : QStringLiteral("Resume"));
}

bool WobblestarAppDelegate::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_.get() && event->type() == QEvent::Close)
        recorder_->finish();
    return QObject::eventFilter(watched, event);
}

} // namespace app
