#include "features/analysis/AnalysisWindow.h"

#include "features/analysis/PlotDrawing.h"
#include "features/analysis/PlotWidget.h"
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
    // Wide enough for a whole row (a start time, minutes, a rate, a peak) at any font size, so
    // that no column is cut short.
    int rowWidth = 0;
    for (const char* widest : {"2026-12-31 23:59:59", "59:59 min", "120.00 Hz", "Peak |a|"})
        rowWidth += list_->fontMetrics().horizontalAdvance(QLatin1String(widest)) + 24;
    rowWidth += list_->verticalScrollBar()->sizeHint().width() + 4;
    connect(list_, &QTreeWidget::itemSelectionChanged, this, &AnalysisWindow::showChosen);
    auto* openButton = new QPushButton(QStringLiteral("Add file…"));
    openButton->setToolTip(
        QStringLiteral("Show a recording from any folder, in any format replay reads"));
    connect(openButton, &QPushButton::clicked, this, &AnalysisWindow::chooseAndOpen);
    auto* left = new QWidget;
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    leftLayout->addWidget(list_);
    leftLayout->addWidget(openButton);

    plot_ = new PlotWidget;
    plot_->setObjectName(QStringLiteral("analysisPlot"));
    info_ = new QLabel(QStringLiteral("Choose a recording, or drop one here."));
    info_->setObjectName(QStringLiteral("analysisInfo"));
    info_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* right = new QWidget;
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->addWidget(buildToolRow());
    rightLayout->addWidget(plot_, 3);
    rightLayout->addWidget(info_);
    rightLayout->addWidget(buildNumbers(), 1);

    auto* splitter = new QSplitter;
    splitter->addWidget(left);
    splitter->addWidget(right);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({rowWidth, 1200 - rowWidth});
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(splitter);

    // Statistics and the spectrum are worked out once a zoom or pan comes to rest.
    numbersTimer_.setSingleShot(true);
    numbersTimer_.setInterval(120);
    connect(&numbersTimer_, &QTimer::timeout, this, &AnalysisWindow::updateNumbers);
    connect(plot_, &PlotWidget::spanChanged, this, [this] { numbersTimer_.start(); });
    summaryTimer_.setInterval(0);
    connect(&summaryTimer_, &QTimer::timeout, this, &AnalysisWindow::summarizeNext);

    const auto dialog = [this](bool save) {
        return [this, save](const QString& caption, const QString& filter) {
            return save ? QFileDialog::getSaveFileName(this, caption, folder_, filter)
                        : QFileDialog::getOpenFileName(this, caption, folder_, filter);
        };
    };
    chooseOpen_ = dialog(false);
    chooseSave_ = dialog(true);
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
    exportPicture_->setToolTip(QStringLiteral("The plot as PNG or SVG"));
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
    else if (list_->topLevelItemCount() > 0)
        list_->setCurrentItem(list_->topLevelItem(0));
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
    updateNumbers();
}

void AnalysisWindow::updateNumbers() {
    const PlotView& view = plot_->view();
    statistics_ =
        recording_.isEmpty() ? SpanStatistics{} : spanStatistics(recording_, view.from, view.to);
    for (int s = 0; s < kSeriesCount; ++s) {
        const SeriesStatistics& n = statistics_.series[std::size_t(s)];
        const bool any = statistics_.samples > 0;
        const QString cells[] = {
            any ? QString::number(n.min, 'f', 3) : QString(),
            any ? QString::number(n.max, 'f', 3) : QString(),
            any ? QString::number(n.mean, 'f', 3) : QString(),
            any ? QString::number(n.rms, 'f', 3) : QString(),
            any ? QString::number(n.peak, 'f', 3) : QString(),
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
        info_->setText(QStringLiteral("%1 — %2 samples over %3 s at %4 per second. Shown: %5 s to "
                                      "%6 s, %7 samples.")
                           .arg(QFileInfo(recording_.path()).fileName())
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

bool AnalysisWindow::exportPicture(const QString& path) {
    QString error;
    if (!writePlot(path, plot_->size(), recording_, plot_->view(), &error)) {
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
    const QString path = chooseOpen_(QStringLiteral("Add file"), platform::recordingFileFilter());
    if (!path.isEmpty())
        open(path);
}

void AnalysisWindow::chooseAndExportPicture() {
    const QString path = chooseSave_(QStringLiteral("Save the plot"),
                                     QStringLiteral("PNG picture (*.png);;SVG drawing (*.svg)"));
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
    if (recording_.isEmpty())
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
