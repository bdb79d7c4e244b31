#pragma once

#include "app/Recorder.h"
#include "app/ScreenNavigator.h"
#include "app/SettingsTable.h"
#include "app/SourceActions.h"
#include "sensors/Accelerometer.h"
#include "ui_Wobblestar.h"

#include <QDialog>
#include <QObject>
#include <QPointer>

namespace screens {
class FittedWindow;
}
#include <functional>
#include <memory>

class QToolBar;

namespace features {
class RecordingOpener;
}
namespace features::analysis {
class AnalysisWindow;
}

namespace app {

// The application's controller: start-up, routing of every accelerometer sample to the graph
// and the gauges, the sample rate, and the actions of every control. The work behind the
// actions is done by three collaborators: the screens and their skins (ScreenNavigator), the
// stored preferences (SettingsTable) and the recording with its log, file and mail (Recorder).
//
// The window and the screens come from the interface file, under the names it gives them
// (graphView, segmentcontroller, xAxis, ...); reach them through window(). Actions are the
// slots below, each wired to the control of the same name (toggleRun to the toolbar's first
// item, toggleRunMeters to metersPause).
class WobblestarAppDelegate : public QObject, public sensors::AccelerometerDelegate {
    Q_OBJECT
public:
    using Screen = ScreenNavigator::Screen;
    using SampleFile = Recorder::SampleFile;

    explicit WobblestarAppDelegate(QObject* parent = nullptr);
    ~WobblestarAppDelegate() override;

    // Keep the window portrait and show the meters screen turned inside it, instead of turning
    // the window to landscape. Set before start-up.
    void setFixedOrientation(bool fixed) { screens_->setFixedOrientation(fixed); }

    // Start-up: status bar, skins, the landscape meters screen, the stored settings, the
    // toolbar, the window, then sampling at the restored rate. Called once.
    void applicationDidFinishLaunching();

    // One sample: masked by the axis switches into the graph, unmasked into x, y, z and the
    // gauges.
    void accelerometer(sensors::Accelerometer& accelerometer,
                       const sensors::Acceleration& acceleration) override;

    // Sets the accelerometer's interval from the sampling-rate control (index 0, 1, 2: 40, 80,
    // 120 samples per second) and registers this delegate. Any other index changes nothing.
    void applySampleRate();

    // Recording without a display (wobblestar --record): start and stop leave the stored period
    // and log alone, and messages go to standard error only. Set before start().
    void setHeadless(bool headless) { recorder_->setHeadless(headless); }
    // Without start-up: selects the stored sampling rate (the first when the stored one is
    // unknown) and the recording period `periodIndex`, and applies the rate.
    void prepareRecording(int periodIndex) {
        ui.segmentcontroller->setSelectedSegmentIndex(SettingsTable::sampleRateIndex());
        ui.segment->setSelectedSegmentIndex(periodIndex);
        applySampleRate();
    }

    void setSampleFile(SampleFile kind, const QString& path = QString()) {
        recorder_->setSampleFile(kind, path);
    }
    // See Recorder::setRecordRate().
    void setRecordRate(std::optional<double> hz) { recorder_->setRecordRate(hz); }
    // The full-rate file of the running or last recording; null before the first one.
    const sensors::SampleCsvWriter* sampleWriter() const { return recorder_->sampleWriter(); }
    // The recording log as the recording screen shows it.
    QString recordingLog() const { return ui.recordingText->toPlainText(); }

    // The collaborators that do the work behind the actions.
    Recorder& recorder() const { return *recorder_; }
    ScreenNavigator& screens() const { return *screens_; }
    SourceActions& sources() const { return *sources_; }

    // The application's interface, laid out in points for a 320 x 480 screen (480 x 320 while
    // the gauges are shown); what screenshots show.
    QWidget* window() const { return window_.get(); }
    // The desktop window that shows window() scaled to fit; null before start-up.
    screens::FittedWindow* topLevelWindow() const { return topLevel_.get(); }
    // Brings up `screen` from the graph screen through the screens' own actions, as a user
    // would reach it.
    void showScreen(Screen screen);
    // The message about a damaged settings file shown at start-up; empty when there was none.
    QString settingsMessage() const { return settingsMessage_; }
    // The latest sample in g, unmasked and unfiltered; 0.0 until the first sample.
    float latestX() const { return x; }
    float latestY() const { return y; }
    float latestZ() const { return z; }

    screens::StatusBar* statusBar() const { return screens_->statusBar(); }

public slots:
    void settings();
    void back();
    void info();
    void close();
    void recordMenu();
    void closerecord();
    void meterMenu();
    void closeMeter();
    void toggleRun();
    void toggleRunMeters();
    // The recording screen's actions; the recorder does the work.
    void start() { recorder_->start(); }
    void stop() {
        recorder_->stop();
        showPauseTitles(); // a stopped recording runs the graph again
    }
    void timerFired() { recorder_->appendSample(x, y, z); }
    void emailrecord() { recorder_->mailLog(); }
    void email() { recorder_->mailFeedback(); }
    // Writes the log to a file the user chooses; false when nothing was written.
    bool saveLog() { return recorder_->saveLog(); }
    // Opens (or raises) the recordings window on the folder of the full-rate files.
    void recordings() { sources_->showRecordings(); }

private:
    // The pause buttons' titles from the displays' state: "Pause" over a running display.
    void showPauseTitles();
    void buildToolbar();
    void connectControls();
    void setUpKeyboard();
    struct ScreenRoute;
    static const ScreenRoute* routeTo(Screen screen);
    void leaveShownScreen();
    void leaveRecordingScreen();
    void pauseShownDisplay();
    bool eventFilter(QObject* watched, QEvent* event) override;

    // The interface file's objects, by their names.
    Ui::Wobblestar ui;
    // Everything the delegate makes is held here, each after what it uses, so that it goes
    // before what it uses: the collaborators before the window whose widgets they drive, the
    // desktop window before the interface it shows.
    std::unique_ptr<QWidget> window_;
    std::unique_ptr<ScreenNavigator> screens_;
    SettingsTable settingsTable_{ui};
    std::unique_ptr<Recorder> recorder_;
    std::unique_ptr<SourceActions> sources_;
    std::unique_ptr<screens::FittedWindow> topLevel_;
    // The graph screen's toolbar, created at start-up (a child of the window); its first
    // action is the pause item.
    QToolBar* toolbar = nullptr;
    QString settingsMessage_;

    // The latest sample in g, unmasked and unfiltered.
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
};

} // namespace app
