#pragma once

#include "desktop/IdleInhibitor.h"
#include "desktop/MailComposer.h"
#include "sensors/SampleCsvWriter.h"
#include "screens/ScreenTransition.h"
#include "sensors/Accelerometer.h"
#include "ui_Wobblestar.h"

#include <QMessageBox>
#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <functional>
#include <memory>

class QAction;
class QShortcut;
class QTimer;
class QToolBar;

namespace platform {
class FittedWindow;
class LandscapeScreen;
class StatusBar;
} // namespace platform

// The application's controller: start-up, routing of every accelerometer sample to the graph
// and the gauges, the sample rate, the settings and their store, the five screens with their
// transitions, pausing and skins, and the recording log with its mail and full-rate file.
//
// The window and the screens come from the interface file; `ui` holds them under the names
// the interface file gives them (graphView, segmentcontroller, xAxis, ...). Actions are the
// slots below, each wired to the control of the same name (toggleRun to the toolbar's first
// item, toggleRunMeters to metersPause). Because the outlets live in `ui`, an action may share
// its control's name (start, stop, emailrecord).
class WobblestarAppDelegate : public QObject, public platform::AccelerometerDelegate {
    Q_OBJECT
public:
    // The preference keys and what each holds.
    static constexpr const char* kRateKey = "segment";    // sampling-rate index 0..2
    static constexpr const char* kSkinKey = "design";     // skin index 0..3
    static constexpr const char* kPeriodKey = "segment2"; // recording-period index 0..3
    static constexpr const char* kLogKey = "text";        // the recording log

    // Which screen a window shows.
    enum class Screen { Graph, Settings, Info, Recording, Meters };

    explicit WobblestarAppDelegate(QObject* parent = nullptr);
    ~WobblestarAppDelegate() override;

    // Keep the window portrait and show the meters screen turned inside it, instead of turning
    // the window to landscape. Set before start-up.
    void setFixedOrientation(bool fixed) { fixedOrientation_ = fixed; }

    // Start-up: status bar, skins, the landscape meters screen, the stored settings, the
    // toolbar, the window, then sampling at the restored rate. Called once.
    void applicationDidFinishLaunching();

    // One sample: masked by the axis switches into the graph, unmasked into x, y, z and the
    // gauges.
    void accelerometer(platform::Accelerometer& accelerometer,
                       const platform::Acceleration& acceleration) override;

    // Sets the accelerometer's interval from the sampling-rate control (index 0, 1, 2: 40, 80,
    // 120 samples per second) and registers this delegate. Any other index changes nothing.
    void applySampleRate();

    // Recording without a display (wobblestar --record): start and stop leave the stored period
    // and log alone, and messages go to standard error only. Set before start().
    void setHeadless(bool headless) { headless_ = headless; }
    bool isHeadless() const { return headless_; }

    // Where the full-rate samples of a recording go.
    enum class SampleFile {
        Default, // a new file per recording under SampleCsvWriter::defaultDirectory()
        Named,   // sampleFilePath(), replaced by each recording
        None,    // no full-rate file
    };
    void setSampleFile(SampleFile kind, const QString& path = QString());
    // The full-rate file of the running or last recording; null before the first one.
    const platform::SampleCsvWriter* sampleWriter() const { return sampleWriter_.get(); }

    // Whether a recording runs (between start and stop).
    bool isRecording() const { return recording_; }

    // Replaces the desktop's mail program (tests).
    void setMailComposer(platform::MailComposer composer) { mailComposer_ = std::move(composer); }
    // Replaces the save dialog: returns the chosen file, or an empty string for none (tests).
    void setLogFileChooser(std::function<QString()> chooser) {
        chooseLogFile_ = std::move(chooser);
    }
    // The message box shown last, while it is open; null otherwise.
    QMessageBox* messageBox() const { return messageBox_; }

    // The application's interface, laid out in points for a 320 x 480 screen (480 x 320 while
    // the gauges are shown); what screenshots show.
    QWidget* window() const { return window_.get(); }
    // The desktop window that shows window() scaled to fit; null before start-up.
    platform::FittedWindow* topLevelWindow() const { return topLevel_.get(); }
    // The screen shown now.
    Screen shownScreen() const { return shown_; }
    // The message about a damaged settings file shown at start-up; empty when there was none.
    QString settingsMessage() const { return settingsMessage_; }

    platform::StatusBar* statusBar() const { return statusBar_; }
    platform::ScreenTransition* transition() const { return transition_; }
    platform::LandscapeScreen* metersHost() const { return metersHost_; }
    const platform::IdleInhibitor& idleTimer() const { return idle_; }

    // The interface file's objects, by their names.
    Ui::Wobblestar ui;
    // The graph screen's toolbar, created at start-up; its first action is the pause item.
    QToolBar* toolbar = nullptr;

    // The latest sample in g, unmasked and unfiltered; 0.0 until the first sample.
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;

    // The running recording's timer, in the field of its period index 0..3; null when none runs.
    QTimer* myTimer1 = nullptr;
    QTimer* myTimer2 = nullptr;
    QTimer* myTimer3 = nullptr;
    QTimer* myTimer4 = nullptr;

    // The skin images of the portrait screens and of the landscape meters screen.
    QPixmap carbon, metal, ancient, black;
    QPixmap carbon90, metal90, ancient90, black90;

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
    void start();
    void stop();
    void timerFired();
    void emailrecord();
    void email();
    // Writes the log to a file the user chooses; false when nothing was written.
    bool saveLog();

private:
    void restoreSettings();
    void saveSettings();
    void buildToolbar();
    void layOutMetersScreen();
    void connectControls();
    void setUpKeyboard();
    void changeScreen(QWidget* outgoing, QWidget* incoming, platform::Transition kind,
                      Screen shown);
    void dress(QLabel* imageView);
    // Loads the skins at the resolution nearest to `deviceScale` and shows them again.
    void loadSkins(double deviceScale);
    // Dialogs open over the desktop window, not inside the scaled interface.
    QWidget* dialogParent() const;
    void setStatusBarOrientation(int orientation);
    // The widget that stands for a screen among the window's children.
    QWidget* rootOf(QWidget* screen) const;
    void leaveShownScreen();
    void pauseShownDisplay();
    void showSettingsMessage();
    // Tells the user why the graph is flat when every axis switch is off.
    void updateAxesHint();
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Ends a running recording as stop does, so that it is stored before the application goes.
    void finishRecording();
    void stopTimers();
    void startSampleFile(const QDateTime& started);
    void showSampleFile();
    // One message for the user: on standard error, and in a box unless headless. With
    // `offerSave`, the box offers to save the log to a file.
    void showMessage(const QString& title, const QString& text, bool offerSave = false);

    std::unique_ptr<QWidget> window_;
    std::unique_ptr<platform::FittedWindow> topLevel_;
    platform::StatusBar* statusBar_ = nullptr;
    platform::ScreenTransition* transition_ = nullptr;
    platform::LandscapeScreen* metersHost_ = nullptr;
    platform::IdleInhibitor idle_;
    QShortcut* spaceKey_ = nullptr;
    Screen shown_ = Screen::Graph;
    QString settingsMessage_;
    bool fixedOrientation_ = false;

    bool recording_ = false;
    bool headless_ = false;
    SampleFile sampleFile_ = SampleFile::Default;
    QString sampleFilePath_;
    std::unique_ptr<platform::SampleCsvWriter> sampleWriter_;
    platform::MailComposer mailComposer_;
    std::function<QString()> chooseLogFile_;
    QPointer<QMessageBox> messageBox_;
};
