#pragma once

#include "features/analysis/LiveFeed.h"
#include "sensors/Acceleration.h"

#include <QDialog>
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>

class QTextBrowser;

namespace features {
class RecordingOpener;
}
namespace features::analysis {
class AnalysisWindow;
}
namespace screens {
class StatusBar;
}

namespace app {

class Recorder;

// What the user does with sources and whole recordings beside the live screens: replaying a
// file in the main window (the "Replay a file…" entry and file drops), the recordings window,
// and the guided axis check of the sensor in use.
class SourceActions : public QObject {
    Q_OBJECT
public:
    // `latest` gives the newest reading for the axis check; `recorder` says what went wrong.
    SourceActions(Recorder& recorder, screens::StatusBar& statusBar,
                  std::function<std::optional<sensors::Acceleration>()> latest,
                  QObject* parent = nullptr);
    ~SourceActions() override;

    // The window a replay is seen in; raised when the recordings window starts one.
    void setMainWindow(QWidget* window) { mainWindow_ = window; }

    // Puts the "Replay a file…" entry and file drops on `window`.
    void installOpener(QWidget* window);
    features::RecordingOpener* opener() const { return opener_; }

    // Writes the About text into `about`, naming `source`, and names each recording opened later.
    void showAbout(QTextBrowser* about, const QString& source);

    // Replays `path` from `fromSeconds`: the accelerometer's source becomes the file until
    // another is opened. A refused file leaves the source as it was and says why.
    bool openRecording(const QString& path, double fromSeconds = 0.0);
    // Opens (or raises) the recordings window on the folder of the full-rate files.
    void showRecordings();
    features::analysis::AnalysisWindow* recordingsWindow() const { return recordingsWindow_.get(); }
    // The running source's last minutes, kept from the start for the recordings window's live
    // view, however late it is opened.
    features::analysis::LiveFeed& liveFeed() { return liveFeed_; }
    // Opens the guided axis check over `parent`.
    void checkAxes(QWidget* parent);
    QDialog* axisCheck() const { return axisCheck_; }

private:
    // Replays a file from the recordings window and shows it happening in the main window.
    void replayFromHere(const QString& path, double fromSeconds);
    void fitOnScreen(QWidget* window);

    Recorder& recorder_;
    screens::StatusBar& statusBar_;
    std::function<std::optional<sensors::Acceleration>()> latest_;
    features::RecordingOpener* opener_ = nullptr;
    QPointer<QDialog> axisCheck_;
    QPointer<QTextBrowser> about_;
    QPointer<QWidget> mainWindow_;
    // Before the window that reads it, so that it goes after the window.
    features::analysis::LiveFeed liveFeed_;
    std::unique_ptr<features::analysis::AnalysisWindow> recordingsWindow_;
};

} // namespace app
