#include "features/analysis/AnalysisWindow.h"

#include "features/analysis/MarkerFile.h"
#include "features/analysis/PlotDrawing.h"
#include "features/analysis/PlotExport.h"
#include "features/analysis/PlotWidget.h"
#include "features/analysis/SpectraPanel.h"
#include "sensors/RecordingReader.h"
#include "sensors/SampleCsvWriter.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTabWidget>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cstdio>

namespace features::analysis {

namespace {

// Dark like the main window, so that the white |a| and its check box read well.
QPalette recordingsPalette(QPalette dark) {
    dark.setColor(QPalette::Window, QColor(0x1c, 0x1d, 0x20));
    dark.setColor(QPalette::WindowText, QColor(0xe6, 0xe6, 0xe6));
    dark.setColor(QPalette::Base, QColor(0x11, 0x12, 0x14));
    dark.setColor(QPalette::AlternateBase, QColor(0x1c, 0x1d, 0x20));
    dark.setColor(QPalette::Text, QColor(0xe6, 0xe6, 0xe6));
    dark.setColor(QPalette::Button, QColor(0x2c, 0x2d, 0x31));
    dark.setColor(QPalette::ButtonText, QColor(0xe6, 0xe6, 0xe6));
    dark.setColor(QPalette::Highlight, QColor(0x2d, 0x6b, 0xe0));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    dark.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x70, 0x70, 0x70));
    dark.setColor(QPalette::Disabled, QPalette::Text, QColor(0x70, 0x70, 0x70));
    return dark;
}

enum ListColumn { kTitle, kDuration, kRate, kPeak };
constexpr int kPathRole = Qt::UserRole;

// Full-rate files are named after their start, YYYY-MM-DD_HH-MM-SS.csv, and listed by it;
// other files by their name.
QString titleOf(const QFileInfo& file) {
    const QDateTime named = QDateTime::fromString(file.completeBaseName().left(19),
                                                  QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
    return named.isValid() ? named.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                           : file.fileName();
}

QString seconds(double value) {
    if (value >= 60.0)
        return QStringLiteral("%1:%2 min")
            .arg(int(value / 60.0))
            .arg(int(value) % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1 s").arg(value, 0, 'f', 1);
}

QString hertz(const std::optional<double>& hz) {
    return hz ? QStringLiteral("%1 Hz").arg(*hz, 0, 'f', *hz < 1.0 ? 3 : 2) : QStringLiteral("–");
}

} // namespace

AnalysisWindow::AnalysisWindow(QString folder, QWidget* parent)
    : QWidget(parent, Qt::Window), folder_(std::move(folder)) {
    setWindowTitle(QStringLiteral("Recordings"));
    setObjectName(QStringLiteral("analysisWindow"));
    setAcceptDrops(true);
    resize(1200, 760);
    setPalette(recordingsPalette(palette()));

    int rowWidth = 0;
    QWidget* left = buildFileSide(&rowWidth);
    QWidget* right = buildPlotSide();
    splitter_ = new QSplitter;
    splitter_->setObjectName(QStringLiteral("recordingsSplitter"));
    splitter_->addWidget(left);
    splitter_->addWidget(right);
    splitter_->setStretchFactor(1, 1);
    splitter_->setSizes({rowWidth, 1200 - rowWidth});
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(splitter_);

    // Statistics and the spectrum are worked out once a zoom or pan comes to rest.
    numbersTimer_.setSingleShot(true);
    numbersTimer_.setInterval(120);
    connect(&numbersTimer_, &QTimer::timeout, this, &AnalysisWindow::updateNumbers);
    connect(plot_, &PlotWidget::spanChanged, this, [this] { numbersTimer_.start(); });
    connect(&loader_, &RecordingLoader::summarized, this, &AnalysisWindow::showSummary);
    connect(&loader_, &RecordingLoader::loaded, this, &AnalysisWindow::showLoaded);
    connect(&loader_, &RecordingLoader::numbersComputed, this, &AnalysisWindow::showNumbers);
    setUpFileDialogs();
    connectTools();
    restoreLayout();
    refresh();
}

// The list of recordings, the button that adds one from elsewhere, and the markers; `rowWidth`
// is what the list needs to show a whole row.
QWidget* AnalysisWindow::buildFileSide(int* rowWidth) {
    list_ = new QTreeWidget;
    list_->setObjectName(QStringLiteral("recordingList"));
    list_->setHeaderLabels({QStringLiteral("Recording"), QStringLiteral("Duration"),
                            QStringLiteral("Rate"), QStringLiteral("Peak |a|")});
    list_->setRootIsDecorated(false);
    list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    // Wide enough for a whole row (a start time, minutes, a rate, a peak) at any font size, so
    // that no column is cut short.
    for (const char* widest : {"2026-12-31 23:59:59", "59:59 min", "120.00 Hz", "Peak |a|"})
        *rowWidth += list_->fontMetrics().horizontalAdvance(QLatin1String(widest)) + 24;
    *rowWidth += list_->verticalScrollBar()->sizeHint().width() + 4;
    connect(list_, &QTreeWidget::itemSelectionChanged, this, &AnalysisWindow::showChosen);
    auto* openButton = new QPushButton(QStringLiteral("Add file…"));
    openButton->setToolTip(
        QStringLiteral("Show a recording from any folder, in any format replay reads"));
    connect(openButton, &QPushButton::clicked, this, &AnalysisWindow::chooseAndOpen);
    auto* left = new QWidget;
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    leftLayout->addWidget(list_, 3);
    leftLayout->addWidget(openButton);
    leftLayout->addWidget(buildMarkerList(), 1);
    return left;
}

// The tools, the time and spectra views, the cursor and file lines, and the span's numbers.
QWidget* AnalysisWindow::buildPlotSide() {
    plot_ = new PlotWidget;
    plot_->setObjectName(QStringLiteral("analysisPlot"));
    info_ = new QLabel(QStringLiteral("Choose a recording, or drop one here."));
    info_->setObjectName(QStringLiteral("analysisInfo"));
    info_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // The line under the plot may carry a notice; it wraps rather than widen the window.
    info_->setWordWrap(true);
    auto* right = new QWidget;
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->addWidget(buildToolRow());
    rightLayout->addWidget(buildViewRow());
    rightLayout->addWidget(buildLiveControls());
    spectra_ = new SpectraPanel;
    auto* views = new QTabWidget;
    views->setObjectName(QStringLiteral("analysisViews"));
    views->addTab(plot_, QStringLiteral("Time"));
    views->addTab(spectra_, QStringLiteral("Spectra"));
    rightLayout->addWidget(views, 3);
    rightLayout->addWidget(cursorInfo_);
    rightLayout->addWidget(info_);
    rightLayout->addWidget(buildNumbers(), 1);
    return right;
}

void AnalysisWindow::setUpFileDialogs() {
    const auto dialog = [this](bool save) {
        return [this, save](const QString& caption, const QString& filter) {
            if (!save)
                return QFileDialog::getOpenFileName(this, caption, folder_, filter);
            QString chosenFilter;
            QString path =
                QFileDialog::getSaveFileName(this, caption, folder_, filter, &chosenFilter);
            // A name typed without an extension takes the chosen type's.
            const int star = chosenFilter.indexOf(QLatin1String("*."));
            if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty() && star >= 0)
                path += chosenFilter.mid(star + 1)
                            .section(QLatin1Char(' '), 0, 0)
                            .remove(QLatin1Char(')'));
            return path;
        };
    };
    chooseOpen_ = dialog(false);
    chooseSave_ = dialog(true);
}

AnalysisWindow::~AnalysisWindow() {
    // The plot and the spectra keep a pointer to the recording, which goes first.
    plot_->setRecording(nullptr);
    spectra_->setSpan(nullptr, 0.0, 0.0);
}

QWidget* AnalysisWindow::buildToolRow() {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    static const char* const colours[] = {"#ff4040", "#40ff40", "#6060ff", "#ffffff"};
    for (int s = 0; s < kSeriesCount; ++s) {
        auto* box = new QCheckBox(seriesName(Series(s)));
        box->setChecked(true);
        box->setStyleSheet(QStringLiteral("QCheckBox { color: %1; font-weight: 600; }")
                               .arg(QLatin1String(colours[s])));
        connect(box, &QCheckBox::toggled, this,
                [this, s](bool on) { plot_->setShown(Series(s), on); });
        shown_[s] = box;
        layout->addWidget(box);
    }
    layout->addStretch();
    auto* all = new QPushButton(QStringLiteral("Show all"));
    all->setToolTip(QStringLiteral("The whole recording (or double-click the plot)"));
    connect(all, &QPushButton::clicked, plot_, [this] { plot_->showAll(); });
    replay_ = new QPushButton(QStringLiteral("Replay from here"));
    replay_->setToolTip(QStringLiteral("Play the recording in the main window from the cursor"));
    connect(replay_, &QPushButton::clicked, this, &AnalysisWindow::replayFromCursor);
    exportPicture_ = new QPushButton(QStringLiteral("Save picture…"));
    exportPicture_->setToolTip(
        QStringLiteral("The shown span drawn for a report: PNG, PDF, SVG or JPEG"));
    connect(exportPicture_, &QPushButton::clicked, this, &AnalysisWindow::chooseAndExportPicture);
    exportCsv_ = new QPushButton(QStringLiteral("Save span…"));
    exportCsv_->setToolTip(QStringLiteral("The shown span as a CSV file that replay reads"));
    connect(exportCsv_, &QPushButton::clicked, this, &AnalysisWindow::chooseAndExportCsv);
    for (QPushButton* button : {all, replay_, exportPicture_, exportCsv_})
        layout->addWidget(button);
    for (QPushButton* button : {replay_, exportPicture_, exportCsv_})
        button->setEnabled(false);
    return row;
}

QWidget* AnalysisWindow::buildNumbers() {
    numbers_ = new QTableWidget(kSeriesCount, 7);
    numbers_->setObjectName(QStringLiteral("analysisNumbers"));
    numbers_->setHorizontalHeaderLabels({QStringLiteral("min g"), QStringLiteral("max g"),
                                         QStringLiteral("mean g"), QStringLiteral("RMS g"),
                                         QStringLiteral("peak g"), QStringLiteral("peak at"),
                                         QStringLiteral("dominant")});
    QStringList names;
    for (int s = 0; s < kSeriesCount; ++s)
        names << seriesName(Series(s));
    numbers_->setVerticalHeaderLabels(names);
    numbers_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    numbers_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    numbers_->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    numbers_->setMinimumWidth(560);

    spectrum_ = new SpectrumWidget;
    spectrumSeries_ = new QComboBox;
    spectrumSeries_->addItems(names);
    spectrumSeries_->setToolTip(QStringLiteral("The axis whose spectrum is shown"));
    connect(spectrumSeries_, &QComboBox::currentIndexChanged, this, &AnalysisWindow::updateNumbers);
    auto* spectrumBox = new QWidget;
    auto* spectrumLayout = new QVBoxLayout(spectrumBox);
    spectrumLayout->setContentsMargins(0, 0, 0, 0);
    spectrumLayout->addWidget(spectrumSeries_);
    spectrumLayout->addWidget(spectrum_, 1);

    auto* box = new QWidget;
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(numbers_, 3);
    layout->addWidget(spectrumBox, 2);
    return box;
}

void AnalysisWindow::refresh() {
    // The chosen recording may lie outside the folder, or still be loading.
    const QString chosen = !loader_.loading().isEmpty() ? loader_.loading() : recording().path();
    list_->clear();
    addLiveItem();
    // Files the user may not read are listed too, their rows saying why.
    const QFileInfoList files = QDir(folder_).entryInfoList({QStringLiteral("*.csv")}, QDir::Files,
                                                            QDir::Name | QDir::Reversed);
    QStringList toSummarize;
    for (const QFileInfo& file : files) {
        const QString path = file.absoluteFilePath();
        itemFor(path);
        const auto known = summaries_.constFind(path);
        if (known != summaries_.constEnd() && known->size == file.size() &&
            known->modified == file.lastModified())
            showSummary(path, known->summary, {});
        else
            toSummarize << path;
    }
    loader_.summarize(toSummarize);
    // Keep the chosen recording chosen (the live view, or a file that may lie outside the
    // folder); with none, show the newest, below the live entry.
    if (liveMode_)
        list_->setCurrentItem(list_->topLevelItem(0));
    else if (!chosen.isEmpty())
        list_->setCurrentItem(itemFor(chosen));
    else if (list_->topLevelItemCount() > 1)
        chooseForUser(1);
    else
        // No recording yet: the live view is all there is to show.
        list_->setCurrentItem(list_->topLevelItem(0));
}

void AnalysisWindow::chooseForUser(int row) {
    QTreeWidgetItem* item = list_->topLevelItem(row);
    chosenForUser_ = item->data(kTitle, kPathRole).toString();
    list_->setCurrentItem(item);
}

QTreeWidgetItem* AnalysisWindow::itemFor(const QString& path) {
    for (int i = 0; i < list_->topLevelItemCount(); ++i) {
        if (list_->topLevelItem(i)->data(kTitle, kPathRole).toString() == path)
            return list_->topLevelItem(i);
    }
    auto* item = new QTreeWidgetItem(list_);
    item->setText(kTitle, titleOf(QFileInfo(path)));
    item->setData(kTitle, kPathRole, path);
    item->setToolTip(kTitle, path);
    return item;
}

QString AnalysisWindow::chosenPath() const {
    const QTreeWidgetItem* item = list_->currentItem();
    return item ? item->data(kTitle, kPathRole).toString() : QString();
}

bool AnalysisWindow::renameRecording(const QString& path, const QString& newName) {
    QString name = newName.trimmed();
    const QFileInfo old(path);
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name == u"." || name == u"..") {
        showMessage(QStringLiteral("Cannot rename \"%1\": \"%2\" is not a file name")
                        .arg(old.fileName(), newName));
        return false;
    }
    // The type stays: a recording renamed without its extension keeps it.
    if (QFileInfo(name).suffix().isEmpty() && !old.suffix().isEmpty())
        name += QLatin1Char('.') + old.suffix();
    const QString renamed = old.dir().filePath(name);
    if (renamed == path)
        return true;
    if (QFileInfo::exists(renamed)) {
        showMessage(QStringLiteral("Cannot rename \"%1\": \"%2\" already exists")
                        .arg(old.fileName(), name));
        return false;
    }
    QFile file(path);
    if (!file.rename(renamed)) {
        showMessage(QStringLiteral("Cannot rename \"%1\": %2").arg(path, file.errorString()));
        return false;
    }
    // The markers go with their recording.
    if (QFile::exists(markerFilePath(path)))
        QFile::rename(markerFilePath(path), markerFilePath(renamed));
    QTreeWidgetItem* item = itemFor(path);
    item->setText(kTitle, titleOf(QFileInfo(renamed)));
    item->setData(kTitle, kPathRole, renamed);
    item->setToolTip(kTitle, renamed);
    if (const auto known = summaries_.constFind(path); known != summaries_.constEnd()) {
        summaries_.insert(renamed, *known);
        summaries_.remove(path);
    }
    if (recording_ && recording_->path() == path) {
        recording_->setPath(renamed);
        setWindowTitle(QStringLiteral("Recordings – %1").arg(name));
        updateNumbers();
    }
    return true;
}

bool AnalysisWindow::trashRecording(const QString& path) {
    QFile file(path);
    if (!file.moveToTrash()) {
        showMessage(
            QStringLiteral("Cannot move \"%1\" to the trash: %2").arg(path, file.errorString()));
        return false;
    }
    if (QFile::exists(markerFilePath(path)))
        QFile::moveToTrash(markerFilePath(path));
    summaries_.remove(path);
    if (recording_ && recording_->path() == path) {
        plot_->setRecording(nullptr);
        spectra_->setSpan(nullptr, 0.0, 0.0);
        recording_.reset();
        showMarkers();
        updateNumbers();
    }
    delete itemFor(path);
    return true;
}

void AnalysisWindow::showSummary(const QString& path, const RecordingSummary& summary,
                                 const QString& error) {
    // A summary read before its file went to the trash.
    if (!QFileInfo::exists(path))
        return;
    if (!error.isEmpty()) {
        markUnreadable(path, error);
        return;
    }
    QTreeWidgetItem* item = itemFor(path);
    const QFileInfo file(path);
    summaries_[path] = KnownSummary{file.size(), file.lastModified(), summary};
    item->setText(kDuration, seconds(summary.duration));
    item->setText(kRate, QStringLiteral("%1 /s").arg(summary.rateHz, 0, 'f', 0));
    item->setText(kPeak, QStringLiteral("%1 g").arg(double(summary.peak), 0, 'f', 2));
}

void AnalysisWindow::markUnreadable(const QString& path, const QString& error) {
    QTreeWidgetItem* item = itemFor(path);
    item->setText(kDuration, QStringLiteral("unreadable"));
    item->setText(kRate, QString());
    item->setText(kPeak, QString());
    for (int column = kTitle; column <= kPeak; ++column)
        item->setToolTip(column, error);
    item->setForeground(kDuration, QColor(0xff, 0xb0, 0x60));
}

const RecordingSeries& AnalysisWindow::recording() const {
    static const RecordingSeries none;
    return recording_ ? *recording_ : none;
}

bool AnalysisWindow::open(const QString& path) {
    const QFileInfo file(path);
    const QString absolute = file.absoluteFilePath();
    if (!file.isFile() || !file.isReadable()) {
        showMessage(QStringLiteral("Cannot replay \"%1\": %2")
                        .arg(path, file.exists() ? QStringLiteral("not a readable file")
                                                 : QStringLiteral("no such file")));
        return false;
    }
    openedByUser_ = absolute;
    list_->setCurrentItem(itemFor(absolute));
    return true;
}

void AnalysisWindow::showChosen() {
    const QTreeWidgetItem* item = list_->currentItem();
    if (!item)
        return;
    const QString path = item->data(kTitle, kPathRole).toString();
    if (path.isEmpty()) {
        showLive();
        return;
    }
    leaveLive();
    if (path == loader_.loading() || (loader_.loading().isEmpty() && path == recording().path()))
        return;
    // The shown recording goes before the next is read, so that two are never held at once.
    plot_->setRecording(nullptr);
    spectra_->setSpan(nullptr, 0.0, 0.0);
    recording_.reset();
    for (QPushButton* button : {replay_, exportPicture_, exportCsv_})
        button->setEnabled(false);
    info_->setText(QStringLiteral("Reading %1 (%2 MB)…")
                       .arg(QFileInfo(path).fileName())
                       .arg(double(QFileInfo(path).size()) / 1e6, 0, 'f', 1));
    loader_.load(path);
}

void AnalysisWindow::showLoaded(const QString& path, std::shared_ptr<RecordingSeries> recording,
                                const QString& error) {
    for (QPushButton* button : {replay_, exportPicture_, exportCsv_})
        button->setEnabled(recording != nullptr);
    if (!recording) {
        markUnreadable(path, error);
        info_->setText(error);
        updateNumbers();
        if (path == openedByUser_) {
            showMessage(error);
        } else if (path == chosenForUser_) {
            const int row = list_->indexOfTopLevelItem(itemFor(path));
            if (row + 1 < list_->topLevelItemCount())
                chooseForUser(row + 1);
        }
        return;
    }
    const RecordingSummary summary{recording->fileRows(), recording->duration(),
                                   recording->meanRate(),
                                   recording->extremes(0, recording->size()).series[3].max};
    showSummary(path, summary, {});
    if (!recording->notice().isEmpty())
        itemFor(path)->setToolTip(kTitle, path + QLatin1Char('\n') + recording->notice());
    recording_ = std::move(recording);
    setWindowTitle(QStringLiteral("Recordings – %1").arg(QFileInfo(path).fileName()));
    plot_->setRecording(recording_.get());
    loadMarkersOfRecording();
    // The whole span's numbers at once, not again when the span's change comes to rest.
    numbersTimer_.stop();
    updateNumbers();
}

void AnalysisWindow::updateNumbers() {
    const Series series = Series(std::max(0, spectrumSeries_->currentIndex()));
    if (recording_)
        loader_.computeNumbers(recording_, plot_->view().from, plot_->view().to, series);
    else
        showNumbers({}, {}, series);
}

void AnalysisWindow::showNumbers(const SpanStatistics& statistics, const Spectrum& spectrum,
                                 Series series) {
    const PlotView& view = plot_->view();
    statistics_ = statistics;
    const double k = unitScale(units_);
    const QString unit = unitName(units_);
    numbers_->setHorizontalHeaderLabels(
        {QStringLiteral("min %1").arg(unit), QStringLiteral("max %1").arg(unit),
         QStringLiteral("mean %1").arg(unit), QStringLiteral("RMS %1").arg(unit),
         QStringLiteral("peak %1").arg(unit), QStringLiteral("peak at"),
         QStringLiteral("dominant")});
    for (int s = 0; s < kSeriesCount; ++s) {
        const SeriesStatistics& n = statistics_.series[std::size_t(s)];
        const bool any = statistics_.samples > 0;
        const QString cells[] = {
            any ? QString::number(n.min * k, 'f', 3) : QString(),
            any ? QString::number(n.max * k, 'f', 3) : QString(),
            any ? QString::number(n.mean * k, 'f', 3) : QString(),
            any ? QString::number(n.rms * k, 'f', 3) : QString(),
            any ? QString::number(n.peak * k, 'f', 3) : QString(),
            any ? QStringLiteral("%1 s").arg(n.peakTime, 0, 'f', 3) : QString(),
            any ? hertz(n.dominantHz) : QString(),
        };
        for (int c = 0; c < 7; ++c) {
            auto* cell = new QTableWidgetItem(cells[c]);
            cell->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            numbers_->setItem(s, c, cell);
        }
    }
    const RecordingSeries& shown = recording();
    if (!shown.isEmpty()) {
        QString text =
            QStringLiteral("%1 — %2 samples over %3 s at %4 per second. Shown: %5 s to "
                           "%6 s, %7 samples.")
                .arg(liveMode_ ? QStringLiteral("Live") : QFileInfo(shown.path()).fileName())
                .arg(shown.fileRows())
                .arg(shown.duration(), 0, 'f', 3)
                .arg(shown.meanRate(), 0, 'f', 1)
                .arg(view.from, 0, 'f', 3)
                .arg(view.to, 0, 'f', 3)
                .arg(statistics_.samples);
        if (!liveMode_ && !shown.notice().isEmpty())
            text += QStringLiteral("\n") + shown.notice() + QLatin1Char('.');
        if (shown.isCoarse())
            text += QStringLiteral(
                        "\nToo large to hold whole: shown at a coarser level, the minimum and "
                        "maximum of every %1 samples. Every peak is kept; the numbers and the "
                        "spectrum are of these extremes.")
                        .arg(shown.blockRows());
        info_->setText(text);
    }
    // The spectra are worked out on a worker from this very series, so it is kept alive here
    // while the live view moves on to the next; the one held before goes once its work is
    // cancelled.
    std::shared_ptr<const RecordingSeries> keep = shown.isEmpty() ? nullptr : recording_;
    spectra_->setSpan(keep.get(), view.from, view.to);
    spectraRecording_ = std::move(keep);
    spectrum_->setSpectrum(statistics_.samples > 0 ? spectrum : Spectrum{}, series);
}

void AnalysisWindow::showMessage(const QString& text) {
    message_ = text;
    std::fprintf(stderr, "wobblestar: %s\n", qPrintable(text));
    if (!QApplication::platformName().startsWith(QLatin1String("offscreen")))
        QMessageBox::warning(this, QStringLiteral("Recordings"), text);
}

bool AnalysisWindow::exportPicture(const QString& typed) {
    if (liveMode_ && plot_->isFollowing())
        copyLiveSpan();
    const QString path = withPictureExtension(typed, PictureFormat::Png);
    const std::optional<PictureFormat> format = pictureFormatOf(path);
    // A page for a report is A4; a picture is drawn at a size that reads well on a page or a
    // slide, whatever the window's size.
    const QSize size = format == PictureFormat::Pdf ? a4LandscapeSize() : QSize(1600, 900);
    QString error;
    const QString title = liveMode_ ? QStringLiteral("Live") : QString();
    if (!writeFigure(path, size, recordingFigure(recording(), plot_->view(), pictureTheme_, title),
                     &error)) {
        showMessage(error);
        return false;
    }
    return true;
}

bool AnalysisWindow::exportCsv(const QString& path) {
    if (liveMode_ && plot_->isFollowing())
        copyLiveSpan();
    sensors::SampleCsvWriter writer(path, sensors::SampleCsvWriter::Existing::Replace);
    bool written = writer.open();
    const RecordingSeries& recording = this->recording();
    const std::size_t first = recording.rowAtOrAfter(plot_->view().from);
    const std::size_t last = recording.rowAfter(plot_->view().to);
    // Times count from the span's first row, as in any recording Wobblestar writes.
    const double origin = first < last ? double(recording.time(first)) : 0.0;
    for (std::size_t row = first; written && row < last; ++row)
        writer.append(double(recording.time(row)) - origin, recording.value(Series::X, row),
                      recording.value(Series::Y, row), recording.value(Series::Z, row));
    written = written && writer.close();
    if (!written) {
        showMessage(QStringLiteral("Cannot write \"%1\": %2").arg(path, writer.errorString()));
        return false;
    }
    return true;
}

void AnalysisWindow::setFileChoosers(FileChooser open, FileChooser save) {
    chooseOpen_ = std::move(open);
    chooseSave_ = std::move(save);
}

void AnalysisWindow::chooseAndOpen() {
    const QString path = chooseOpen_(QStringLiteral("Add file"), sensors::recordingFileFilter());
    if (!path.isEmpty())
        open(path);
}

void AnalysisWindow::chooseAndExportPicture() {
    const QString path = chooseSave_(
        QStringLiteral("Save the plot"),
        QStringLiteral("PNG picture (*.png);;PDF document (*.pdf);;SVG drawing (*.svg);;JPEG "
                       "picture (*.jpg *.jpeg)"));
    if (!path.isEmpty())
        exportPicture(path);
}

void AnalysisWindow::chooseAndExportCsv() {
    const QString path =
        chooseSave_(QStringLiteral("Save the shown span"), QStringLiteral("CSV (*.csv)"));
    if (!path.isEmpty())
        exportCsv(path);
}

void AnalysisWindow::replayFromCursor() {
    if (recording().isEmpty() || liveMode_)
        return;
    emit replayRequested(recording().path(), plot_->view().cursor.value_or(plot_->view().from));
}

void AnalysisWindow::dragEnterEvent(QDragEnterEvent* event) {
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) {
            event->acceptProposedAction();
            return;
        }
    }
}

void AnalysisWindow::dropEvent(QDropEvent* event) {
    QString last;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile())
            last = url.toLocalFile();
    }
    if (!last.isEmpty()) {
        open(last);
        event->acceptProposedAction();
    }
}

} // namespace features::analysis
