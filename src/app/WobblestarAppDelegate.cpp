#include "app/WobblestarAppDelegate.h"

#include "features/AxisCheckDialog.h"
#include "features/InfoText.h"
#include "features/RecordingLog.h"
#include "screens/FittedWindow.h"
#include "features/RecordingOpener.h"
#include "features/analysis/AnalysisWindow.h"
#include "screens/StatusBar.h"
#include "sensors/ReplayDriver.h"
#include "sensors/SampleCsvWriter.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLayout>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QToolBar>

using platform::Accelerometer;

namespace {

// Headings and hints sit on dark plates that read on every skin, light or dark; each plate is
// as wide as its text, not as the row the interface file gives it.
void fitPlatesToText(QWidget* window) {
    window->ensurePolished();
    for (QLabel* label : window->findChildren<QLabel*>()) {
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

} // namespace

using platform::StatusBar;
using platform::Transition;

WobblestarAppDelegate::WobblestarAppDelegate(QObject* parent)
    : QObject(parent), window_(std::make_unique<QWidget>()) {
    ui.setupUi(window_.get());
    screens_ = std::make_unique<ScreenNavigator>(ui, *window_);
    recorder_ = new Recorder(
        ui, window_.get(), [this] { timerFired(); }, this);
    connectControls();
    // However the application ends (Ctrl+Q, the window closed, SIGTERM through QuitOnSignals),
    // a running recording is stopped and stored first.
    window_->installEventFilter(this);
    if (QCoreApplication* application = QCoreApplication::instance())
        connect(application, &QCoreApplication::aboutToQuit, recorder_, &Recorder::finish);
}

WobblestarAppDelegate::~WobblestarAppDelegate() {
    // The desktop window gives the interface back before it goes; window_ owns it.
    topLevel_.reset();
    // The accelerometer outlives every delegate; it must not call one that is gone.
    Accelerometer& accelerometer = Accelerometer::sharedAccelerometer();
    if (accelerometer.delegate() == this)
        accelerometer.setDelegate(nullptr);
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
    connect(ui.checkAxes, &QPushButton::clicked, this, [this] {
        auto* dialog = new AxisCheckDialog(
            Accelerometer::sharedAccelerometer().driver(),
            [this] {
                return std::optional(platform::Acceleration{x, y, z, 0.0});
            },
            window_.get());
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        axisCheck_ = dialog;
        dialog->open();
    });
    connect(ui.saveLog, &QPushButton::clicked, this, &WobblestarAppDelegate::saveLog);
    connect(ui.recordings, &QPushButton::clicked, this, &WobblestarAppDelegate::recordings);
}

void WobblestarAppDelegate::applicationDidFinishLaunching() {
    StatusBar* statusBar = screens_->statusBar();
    statusBar->setStatusBarStyle(2);
    screens_->loadSkins();
    screens_->layOutMetersScreen();
    settingsMessage_ = settingsTable_.restore();
    RecordingLog::fitSampleLinesToView(ui.recordingText);
    fitPlatesToText(window_.get());
    // Half-transparent by default, the placeholder would fade to 4:1 on the log's dark panel.
    QPalette logPalette = ui.recordingText->palette();
    logPalette.setColor(QPalette::PlaceholderText, QColor(0xb4, 0xba, 0xb4));
    ui.recordingText->setPalette(logPalette);
    buildToolbar();

    // The graph screen is shown first; the others wait until their actions bring them in.
    screens_->showFirstScreen();
    setUpKeyboard();
    topLevel_ = std::make_unique<platform::FittedWindow>(window_.get());
    recorder_->setDialogParent(topLevel_.get());
    screens_->reloadSkins(topLevel_->deviceScale());
    connect(topLevel_.get(), &platform::FittedWindow::deviceScaleChanged, this,
            [this](double scale) { screens_->reloadSkins(scale); });
    recordingOpener_ =
        new RecordingOpener(window_.get(), [this](const QString& path) { openRecording(path); });
    topLevel_->show();

    ui.graphView->setUpdatingIsEnabled(true);
    ui.meterView->setUpdatingIsEnabled(0);
    applySampleRate();
    ui.graphView->setFilteringEnabled(ui.Filter->isOn());
    screens_->dress(ui.one);
    letterboxInSkin();

    Accelerometer& accelerometer = Accelerometer::sharedAccelerometer();
    const QString source =
        accelerometer.driver() ? accelerometer.driver()->description() : QString();
    statusBar->setSource(source);
    connect(&accelerometer, &Accelerometer::deliveredRateChanged, statusBar,
            &StatusBar::setDeliveredRate);
    ui.infoText->setHtml(
        infoHtml(InfoFacts{QStringLiteral(WOBBLESTAR_VERSION), source, QSettings().fileName(),
                           platform::SampleCsvWriter::defaultDirectory()}));
    screens_->updateAxesHint();
    SettingsTable::showMessage(settingsMessage_, topLevel_.get());
}

void WobblestarAppDelegate::letterboxInSkin() {
    if (!topLevel_ || ui.one->pixmap().isNull())
        return;
    // The skin's average colour, a little darker, so the bars beside the layout belong to it
    // without being mistaken for part of it.
    const QImage average =
        ui.one->pixmap().toImage().scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    topLevel_->setLetterboxColor(average.pixelColor(0, 0).darker(160));
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

bool WobblestarAppDelegate::openRecording(const QString& path, double fromSeconds) {
    auto driver = std::make_unique<platform::ReplayDriver>(path, false, fromSeconds);
    QString error;
    if (!driver->start(&error)) {
        recorder_->showMessage(tr("Recording not opened"), error);
        return false;
    }
    screens_->statusBar()->setSource(driver->description());
    Accelerometer::sharedAccelerometer().setDriver(std::move(driver));
    return true;
}

void WobblestarAppDelegate::setUpKeyboard() {
    auto* space = new QShortcut(QKeySequence(Qt::Key_Space), window_.get());
    space->setContext(Qt::ApplicationShortcut);
    connect(space, &QShortcut::activated, this, &WobblestarAppDelegate::pauseShownDisplay);
    screens_->setPauseKey(space);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), window_.get());
    escape->setContext(Qt::ApplicationShortcut);
    connect(escape, &QShortcut::activated, this, &WobblestarAppDelegate::leaveShownScreen);
    auto* quit = new QShortcut(QKeySequence::Quit, window_.get());
    quit->setContext(Qt::ApplicationShortcut);
    connect(quit, &QShortcut::activated, qApp, &QCoreApplication::quit);
    // Ctrl+O already opens a recording for replay; two shortcuts on one key would both go dead.
    auto* recordingsKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O), window_.get());
    recordingsKey->setContext(Qt::ApplicationShortcut);
    connect(recordingsKey, &QShortcut::activated, this, &WobblestarAppDelegate::recordings);
}

void WobblestarAppDelegate::pauseShownDisplay() {
    if (screens_->isChanging())
        return;
    if (screens_->shown() == Screen::Graph)
        toggleRun();
    else if (screens_->shown() == Screen::Meters)
        toggleRunMeters();
}

void WobblestarAppDelegate::leaveShownScreen() {
    if (screens_->isChanging())
        return;
    switch (screens_->shown()) {
    case Screen::Graph:
        break;
    case Screen::Settings:
        back();
        break;
    case Screen::Info:
        close();
        break;
    case Screen::Recording:
        // A running recording disables the button, and with it this way out.
        if (ui.closerecord->isEnabled())
            closerecord();
        break;
    case Screen::Meters:
        closeMeter();
        break;
    }
}

void WobblestarAppDelegate::accelerometer(Accelerometer& /*accelerometer*/,
                                          const platform::Acceleration& acceleration) {
    const float graphX = ui.xAxis->isOn() ? static_cast<float>(acceleration.x) : 0.0f;
    const float graphY = ui.yAxis->isOn() ? static_cast<float>(acceleration.y) : 0.0f;
    const float graphZ = ui.zAxis->isOn() ? static_cast<float>(acceleration.z) : 0.0f;
    ui.graphView->updateHistoryWithX(graphX, graphY, graphZ);

    x = static_cast<float>(acceleration.x);
    y = static_cast<float>(acceleration.y);
    z = static_cast<float>(acceleration.z);
    ui.meterView->X(x, y, z);

    recorder_->record(acceleration);
}

void WobblestarAppDelegate::applySampleRate() {
    const int index = ui.segmentcontroller->selectedSegmentIndex();
    double interval = 0.0;
    if (index == 0)
        interval = 0.025;
    else if (index == 1)
        interval = 0.0125;
    else if (index == 2)
        interval = 1.0 / 120.0;
    if (interval > 0.0) {
        Accelerometer::sharedAccelerometer().setUpdateInterval(interval);
        Accelerometer::sharedAccelerometer().setDelegate(this);
    }
    // No segment selected, or one we do not know: interval and delegate stay as they were.
    screens_->statusBar()->setRateSelected(Accelerometer::sharedAccelerometer().delegate() == this);
}

void WobblestarAppDelegate::prepareRecording(int periodIndex) {
    ui.segmentcontroller->setSelectedSegmentIndex(SettingsTable::sampleRateIndex());
    ui.segment->setSelectedSegmentIndex(periodIndex);
    applySampleRate();
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
    const QString notSaved = settingsTable_.save();
    ui.graphView->setUpdatingIsEnabled(true);
    showPauseTitles();
    screens_->dress(ui.one);
    SettingsTable::showMessage(notSaved, window_.get(), tr("Settings not saved"));
    letterboxInSkin();
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
        toolbar->actions().at(0)->setText(ui.graphView->updatingIsEnabled()
                                              ? QStringLiteral("Pause")
                                              : QStringLiteral("Resume"));
    ui.metersPause->setText(ui.meterView->updatingIsEnabled() ? QStringLiteral("Pause")
                                                              : QStringLiteral("Resume"));
}

void WobblestarAppDelegate::start() {
    recorder_->start();
}

void WobblestarAppDelegate::timerFired() {
    recorder_->appendSample(x, y, z);
}

void WobblestarAppDelegate::stop() {
    recorder_->stop();
    showPauseTitles(); // a stopped recording runs the graph again
}

void WobblestarAppDelegate::emailrecord() {
    recorder_->mailLog();
}

void WobblestarAppDelegate::email() {
    recorder_->mailFeedback();
}

bool WobblestarAppDelegate::saveLog() {
    return recorder_->saveLog();
}

bool WobblestarAppDelegate::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_.get() && event->type() == QEvent::Close)
        recorder_->finish();
    return QObject::eventFilter(watched, event);
}

void WobblestarAppDelegate::recordings() {
    if (!recordingsWindow_) {
        recordingsWindow_ = std::make_unique<analysis::AnalysisWindow>(
            platform::SampleCsvWriter::defaultDirectory());
        connect(recordingsWindow_.get(), &analysis::AnalysisWindow::replayRequested, this,
                [this](const QString& path, double fromSeconds) {
                    openRecording(path, fromSeconds);
                });
    } else {
        recordingsWindow_->refresh();
    }
    recordingsWindow_->show();
    recordingsWindow_->raise();
    recordingsWindow_->activateWindow();
}
