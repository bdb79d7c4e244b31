#include "app/SourceActions.h"

#include "app/Recorder.h"
#include "features/AxisCheckDialog.h"
#include "features/InfoText.h"
#include "features/RecordingOpener.h"
#include "features/analysis/AnalysisWindow.h"
#include "screens/DialogStyle.h"
#include "screens/StatusBar.h"
#include "screens/WindowPlacement.h"
#include "sensors/Accelerometer.h"
#include "sensors/ReplayDriver.h"
#include "sensors/SampleCsvWriter.h"

#include <QFileInfo>
#include <QLayout>
#include <QScreen>
#include <QSettings>
#include <QTextBrowser>

namespace app {

using sensors::Accelerometer;

SourceActions::SourceActions(Recorder& recorder, screens::StatusBar& statusBar,
                             std::function<std::optional<sensors::Acceleration>()> latest,
                             QObject* parent)
    : QObject(parent), recorder_(recorder), statusBar_(statusBar), latest_(std::move(latest)) {}

SourceActions::~SourceActions() = default;

void SourceActions::installOpener(QWidget* window) {
    opener_ =
        new features::RecordingOpener(window, [this](const QString& path) { openRecording(path); });
}

bool SourceActions::openRecording(const QString& path, double fromSeconds) {
    auto driver = std::make_unique<sensors::ReplayDriver>(path, false, fromSeconds);
    QString error;
    if (!driver->start(&error)) {
        recorder_.showMessage(tr("Recording not opened"), error);
        return false;
    }
    statusBar_.setSource(driver->description());
    showAbout(about_, driver->description());
    Accelerometer::sharedAccelerometer().setDriver(std::move(driver));
    return true;
}

void SourceActions::showAbout(QTextBrowser* about, const QString& source) {
    about_ = about;
    if (about_)
        about_->setHtml(features::infoHtml(
            features::InfoFacts{QStringLiteral(WOBBLESTAR_VERSION), source, QSettings().fileName(),
                                sensors::SampleCsvWriter::defaultDirectory()}));
}

void SourceActions::showRecordings() {
    if (!recordingsWindow_) {
        recordingsWindow_ = std::make_unique<features::analysis::AnalysisWindow>(
            sensors::SampleCsvWriter::defaultDirectory());
        recordingsWindow_->setLiveFeed(&liveFeed_);
        connect(
            recordingsWindow_.get(), &features::analysis::AnalysisWindow::replayRequested, this,
            [this](const QString& path, double fromSeconds) { replayFromHere(path, fromSeconds); });
        fitOnScreen(recordingsWindow_.get());
        screens::WindowPlacement::keep(recordingsWindow_.get(), QStringLiteral("recordings"));
    } else {
        recordingsWindow_->refresh();
    }
    recordingsWindow_->show();
    recordingsWindow_->raise();
    recordingsWindow_->activateWindow();
}

void SourceActions::fitOnScreen(QWidget* window) {
    // Within nine tenths of the free area, whatever the screen and scale, so that the title
    // bar and its buttons stay on the screen.
    const QScreen* screen = mainWindow_ ? mainWindow_->screen() : window->screen();
    if (!screen)
        return;
    const QSize available = screen->availableGeometry().size();
    const QSize room(available.width() * 9 / 10, available.height() * 9 / 10);
    // On a small screen at a large scale the controls' least sizes add up to more than the
    // screen: the window stays within it all the same, and its contents share what room
    // there is.
    if (window->layout())
        window->layout()->setSizeConstraint(QLayout::SetNoConstraint);
    window->setMinimumSize(window->minimumSize().boundedTo(room));
    window->resize(window->size().boundedTo(room));
}

void SourceActions::replayFromHere(const QString& path, double fromSeconds) {
    if (!openRecording(path, fromSeconds))
        return;
    // The replay is seen in the main window: bring it in front of the recordings window.
    if (mainWindow_) {
        mainWindow_->show();
        mainWindow_->raise();
        mainWindow_->activateWindow();
    }
    statusBar_.showNotice(
        tr("Replaying %1 from %2 s").arg(QFileInfo(path).fileName()).arg(fromSeconds, 0, 'f', 1));
}

void SourceActions::checkAxes(QWidget* parent) {
    auto* dialog = new AxisCheckDialog(Accelerometer::sharedAccelerometer().driver(), latest_,
                                       screens::dialogParent(parent));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    axisCheck_ = dialog;
    dialog->open();
}

} // namespace app
