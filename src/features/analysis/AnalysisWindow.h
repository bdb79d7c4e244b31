#pragma once

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
class QPushButton;
class QTableWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace analysis {

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

    // Writes the plot as PNG or SVG (by the file's extension), or the shown span as a CSV
    // that replay reads. False with message() set when the file cannot be written.
    bool exportPicture(const QString& path);
    bool exportCsv(const QString& path);

    // Replaces the file dialogs: given a caption and a filter, returns a path or "" (tests).
    using FileChooser = std::function<QString(const QString& caption, const QString& filter)>;
    void setFileChoosers(FileChooser open, FileChooser save);

signals:
    // "Replay from here": play `path` in the main window from `fromSeconds`.
    void replayRequested(const QString& path, double fromSeconds);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QWidget* buildToolRow();
    QWidget* buildNumbers();
    QTreeWidgetItem* itemFor(const QString& path);
    void showSummary(const QString& path, const RecordingSummary& summary, const QString& error);
    void showChosen();
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
    std::shared_ptr<const RecordingSeries> recording_;
    SpanStatistics statistics_;
    QString message_;
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

    QTreeWidget* list_ = nullptr;
    PlotWidget* plot_ = nullptr;
    SpectrumWidget* spectrum_ = nullptr;
    SpectraPanel* spectra_ = nullptr;
    QTableWidget* numbers_ = nullptr;
    QComboBox* spectrumSeries_ = nullptr;
    QLabel* info_ = nullptr;
    QCheckBox* shown_[kSeriesCount] = {};
    QPushButton* replay_ = nullptr;
    QPushButton* exportPicture_ = nullptr;
    QPushButton* exportCsv_ = nullptr;
};

} // namespace analysis
