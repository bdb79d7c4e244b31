#include "app/WobblestarAppDelegate.h"

#include "features/InfoText.h"
#include "features/RecordingLog.h"
#include "drawing/Images.h"
#include "screens/FittedWindow.h"
#include "screens/LandscapeScreen.h"
#include "sensors/SampleCsvWriter.h"
#include "desktop/SettingsStore.h"
#include "screens/StatusBar.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QStandardPaths>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <cmath>
#include <cstdint>

using platform::Accelerometer;
using platform::StatusBar;
using platform::Transition;

namespace {

// 270 degrees as the nearest 32-bit float to 3π/2 radians gives it; the meters screen is laid
// out for landscape and turned once.
constexpr double kMetersTurnDegrees = 270.0;
constexpr double kTransitionSeconds = 1.0;

// The on/off keys hold 1 or 0; like a one-byte boolean, any non-zero low byte means on.
// A text file's lines each end in a line end, the last one too; tools that read line by line
// (wc -l, read, diff) would otherwise miss or flag the last line of the log.
QByteArray textFileContents(const QString& text) {
    QByteArray bytes = text.toUtf8();
    if (!bytes.isEmpty() && !bytes.endsWith('\n'))
        bytes += '\n';
    return bytes;
}

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

bool readFlag(const QSettings& store, const char* key) {
    const QVariant value = store.value(QLatin1String(key));
    const QString text = value.toString().trimmed();
    if (text == u"true")
        return true;
    return static_cast<std::int8_t>(value.toInt()) != 0;
}

} // namespace

WobblestarAppDelegate::WobblestarAppDelegate(QObject* parent)
    : QObject(parent), window_(std::make_unique<QWidget>()) {
    ui.setupUi(window_.get());
    statusBar_ = new StatusBar(window_.get());
    transition_ = new platform::ScreenTransition(window_.get());
    connectControls();
    // However the application ends (Ctrl+Q, the window closed, SIGTERM through QuitOnSignals),
    // a running recording is stopped and stored first.
    window_->installEventFilter(this);
    if (QCoreApplication* application = QCoreApplication::instance())
        connect(application, &QCoreApplication::aboutToQuit, this,
                &WobblestarAppDelegate::finishRecording);
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
    connect(ui.saveLog, &QPushButton::clicked, this, &WobblestarAppDelegate::saveLog);
}

void WobblestarAppDelegate::applicationDidFinishLaunching() {
    statusBar_->setStatusBarStyle(2);

    loadSkins(qApp->devicePixelRatio());

    layOutMetersScreen();
    restoreSettings();
    RecordingLog::fitSampleLinesToView(ui.recordingText);
    fitPlatesToText(window_.get());
    // Half-transparent by default, the placeholder would fade to 4:1 on the log's dark panel.
    QPalette logPalette = ui.recordingText->palette();
    logPalette.setColor(QPalette::PlaceholderText, QColor(0xb4, 0xba, 0xb4));
    ui.recordingText->setPalette(logPalette);
    buildToolbar();

    // The graph screen is shown first; the others wait until their actions bring them in.
    ui.settingsView->hide();
    ui.infoView->hide();
    ui.RecordView->hide();
    metersHost_->hide();
    statusBar_->raise();
    setUpKeyboard();
    topLevel_ = std::make_unique<platform::FittedWindow>(window_.get());
    connect(topLevel_.get(), &platform::FittedWindow::deviceScaleChanged, this,
            &WobblestarAppDelegate::loadSkins);
    loadSkins(topLevel_->deviceScale());
    topLevel_->show();

    ui.graphView->setUpdatingIsEnabled(true);
    ui.meterView->setUpdatingIsEnabled(0);
    applySampleRate();
    ui.graphView->setFilteringEnabled(ui.Filter->isOn());
    dress(ui.one);

    Accelerometer& accelerometer = Accelerometer::sharedAccelerometer();
    const QString source = accelerometer.driver() ? accelerometer.driver()->description()
                                                  : QString();
    statusBar_->setSource(source);
    connect(&accelerometer, &Accelerometer::deliveredRateChanged, statusBar_,
            &StatusBar::setDeliveredRate);
    ui.infoText->setHtml(infoHtml(InfoFacts{QStringLiteral(WOBBLESTAR_VERSION), source,
                                            QSettings().fileName(),
                                            platform::SampleCsvWriter::defaultDirectory()}));
    updateAxesHint();
    showSettingsMessage();
}

void WobblestarAppDelegate::updateAxesHint() {
    const bool allOff = !ui.xAxis->isOn() && !ui.yAxis->isOn() && !ui.zAxis->isOn();
    statusBar_->setHint(shown_ == Screen::Graph && allOff
                            ? QStringLiteral("All axes off: switch them on in Settings")
                            : QString());
}

void WobblestarAppDelegate::layOutMetersScreen() {
    metersHost_ = new platform::LandscapeScreen(ui.metersView, window_.get());
    const QSize screen = window_->size();
    metersHost_->setScreenBounds(QSizeF(screen.height(), screen.width()));
    metersHost_->setScreenRotation(metersHost_->screenRotation() + kMetersTurnDegrees);
    metersHost_->setScreenCenter(QRectF(window_->rect()).center());
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

void WobblestarAppDelegate::restoreSettings() {
    using Kind = platform::ExpectedKey::Kind;
    const platform::StoreCheck check = platform::checkSettingsStore({
        {QLatin1String(kLogKey), Kind::Text},
        {QLatin1String(kRateKey), Kind::Integer},
        {QStringLiteral("x"), Kind::Flag},
        {QStringLiteral("y"), Kind::Flag},
        {QStringLiteral("z"), Kind::Flag},
        {QStringLiteral("f"), Kind::Flag},
        {QLatin1String(kPeriodKey), Kind::Integer},
        {QLatin1String(kSkinKey), Kind::Integer},
    });
    settingsMessage_ = check.message;

    const QSettings store;
    ui.recordingText->setPlainText(store.value(QLatin1String(kLogKey)).toString());
    ui.segmentcontroller->setSelectedSegmentIndex(store.value(QLatin1String(kRateKey)).toInt());
    ui.xAxis->setOn(readFlag(store, "x"));
    ui.yAxis->setOn(readFlag(store, "y"));
    ui.zAxis->setOn(readFlag(store, "z"));
    ui.Filter->setOn(readFlag(store, "f"));
    ui.segment->setSelectedSegmentIndex(store.value(QLatin1String(kPeriodKey)).toInt());
    ui.design->setSelectedSegmentIndex(store.value(QLatin1String(kSkinKey)).toInt());
}

void WobblestarAppDelegate::showSettingsMessage() {
    if (settingsMessage_.isEmpty())
        return;
    qWarning("wobblestar: %s", qPrintable(settingsMessage_));
    if (QGuiApplication::platformName() == u"offscreen")
        return;
    auto* box = new QMessageBox(QMessageBox::Warning, tr("Settings reset"), settingsMessage_,
                                QMessageBox::Ok, dialogParent());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void WobblestarAppDelegate::saveSettings() {
    QSettings store;
    store.setValue(QLatin1String(kRateKey), ui.segmentcontroller->selectedSegmentIndex());
    store.setValue(QLatin1String(kSkinKey), ui.design->selectedSegmentIndex());
    store.setValue(QStringLiteral("x"), ui.xAxis->isOn() ? 1 : 0);
    store.setValue(QStringLiteral("y"), ui.yAxis->isOn() ? 1 : 0);
    store.setValue(QStringLiteral("z"), ui.zAxis->isOn() ? 1 : 0);
    store.setValue(QStringLiteral("f"), ui.Filter->isOn() ? 1 : 0);
    store.sync();
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
    spaceKey_ = new QShortcut(QKeySequence(Qt::Key_Space), window_.get());
    spaceKey_->setContext(Qt::ApplicationShortcut);
    connect(spaceKey_, &QShortcut::activated, this, &WobblestarAppDelegate::pauseShownDisplay);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), window_.get());
    escape->setContext(Qt::ApplicationShortcut);
    connect(escape, &QShortcut::activated, this, &WobblestarAppDelegate::leaveShownScreen);
    auto* quit = new QShortcut(QKeySequence::Quit, window_.get());
    quit->setContext(Qt::ApplicationShortcut);
    connect(quit, &QShortcut::activated, qApp, &QCoreApplication::quit);
}

void WobblestarAppDelegate::pauseShownDisplay() {
    if (transition_->isRunning())
        return;
    if (shown_ == Screen::Graph)
        toggleRun();
    else if (shown_ == Screen::Meters)
        toggleRunMeters();
}

void WobblestarAppDelegate::leaveShownScreen() {
    if (transition_->isRunning())
        return;
    switch (shown_) {
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

    if (recording_ && sampleWriter_)
        sampleWriter_->append(acceleration);
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
    statusBar_->setRateSelected(Accelerometer::sharedAccelerometer().delegate() == this);
}

QWidget* WobblestarAppDelegate::rootOf(QWidget* screen) const {
    if (metersHost_ && screen == ui.metersView)
        return metersHost_;
    return screen;
}

void WobblestarAppDelegate::changeScreen(QWidget* outgoing, QWidget* incoming, Transition kind,
                                         Screen shown) {
    transition_->beginAnimations();
    transition_->setAnimationDuration(kTransitionSeconds);
    transition_->setAnimationTransition(kind, window_.get());
    rootOf(outgoing)->hide();
    QWidget* incomingRoot = rootOf(incoming);
    incomingRoot->show();
    incomingRoot->raise();
    statusBar_->raise();
    transition_->commitAnimations();
    shown_ = shown;
    updateAxesHint();
    if (spaceKey_)
        spaceKey_->setEnabled(shown == Screen::Graph || shown == Screen::Meters);
}

void WobblestarAppDelegate::dress(QLabel* imageView) {
    const bool landscape = imageView == ui.five;
    const int index = ui.design->selectedSegmentIndex();
    if (index == 0)
        imageView->setPixmap(landscape ? carbon90 : carbon);
    else if (index == 1)
        imageView->setPixmap(landscape ? metal90 : metal);
    else if (index == 2)
        imageView->setPixmap(landscape ? ancient90 : ancient);
    else if (index == 3)
        imageView->setPixmap(landscape ? black90 : black);
}

void WobblestarAppDelegate::loadSkins(double deviceScale) {
    QPixmap* const images[] = {&carbon,   &metal,   &ancient,   &black,
                               &carbon90, &metal90, &ancient90, &black90};
    const char* const names[] = {"carbon",   "metal",   "ancient",   "black",
                                 "carbon90", "metal90", "ancient90", "black90"};
    QLabel* const views[] = {ui.one, ui.two, ui.three, ui.four, ui.five};
    for (int i = 0; i < 8; ++i) {
        const qint64 shown = images[i]->cacheKey();
        *images[i] = platform::imageNamed(QString::fromLatin1(names[i]) + QStringLiteral(".png"),
                                          deviceScale);
        for (QLabel* view : views)
            if (!view->pixmap().isNull() && view->pixmap().cacheKey() == shown)
                view->setPixmap(*images[i]);
    }
}

QWidget* WobblestarAppDelegate::dialogParent() const {
    return topLevel_ ? static_cast<QWidget*>(topLevel_.get()) : window_.get();
}

void WobblestarAppDelegate::setStatusBarOrientation(int orientation) {
    if (!fixedOrientation_ && metersHost_) {
        // A desktop window turns the way the user would turn a phone.
        const bool landscape = orientation == StatusBar::kLandscapeLeft;
        const QSize size = landscape ? QSize(480, 320) : QSize(320, 480);
        window_->setFixedSize(size);
        metersHost_->setDeviceRotation(landscape ? 90 : 0, size);
    }
    statusBar_->setStatusBarOrientation(orientation, window_->width());
}

void WobblestarAppDelegate::settings() {
    changeScreen(ui.graphView, ui.settingsView, Transition::CurlUp, Screen::Settings);
    ui.graphView->setUpdatingIsEnabled(false);
    dress(ui.three);
}

void WobblestarAppDelegate::back() {
    changeScreen(ui.settingsView, ui.graphView, Transition::CurlDown, Screen::Graph);
    applySampleRate();
    ui.graphView->setFilteringEnabled(ui.Filter->isOn());
    saveSettings();
    ui.graphView->setUpdatingIsEnabled(true);
    dress(ui.one);
}

void WobblestarAppDelegate::info() {
    changeScreen(ui.settingsView, ui.infoView, Transition::FlipFromRight, Screen::Info);
    dress(ui.two);
}

void WobblestarAppDelegate::close() {
    changeScreen(ui.infoView, ui.settingsView, Transition::FlipFromLeft, Screen::Settings);
}

void WobblestarAppDelegate::recordMenu() {
    changeScreen(ui.graphView, ui.RecordView, Transition::CurlUp, Screen::Recording);
    ui.graphView->setUpdatingIsEnabled(false);
    dress(ui.four);
}

void WobblestarAppDelegate::closerecord() {
    changeScreen(ui.RecordView, ui.graphView, Transition::CurlDown, Screen::Graph);
    ui.graphView->setUpdatingIsEnabled(true);
}

void WobblestarAppDelegate::meterMenu() {
    changeScreen(ui.graphView, ui.metersView, Transition::FlipFromRight, Screen::Meters);
    ui.meterView->setUpdatingIsEnabled(1);
    ui.graphView->setUpdatingIsEnabled(false);
    setStatusBarOrientation(StatusBar::kLandscapeLeft);
    idle_.setIdleTimerDisabled(true);
    dress(ui.five);
}

void WobblestarAppDelegate::closeMeter() {
    changeScreen(ui.metersView, ui.graphView, Transition::FlipFromLeft, Screen::Graph);
    ui.meterView->setUpdatingIsEnabled(0);
    ui.graphView->setUpdatingIsEnabled(true);
    setStatusBarOrientation(StatusBar::kPortrait);
    idle_.setIdleTimerDisabled(false);
}

void WobblestarAppDelegate::toggleRun() {
    QAction* pause = toolbar->actions().at(0);
    pause->setText(ui.graphView->updatingIsEnabled() ? QStringLiteral("Resume")
                                                     : QStringLiteral("Pause"));
    ui.graphView->setUpdatingIsEnabled(!ui.graphView->updatingIsEnabled());
}

void WobblestarAppDelegate::toggleRunMeters() {
    ui.metersPause->setText(ui.meterView->updatingIsEnabled() ? QStringLiteral("Resume")
                                                              : QStringLiteral("Pause"));
    ui.meterView->setUpdatingIsEnabled(ui.meterView->updatingIsEnabled() ? 0 : 1);
}

void WobblestarAppDelegate::setSampleFile(SampleFile kind, const QString& path) {
    sampleFile_ = kind;
    sampleFilePath_ = path;
}

void WobblestarAppDelegate::start() {
    const QDateTime started = QDateTime::currentDateTime();
    const int index = ui.segment->selectedSegmentIndex();
    ui.recordingText->setPlainText(
        RecordingLog::header(RecordingLog::labelForIndex(index), started));
    ui.graphView->setUpdatingIsEnabled(false);
    ui.start->setEnabled(false);
    ui.closerecord->setEnabled(false);
    ui.emailrecord->setEnabled(false);
    ui.stop->setEnabled(true);
    if (!headless_)
        QSettings().setValue(QLatin1String(kPeriodKey), index); // written by stop at the latest

    // Only a call from code can start twice; never leave two timers ticking into one log.
    stopTimers();
    recording_ = true;
    startSampleFile(started);
    if (const auto period = RecordingLog::periodForIndex(index)) {
        auto* timer = new QTimer(this);
        // Lines at even steps: the default coarse timer may drift by 5% of the period.
        timer->setTimerType(Qt::PreciseTimer);
        timer->setInterval(int(std::lround(period->seconds * 1000.0)));
        connect(timer, &QTimer::timeout, this, &WobblestarAppDelegate::timerFired);
        QTimer** fields[] = {&myTimer1, &myTimer2, &myTimer3, &myTimer4};
        *fields[index] = timer;
        timer->start();
    }
}

void WobblestarAppDelegate::timerFired() {
    // Appending leaves the text exactly as rebuilding it would, at a cost that does not grow
    // with the log.
    RecordingLog::appendToView(ui.recordingText, RecordingLog::sampleLine(x, y, z));
}

void WobblestarAppDelegate::stop() {
    const QDateTime ended = QDateTime::currentDateTime();
    RecordingLog::appendToView(ui.recordingText, RecordingLog::footer(ended));

    QString storeError;
    if (!headless_) {
        QSettings store;
        store.setValue(QLatin1String(kLogKey), ui.recordingText->toPlainText());
        store.sync();
        if (store.status() != QSettings::NoError)
            storeError = QDir::toNativeSeparators(store.fileName());
    }

    stopTimers();
    ui.graphView->setUpdatingIsEnabled(true);
    ui.start->setEnabled(true);
    ui.closerecord->setEnabled(true);
    ui.emailrecord->setEnabled(true);
    ui.stop->setEnabled(false);
    recording_ = false;

    if (sampleWriter_)
        sampleWriter_->close(); // a failure is reported through its failed() signal

    if (!storeError.isEmpty()) {
        showMessage(tr("Log not stored"),
                    tr("The log could not be written to %1 (a read-only or full disk?). It "
                       "stays on screen, and will be gone after a restart unless you save it "
                       "to a file.")
                        .arg(storeError),
                    true);
    }
}

void WobblestarAppDelegate::stopTimers() {
    for (QTimer** field : {&myTimer1, &myTimer2, &myTimer3, &myTimer4}) {
        if (*field) {
            (*field)->stop();
            delete *field;
        }
        *field = nullptr;
    }
}

void WobblestarAppDelegate::finishRecording() {
    if (recording_)
        stop();
}

bool WobblestarAppDelegate::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_.get() && event->type() == QEvent::Close)
        finishRecording();
    return QObject::eventFilter(watched, event);
}

void WobblestarAppDelegate::startSampleFile(const QDateTime& started) {
    sampleWriter_.reset();
    if (sampleFile_ == SampleFile::None) {
        ui.sampleFileLabel->clear();
        ui.sampleFileLabel->hide();
        return;
    }
    using platform::SampleCsvWriter;
    sampleWriter_ =
        sampleFile_ == SampleFile::Named
            ? std::make_unique<SampleCsvWriter>(sampleFilePath_, SampleCsvWriter::Existing::Replace)
            : std::make_unique<SampleCsvWriter>(SampleCsvWriter::defaultPath(started));
    connect(sampleWriter_.get(), &SampleCsvWriter::failed, this, [this](const QString& message) {
        showSampleFile();
        showMessage(tr("Full-rate recording stopped"), message);
    });
    // Times count from the start, not from the first reading after it.
    sampleWriter_->setTimeOrigin(Accelerometer::sharedAccelerometer().now());
    sampleWriter_->open();
    showSampleFile();
}

void WobblestarAppDelegate::showSampleFile() {
    if (!sampleWriter_) {
        ui.sampleFileLabel->clear();
        ui.sampleFileLabel->hide();
        return;
    }
    ui.sampleFileLabel->show();
    QString shown = QDir::toNativeSeparators(sampleWriter_->path());
    const QString home = QDir::toNativeSeparators(QDir::homePath());
    if (shown.startsWith(home + QDir::separator()))
        shown.replace(0, home.size(), QStringLiteral("~"));
    const QString prefix = sampleWriter_->hasFailed() ? tr("Not written: ") : tr("Samples: ");
    const int room = ui.sampleFileLabel->contentsRect().width() -
                     ui.sampleFileLabel->fontMetrics().horizontalAdvance(prefix) - 8;
    ui.sampleFileLabel->setText(
        prefix + ui.sampleFileLabel->fontMetrics().elidedText(shown, Qt::ElideMiddle, room));
    ui.sampleFileLabel->setToolTip(sampleWriter_->hasFailed()
                                       ? sampleWriter_->errorString()
                                       : QDir::toNativeSeparators(sampleWriter_->path()));
}

void WobblestarAppDelegate::emailrecord() {
    const platform::MailResult result = mailComposer_.mailLog(ui.recordingText->toPlainText());
    if (!result.opened())
        showMessage(tr("Mail not sent"), result.message, true);
}

void WobblestarAppDelegate::email() {
    const QUrl url = platform::feedbackUrl();
    if (url.isEmpty()) {
        showMessage(tr("Feedback"), tr("This build names no feedback address or page."));
        return;
    }
    const platform::MailResult result = mailComposer_.open(url);
    if (!result.opened())
        showMessage(url.scheme() == u"mailto" ? tr("Mail not sent") : tr("Page not opened"),
                    result.message);
}

bool WobblestarAppDelegate::saveLog() {
    QString path;
    if (chooseLogFile_) {
        path = chooseLogFile_();
    } else {
        // The documents folder is named even where it does not exist; the dialog would then
        // open in the working folder, wherever the program was started from.
        QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        if (folder.isEmpty() || !QFileInfo(folder).isDir())
            folder = QDir::homePath();
        path = QFileDialog::getSaveFileName(dialogParent(), tr("Save log"),
                                            QDir(folder).filePath(QStringLiteral("recording.txt")),
                                            tr("Text files (*.txt);;All files (*)"));
    }
    if (path.isEmpty())
        return false;
    // QSaveFile: a failed write leaves an existing file as it was instead of half-written.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(textFileContents(ui.recordingText->toPlainText())) < 0 || !file.commit()) {
        showMessage(tr("Log not saved"),
                    tr("The log could not be saved to %1: %2.")
                        .arg(QDir::toNativeSeparators(path), file.errorString()));
        return false;
    }
    return true;
}

void WobblestarAppDelegate::showMessage(const QString& title, const QString& text, bool offerSave) {
    qWarning("wobblestar: %s", qPrintable(text));
    if (headless_)
        return;
    if (messageBox_)
        messageBox_->close();
    // Not modal in the blocking sense: the event loop, the samples and a running recording go on.
    auto* box =
        new QMessageBox(QMessageBox::Warning, title, text, QMessageBox::NoButton, dialogParent());
    box->setAttribute(Qt::WA_DeleteOnClose);
    if (offerSave) {
        QPushButton* save = box->addButton(tr("Save Log..."), QMessageBox::AcceptRole);
        box->addButton(QMessageBox::Cancel);
        box->setDefaultButton(save);
        connect(save, &QPushButton::clicked, this, &WobblestarAppDelegate::saveLog,
                Qt::QueuedConnection);
    } else {
        box->addButton(QMessageBox::Ok);
    }
    messageBox_ = box;
    box->open();
}
