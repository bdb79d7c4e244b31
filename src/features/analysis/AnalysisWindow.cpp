#include "features/analysis/AnalysisWindow.h"

#include "features/analysis/MarkerFile.h"
#include "features/analysis/PlotDrawing.h"
#include "features/analysis/PlotExport.h"
#include "features/analysis/PlotWidget.h"
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
#include <QSplitter>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cstdio>

namespace analysis {

namespace {

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
    // Dark like the main window, so that the white |a| and its check box read well.
    QPalette dark = palette();
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
    setPalette(dark);

    list_ = new QTreeWidget;
    list_->setObjectName(QStringLiteral("recordingList"));
    list_->setHeaderLabels({QStringLiteral("Recording"), QStringLiteral("Duration"),
                            QStringLiteral("Rate"), QStringLiteral("Peak |a|")});
    list_->setRootIsDecorated(false);
    list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    connect(list_, &QTreeWidget::itemSelectionChanged, this, &AnalysisWindow::showChosen);
    auto* openButton = new QPushButton(QStringLiteral("Open…"));
    openButton->setToolTip(QStringLiteral("Open a recording in any format replay reads"));
    connect(openButton, &QPushButton::clicked, this, &AnalysisWindow::chooseAndOpen);
    auto* left = new QWidget;
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    leftLayout->addWidget(list_, 3);
    leftLayout->addWidget(openButton);
    leftLayout->addWidget(buildMarkerList(), 1);

    plot_ = new PlotWidget;
    plot_->setObjectName(QStringLiteral("analysisPlot"));
    info_ = new QLabel(QStringLiteral("Choose a recording, or drop one here."));
    info_->setObjectName(QStringLiteral("analysisInfo"));
    info_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* right = new QWidget;
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->addWidget(buildToolRow());
    rightLayout->addWidget(buildViewRow());
    rightLayout->addWidget(buildLiveControls());
    rightLayout->addWidget(plot_, 3);
    rightLayout->addWidget(cursorInfo_);
    rightLayout->addWidget(info_);
    rightLayout->addWidget(buildNumbers(), 1);

    splitter_ = new QSplitter;
    splitter_->setObjectName(QStringLiteral("recordingsSplitter"));
    splitter_->addWidget(left);
    splitter_->addWidget(right);
    splitter_->setStretchFactor(1, 1);
    splitter_->setSizes({300, 900});
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(splitter_);

    // Statistics and the spectrum are worked out once a zoom or pan comes to rest.
    numbersTimer_.setSingleShot(true);
    numbersTimer_.setInterval(120);
    connect(&numbersTimer_, &QTimer::timeout, this, &AnalysisWindow::updateNumbers);
    connect(plot_, &PlotWidget::spanChanged, this, [this] { numbersTimer_.start(); });
    summaryTimer_.setInterval(0);
    connect(&summaryTimer_, &QTimer::timeout, this, &AnalysisWindow::summarizeNext);

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
    connectTools();
    restoreLayout();
    refresh();
}

AnalysisWindow::~AnalysisWindow() {
    // The plot keeps a pointer to the recording, which goes first.
    plot_->setRecording(nullptr);
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
    connect(spectrumSeries_, &QComboBox::currentIndexChanged, this,
            &AnalysisWindow::updateSpectrum);
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
    list_->clear();
    toSummarize_.clear();
    addLiveItem();
    const QFileInfoList files = QDir(folder_).entryInfoList(
        {QStringLiteral("*.csv")}, QDir::Files | QDir::Readable, QDir::Name | QDir::Reversed);
    for (const QFileInfo& file : files) {
        itemFor(file.absoluteFilePath());
        toSummarize_ << file.absoluteFilePath();
    }
    summaryTimer_.start();
    // Keep the shown recording chosen (it may lie outside the folder); with none, show the
    // newest.
    if (!recording_.isEmpty())
        list_->setCurrentItem(itemFor(recording_.path()));
    else if (list_->topLevelItemCount() > 1)
        list_->setCurrentItem(list_->topLevelItem(1));
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
    toSummarize_.replaceInStrings(path, renamed);
    if (recording_.path() == path) {
        recording_.setPath(renamed);
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
    toSummarize_.removeAll(path);
    if (recording_.path() == path) {
        plot_->setRecording(nullptr);
        recording_.clear();
        showMarkers();
        updateNumbers();
    }
    delete itemFor(path);
    return true;
}

void AnalysisWindow::summarizeNext() {
    if (toSummarize_.isEmpty()) {
        summaryTimer_.stop();
        return;
    }
    const QString path = toSummarize_.takeFirst();
    QTreeWidgetItem* item = itemFor(path);
    RecordingSeries series;
    QString error;
    if (!series.load(path, &error)) {
        item->setText(kDuration, QStringLiteral("unreadable"));
        item->setToolTip(kDuration, error);
        return;
    }
    item->setText(kDuration, seconds(series.duration()));
    item->setText(kRate, QStringLiteral("%1 /s").arg(series.meanRate(), 0, 'f', 0));
    item->setText(kPeak, QStringLiteral("%1 g").arg(
                             double(series.extremes(0, series.size()).series[3].max), 0, 'f', 2));
}

bool AnalysisWindow::open(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QTreeWidgetItem* item = itemFor(absolute);
    if (list_->currentItem() == item && recording_.path() == absolute)
        return true;
    list_->setCurrentItem(item);
    return recording_.path() == absolute;
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
    if (path == recording_.path())
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    plot_->setRecording(nullptr);
    QString error;
    const bool loaded = recording_.load(path, &error);
    QApplication::restoreOverrideCursor();
    for (QPushButton* button : {replay_, exportPicture_, exportCsv_})
        button->setEnabled(loaded);
    if (!loaded) {
        info_->setText(error);
        plot_->setRecording(nullptr);
        updateNumbers();
        showMessage(error);
        return;
    }
    toSummarize_.removeAll(path);
    toSummarize_.prepend(path);
    summaryTimer_.start();
    setWindowTitle(QStringLiteral("Recordings – %1").arg(QFileInfo(path).fileName()));
    plot_->setRecording(&recording_);
    loadMarkersOfRecording();
    updateNumbers();
}

void AnalysisWindow::updateNumbers() {
    const PlotView& view = plot_->view();
    statistics_ =
        recording_.isEmpty() ? SpanStatistics{} : spanStatistics(recording_, view.from, view.to);
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
    if (!recording_.isEmpty()) {
        info_->setText(
            QStringLiteral("%1 — %2 samples over %3 s at %4 per second. Shown: %5 s to "
                           "%6 s, %7 samples.")
                .arg(liveMode_ ? QStringLiteral("Live") : QFileInfo(recording_.path()).fileName())
                .arg(recording_.size())
                .arg(recording_.duration(), 0, 'f', 3)
                .arg(recording_.meanRate(), 0, 'f', 1)
                .arg(view.from, 0, 'f', 3)
                .arg(view.to, 0, 'f', 3)
                .arg(statistics_.samples));
    }
    updateSpectrum();
}

void AnalysisWindow::updateSpectrum() {
    const Series series = Series(std::max(0, spectrumSeries_->currentIndex()));
    if (recording_.isEmpty() || statistics_.samples == 0) {
        spectrum_->setSpectrum({}, series);
        return;
    }
    const std::size_t first = recording_.rowAtOrAfter(statistics_.from);
    spectrum_->setSpectrum(
        spectrum(recording_, series, first, first + statistics_.samples, statistics_.rateHz),
        series);
}

void AnalysisWindow::showMessage(const QString& text) {
    message_ = text;
    std::fprintf(stderr, "wobblestar: %s\n", qPrintable(text));
    if (!QApplication::platformName().startsWith(QLatin1String("offscreen")))
        QMessageBox::warning(this, QStringLiteral("Recordings"), text);
}

bool AnalysisWindow::exportPicture(const QString& typed) {
    const QString path = withPictureExtension(typed, PictureFormat::Png);
    const std::optional<PictureFormat> format = pictureFormatOf(path);
    // A page for a report is A4; a picture is drawn at a size that reads well on a page or a
    // slide, whatever the window's size.
    const QSize size = format == PictureFormat::Pdf ? a4LandscapeSize() : QSize(1600, 900);
    QString error;
    const QString title = liveMode_ ? QStringLiteral("Live") : QString();
    if (!writeFigure(path, size, recordingFigure(recording_, plot_->view(), pictureTheme_, title),
                     &error)) {
        showMessage(error);
        return false;
    }
    return true;
}

bool AnalysisWindow::exportCsv(const QString& path) {
    platform::SampleCsvWriter writer(path, platform::SampleCsvWriter::Existing::Replace);
    bool written = writer.open();
    const std::size_t first = recording_.rowAtOrAfter(plot_->view().from);
    const std::size_t last = recording_.rowAfter(plot_->view().to);
    // Times count from the span's first row, as in any recording Wobblestar writes.
    const double origin = first < last ? double(recording_.time(first)) : 0.0;
    for (std::size_t row = first; written && row < last; ++row)
        writer.append(double(recording_.time(row)) - origin, recording_.value(Series::X, row),
                      recording_.value(Series::Y, row), recording_.value(Series::Z, row));
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
    const QString path =
        chooseOpen_(QStringLiteral("Open a recording"),
                    QStringLiteral("Recordings (*.csv *.txt *.log);;All files (*)"));
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
    if (recording_.isEmpty() || liveMode_)
        return;
    emit replayRequested(recording_.path(), plot_->view().cursor.value_or(plot_->view().from));
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

} // namespace analysis
