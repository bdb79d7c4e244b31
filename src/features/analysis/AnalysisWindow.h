#pragma once

#include "features/analysis/LiveFeed.h"
#include "features/analysis/PlotDrawing.h"
#include "features/analysis/RecordingLoader.h"
#include "features/analysis/RecordingSeries.h"
#include "features/analysis/SpanStatistics.h"

#include <QDateTime>
#include <QHash>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QSplitter;
class QTableWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace features::analysis {

class PlotWidget;
class SpectrumWidget;
class SpectraPanel;

// The recordings window: the full-rate recordings of the data folder (and any file opened or
// dropped here) on the left; the chosen one whole on the right, with its numbers for the
// shown span, the spectrum of one axis, exports and a way back into the live window.
//
//   AnalysisWindow window(SampleCsvWriter::defaultDirectory());
//   connect(&window, &AnalysisWindow::replayRequested, ...);
//   window.show();
class AnalysisWindow : public QWidget {
    Q_OBJECT
public:
    explicit AnalysisWindow(QString folder, QWidget* parent = nullptr);
    ~AnalysisWindow() override;

    // Reads the folder again and lists its recordings, newest first; their summaries fill in
    // one file at a time, read on a worker thread.
    void refresh();
    // Adds a recording to the list and starts loading it on a worker thread; it is shown once
    // read (loader().loaded). False (with the reason shown) when it is not a readable file.
    bool open(const QString& path);

    // The recording shown; empty while none is, or while the chosen one loads.
    const RecordingSeries& recording() const;
    RecordingLoader& loader() { return loader_; }
    PlotWidget* plot() const { return plot_; }
    SpectraPanel* spectra() const { return spectra_; }
    // The numbers shown in the table, for the shown span.
    const SpanStatistics& statistics() const { return statistics_; }
    // The last message shown to the user (a file that could not be read or written).
    QString message() const { return message_; }

    // Draws the shown span anew as a picture for a report (PNG, JPEG, SVG or PDF by the
    // file's extension; PNG when it has none, which is then added) in the chosen theme, or
    // writes the shown span as a CSV that replay reads. False with message() set when the file
    // cannot be written.
    bool exportPicture(const QString& path);
    bool exportCsv(const QString& path);
    void setPictureTheme(PlotTheme theme);

    // The running source's readings, for the "Live" entry at the top of the list, which shows
    // the last 10 s, 1 min or 10 min of them, following until paused. The window keeps a feed
    // of its own, or reads one kept from the program's start (setLiveFeed), which must outlive
    // the window, so that a window opened late shows what came before.
    void setLiveFeed(LiveFeed* feed);
    void appendLive(const sensors::Acceleration& reading) { live_->append(reading); }
    const LiveFeed& liveFeed() const { return *live_; }
    bool isLive() const { return liveMode_; }
    void setLiveSpan(double seconds);
    void setLivePaused(bool paused);

    // Values in g or m/s², everywhere in the window.
    void setUnits(Units units);
    Units units() const { return units_; }

    // Markers of the shown recording, kept beside it in a small file.
    void addMarker(double seconds, const QString& note);
    void removeMarker(int index);
    // Centres the span on a marker.
    void jumpToMarker(int index);
    const std::vector<Marker>& markers() const;
    // Cursor A and B's times and the changes between them, as the window shows them.
    QString cursorReadout() const;

    // The list's file actions. False with message() set when the file system refuses.
    bool renameRecording(const QString& path, const QString& newName);
    bool trashRecording(const QString& path);

    // Replaces the file dialogs: given a caption and a filter, returns a path or "" (tests).
    using FileChooser = std::function<QString(const QString& caption, const QString& filter)>;
    void setFileChoosers(FileChooser open, FileChooser save);
    // Replaces the text prompts (a marker's note, a new name): given a caption and the text to
    // start from, returns the text, or a null string when cancelled (tests).
    using TextAsker = std::function<QString(const QString& caption, const QString& initial)>;
    void setTextAsker(TextAsker ask);

signals:
    // "Replay from here": play `path` in the main window from `fromSeconds`.
    void replayRequested(const QString& path, double fromSeconds);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // The live view (AnalysisLive.cpp).
    QWidget* buildLiveControls();
    void addLiveItem();
    void showLive();
    void leaveLive();
    void liveTick();
    // Copies the followed span's readings for the numbers, the readout and the exports.
    void copyLiveSpan();

    // The view's choices and tools (AnalysisTools.cpp).
    QWidget* buildViewRow();
    void connectTools();
    QWidget* buildMarkerList();
    QWidget* buildFileSide(int* rowWidth);
    QWidget* buildPlotSide();
    void setUpFileDialogs();
    void showPlotMenu(const QPoint& at);
    void showListMenu(const QPoint& at);
    void updateCursorReadout();
    void askForMarker(double seconds);
    void showMarkers();
    void loadMarkersOfRecording();
    void storeMarkers();
    QString chosenPath() const;
    void copyCursorValues();
    void restoreLayout();
    void saveLayout();

    QWidget* buildToolRow();
    QWidget* buildNumbers();
    QTreeWidgetItem* itemFor(const QString& path);
    void showSummary(const QString& path, const RecordingSummary& summary, const QString& error);
    void markUnreadable(const QString& path, const QString& error);
    void showChosen();
    // Chooses the list's `row` on the user's behalf.
    void chooseForUser(int row);
    void showLoaded(const QString& path, std::shared_ptr<RecordingSeries> recording,
                    const QString& error);
    void updateNumbers();
    void showNumbers(const SpanStatistics& statistics, const Spectrum& spectrum, Series series);
    void showMessage(const QString& text);
    void chooseAndOpen();
    void chooseAndExportPicture();
    void chooseAndExportCsv();
    void replayFromCursor();

    QString folder_;
    std::shared_ptr<RecordingSeries> recording_;
    // The series the spectra panel reads, which may be an earlier state of a live view.
    std::shared_ptr<const RecordingSeries> spectraRecording_;
    SpanStatistics statistics_;
    QString message_;
    // A file the user named (added, dropped): only its failure is worth a message box. The
    // folder's own files say theirs in their rows.
    QString openedByUser_;
    // The file chosen for the user on opening, the newest; an unreadable one passes the choice
    // on to the next.
    QString chosenForUser_;
    // Summaries already read, by path, with the file's size and time when read.
    struct KnownSummary {
        qint64 size = 0;
        QDateTime modified;
        RecordingSummary summary;
    };
    QHash<QString, KnownSummary> summaries_;
    QTimer numbersTimer_;
    RecordingLoader loader_;
    FileChooser chooseOpen_, chooseSave_;
    TextAsker askText_;
    Units units_ = Units::G;
    LiveFeed ownFeed_;
    LiveFeed* live_ = &ownFeed_;
    QTimer liveTimer_;
    bool liveMode_ = false;
    bool livePaused_ = false;
    double liveSpan_ = 60.0;
    int liveTicks_ = 0;
    QWidget* liveControls_ = nullptr;
    PlotTheme pictureTheme_ = PlotTheme::Light;

    QTreeWidget* list_ = nullptr;
    PlotWidget* plot_ = nullptr;
    SpectrumWidget* spectrum_ = nullptr;
    SpectraPanel* spectra_ = nullptr;
    QTableWidget* numbers_ = nullptr;
    QComboBox* spectrumSeries_ = nullptr;
    QLabel* info_ = nullptr;
    QLabel* cursorInfo_ = nullptr;
    QListWidget* markerList_ = nullptr;
    QSplitter* splitter_ = nullptr;
    QCheckBox* shown_[kSeriesCount] = {};
    QPushButton* replay_ = nullptr;
    QPushButton* exportPicture_ = nullptr;
    QPushButton* exportCsv_ = nullptr;
};

} // namespace features::analysis
