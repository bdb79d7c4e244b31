#include "app/SourceActions.h"

#include "app/Recorder.h"
#include "features/AxisCheckDialog.h"
#include "features/InfoText.h"
#include "features/RecordingOpener.h"
#include "features/analysis/AnalysisWindow.h"
#include "screens/DialogStyle.h"
#include "screens/StatusBar.h"
#include "sensors/Accelerometer.h"
#include "sensors/ReplayDriver.h"
#include "sensors/SampleCsvWriter.h"

#include <QSettings>
#include <QTextBrowser>

using platform::Accelerometer;

SourceActions::SourceActions(Recorder& recorder, platform::StatusBar& statusBar,
                             std::function<std::optional<platform::Acceleration>()> latest,
                             QObject* parent)
    : QObject(parent), recorder_(recorder), statusBar_(statusBar), latest_(std::move(latest)) {}

SourceActions::~SourceActions() = default;

void SourceActions::installOpener(QWidget* window) {
    opener_ = new RecordingOpener(window, [this](const QString& path) { openRecording(path); });
}

bool SourceActions::openRecording(const QString& path, double fromSeconds) {
    auto driver = std::make_unique<platform::ReplayDriver>(path, false, fromSeconds);
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
        about_->setHtml(
            infoHtml(InfoFacts{QStringLiteral(WOBBLESTAR_VERSION), source, QSettings().fileName(),
                               platform::SampleCsvWriter::defaultDirectory()}));
}

void SourceActions::showRecordings() {
    if (!recordingsWindow_) {
        recordingsWindow_ = std::make_unique<analysis::AnalysisWindow>(
            platform::SampleCsvWriter::defaultDirectory());
        connect(
            recordingsWindow_.get(), &analysis::AnalysisWindow::replayRequested, this,
            [this](const QString& path, double fromSeconds) { openRecording(path, fromSeconds); });
    } else {
        recordingsWindow_->refresh();
    }
    recordingsWindow_->show();
    recordingsWindow_->raise();
    recordingsWindow_->activateWindow();
}

void SourceActions::checkAxes(QWidget* parent) {
    auto* dialog = new AxisCheckDialog(Accelerometer::sharedAccelerometer().driver(), latest_,
                                       platform::dialogParent(parent));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    axisCheck_ = dialog;
    dialog->open();
}
