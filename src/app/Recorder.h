#pragma once

#include "desktop/MailComposer.h"
#include "sensors/AccelerometerDriver.h"
#include "sensors/SampleCsvWriter.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>

class QTimer;
class QWidget;

namespace screens {
class StatusBar;
}

namespace Ui {
class Wobblestar;
}

namespace app {

// The recording screen's work: the log in its text view with a line per tick of the period's
// timer, the full-rate sample file beside it, storing the log when a recording stops, mailing
// and saving it, and the messages about any of these that fail.
//
// The timer of a running recording sits in the one of four slots that matches its period
// index 0..3, and is named after it (myTimer1 ... myTimer4); the others are null.
class Recorder : public QObject {
    Q_OBJECT
public:
    // Where the full-rate samples of a recording go.
    enum class SampleFile {
        Default, // a new file per recording under SampleCsvWriter::defaultDirectory()
        Named,   // the path given with it, replaced by each recording
        None,    // no full-rate file
    };

    // `tick` is called on each tick of the running recording's timer; it appends the latest
    // sample with appendSample().
    Recorder(Ui::Wobblestar& ui, QWidget* window, std::function<void()> tick,
             QObject* parent = nullptr);

    // Recording without a display: start and stop leave the stored period and log alone, and
    // messages go to standard error only.
    void setHeadless(bool headless) { headless_ = headless; }
    void setSampleFile(SampleFile kind, const QString& path = QString());
    // The rate of the full-rate file: nothing for the readings as delivered (40, 80 or
    // 120 Hz), 0 for the source's fastest, else that many Hz (the source's next rate up). A
    // source that cannot is said so when the recording starts, which then takes the readings
    // as delivered.
    void setRecordRate(std::optional<double> hz);
    std::optional<double> recordRate() const { return recordRate_; }
    // Shows the choice of the source's own rate on the recording screen where the source
    // offers a rate above the live ones, and hides it where not.
    void offerSourceRate();
    // Replaces the desktop's mail program (tests). Either way, an opener that reports a failure
    // after it started is told of like one that could not start.
    void setMailComposer(desktop::MailComposer composer);
    void setLogFileChooser(std::function<QString()> chooser) {
        chooseLogFile_ = std::move(chooser);
    }

    // Starts a recording, unless the source has fallen silent (a replay that has ended, a
    // sensor or phone lost): then nothing starts and the status bar and standard error say why.
    void start();
    void appendSample(float x, float y, float z);
    void stop();
    // Stops a running recording, so that it is stored before the application goes.
    void finish();
    // Takes note of a reading, and writes it as a full-rate sample while a recording runs.
    void record(const sensors::Acceleration& acceleration);

    void mailLog();
    void mailFeedback();
    // Writes the log to a file the user chooses; false when nothing was written.
    bool saveLog();

    bool isRecording() const { return recording_; }
    const sensors::SampleCsvWriter* sampleWriter() const { return sampleWriter_.get(); }
    QMessageBox* messageBox() const { return messageBox_; }

    // One message for the user: on standard error, and in a box unless headless. With
    // `offerSave`, the box offers to save the log to a file.
    void showMessage(const QString& title, const QString& text, bool offerSave = false);
    // The same for a link nothing could open: the link shown whole, and a Copy button.
    void showLink(const QString& title, const QString& text, const QUrl& url);

    // Where dialogs open: the desktop window, not the interface scaled inside it.
    void setDialogParent(QWidget* parent) { window_ = parent; }
    // Where a silent source and a refused start are told of; may stay unset.
    void setStatusBar(screens::StatusBar* statusBar) { statusBar_ = statusBar; }

    // A source that gave readings and then none for this long is taken as silent.
    static constexpr int kSilenceMs = 1000;

protected:
    // The samples file's label offers to show its folder or copy its path.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Whether readings stopped coming (or a lost source gave none since it was lost).
    bool sourceIsSilent() const;
    // On standard error, and in the status bar while it lasts (a lost source) or for a while.
    void tell(const QString& message, bool lasting);
    void stopTimers();
    void watchLateMailFailures();
    void startSampleFile(const QDateTime& started);
    void startCapture();
    void stopCapture();
    void showSampleFile();

    Ui::Wobblestar& ui_;
    // Where dialogs open; the desktop window may go before the recorder.
    QPointer<QWidget> window_;
    std::function<void()> tick_;
    QTimer* myTimer1 = nullptr;
    QTimer* myTimer2 = nullptr;
    QTimer* myTimer3 = nullptr;
    QTimer* myTimer4 = nullptr;
    bool recording_ = false;
    bool headless_ = false;
    SampleFile sampleFile_ = SampleFile::Default;
    QString sampleFilePath_;
    std::unique_ptr<sensors::SampleCsvWriter> sampleWriter_;
    desktop::MailComposer mailComposer_;
    std::function<QString()> chooseLogFile_;
    QPointer<QMessageBox> messageBox_;
    screens::StatusBar* statusBar_ = nullptr;
    QElapsedTimer sinceReading_;
    QDateTime lastReadingAt_;
    bool sourceLost_ = false;
    bool silenceShown_ = false;
    qint64 rowsWritten_ = 0;
    std::optional<double> recordRate_;
    // The rate asked for before the screen's choice was turned off: what turning it on gives.
    double chosenRate_ = 0.0;
    QPointer<sensors::AccelerometerDriver> captureDriver_;
};

} // namespace app
