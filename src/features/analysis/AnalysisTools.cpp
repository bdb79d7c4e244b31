// The recordings window's tools beyond the list and the plot: the view's choices, the cursors'
// readout, markers, the right-click menus and the window's remembered layout.
#include "features/analysis/AnalysisWindow.h"
#include "features/analysis/MarkerFile.h"
#include "features/analysis/PlotExport.h"
#include "features/analysis/PlotWidget.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QSettings>
#include <QSplitter>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <cmath>

namespace features::analysis {

namespace {

const QLatin1String kSettingsGroup("RecordingsWindow");

QComboBox* choice(const char* name, const QStringList& items, const QString& tip) {
    auto* box = new QComboBox;
    box->setObjectName(QLatin1String(name));
    box->addItems(items);
    box->setToolTip(tip);
    return box;
}

QString timeText(double seconds) {
    return QStringLiteral("%1 s").arg(seconds, 0, 'f', 3);
}

} // namespace

QWidget* AnalysisWindow::buildViewRow() {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* units = choice("unitsChoice", {QStringLiteral("g"), QStringLiteral("m/s²")},
                         QStringLiteral("The unit of every value in this window"));
    connect(units, &QComboBox::currentIndexChanged, this,
            [this](int index) { setUnits(index == 1 ? Units::MetresPerSecondSquared : Units::G); });
    auto* panels = choice("layoutChoice", {QStringLiteral("Overlaid"), QStringLiteral("Stacked")},
                          QStringLiteral("All traces in one panel, or one panel per trace"));
    connect(panels, &QComboBox::currentIndexChanged, this, [this](int index) {
        plot_->setLayout(index == 1 ? PanelLayout::Stacked : PanelLayout::Overlaid);
    });
    auto* range = choice("rangeChoice", {QStringLiteral("Fit the span"), QStringLiteral("Fixed")},
                         QStringLiteral("The value axis fits what the span shows, or stays put "
                                        "(Ctrl+wheel or Up/Down zoom it)"));
    connect(range, &QComboBox::activated, this, [this](int index) {
        if (index == 0)
            plot_->setFixedRange(std::nullopt);
        else if (!plot_->view().fixedRange)
            plot_->zoomValuesAt(plot_->height() / 2.0, 1.0);
    });
    connect(plot_, &PlotWidget::valueRangeChanged, range,
            [this, range] { range->setCurrentIndex(plot_->view().fixedRange ? 1 : 0); });
    auto* theme = choice("pictureThemeChoice",
                         {QStringLiteral("Pictures light"), QStringLiteral("Pictures dark")},
                         QStringLiteral("The colours of saved pictures"));
    connect(theme, &QComboBox::currentIndexChanged, this,
            [this](int index) { pictureTheme_ = index == 1 ? PlotTheme::Dark : PlotTheme::Light; });
    for (QWidget* widget : {static_cast<QWidget*>(units), static_cast<QWidget*>(panels),
                            static_cast<QWidget*>(range), static_cast<QWidget*>(theme)})
        layout->addWidget(widget);
    layout->addStretch();

    cursorInfo_ = new QLabel;
    cursorInfo_->setObjectName(QStringLiteral("cursorReadout"));
    cursorInfo_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return row;
}

QWidget* AnalysisWindow::buildMarkerList() {
    markerList_ = new QListWidget;
    markerList_->setObjectName(QStringLiteral("markerList"));
    markerList_->setToolTip(QStringLiteral("Markers of this recording (M on the plot adds one); "
                                           "double-click to go to one"));
    markerList_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(markerList_, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { jumpToMarker(markerList_->row(item)); });
    connect(markerList_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        const int index = markerList_->row(markerList_->itemAt(at));
        if (index < 0)
            return;
        QMenu menu;
        menu.addAction(QStringLiteral("Go to marker"), this,
                       [this, index] { jumpToMarker(index); });
        menu.addAction(QStringLiteral("Edit note…"), this, [this, index] {
            const Marker marker = markers()[std::size_t(index)];
            const QString note = askText_(
                QStringLiteral("Note of the marker at %1").arg(timeText(marker.time)), marker.note);
            if (note.isNull())
                return;
            removeMarker(index);
            addMarker(marker.time, note);
        });
        menu.addAction(QStringLiteral("Delete marker"), this,
                       [this, index] { removeMarker(index); });
        menu.exec(markerList_->viewport()->mapToGlobal(at));
    });
    return markerList_;
}

void AnalysisWindow::connectTools() {
    askText_ = [this](const QString& caption, const QString& initial) {
        bool ok = false;
        const QString text = QInputDialog::getText(this, QStringLiteral("Recordings"), caption,
                                                   QLineEdit::Normal, initial, &ok);
        return ok ? (text.isNull() ? QStringLiteral("") : text) : QString();
    };
    plot_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(plot_, &QWidget::customContextMenuRequested, this, &AnalysisWindow::showPlotMenu);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list_, &QWidget::customContextMenuRequested, this, &AnalysisWindow::showListMenu);
    connect(plot_, &PlotWidget::markerRequested, this, &AnalysisWindow::askForMarker);
    connect(plot_, &PlotWidget::cursorsChanged, this, &AnalysisWindow::updateCursorReadout);
    // Zooming, panning or selecting in a followed view pauses it, as the Pause button would.
    connect(plot_, &PlotWidget::followingInterrupted, this, [this] { setLivePaused(true); });
    updateCursorReadout();
}

void AnalysisWindow::showPlotMenu(const QPoint& at) {
    if (recording().isEmpty())
        return;
    const double seconds = plot_->timeAt(at.x());
    QMenu menu;
    menu.addAction(QStringLiteral("Zoom to fit"), plot_, &PlotWidget::showAll);
    menu.addAction(QStringLiteral("Back"), plot_, &PlotWidget::back)
        ->setEnabled(plot_->canGoBack());
    menu.addAction(QStringLiteral("Fit the value axis"), plot_,
                   [this] { plot_->setFixedRange(std::nullopt); });
    menu.addSeparator();
    menu.addAction(QStringLiteral("Set cursor A here"), plot_,
                   [this, seconds] { plot_->setCursorA(seconds); });
    menu.addAction(QStringLiteral("Set cursor B here"), plot_,
                   [this, seconds] { plot_->setCursorB(seconds); });
    menu.addAction(QStringLiteral("Add marker…"), this, [this, seconds] { askForMarker(seconds); });
    menu.addAction(QStringLiteral("Copy values"), this, &AnalysisWindow::copyCursorValues);
    menu.addSeparator();
    menu.addAction(QStringLiteral("Save picture…"), this, &AnalysisWindow::chooseAndExportPicture);
    menu.exec(plot_->mapToGlobal(at));
}

void AnalysisWindow::showListMenu(const QPoint& at) {
    QTreeWidgetItem* item = list_->itemAt(at);
    if (!item)
        return;
    list_->setCurrentItem(item);
    const QString path = chosenPath();
    if (path.isEmpty())
        return;
    QMenu menu;
    menu.addAction(QStringLiteral("Open"), this, [this, path] { open(path); });
    menu.addAction(QStringLiteral("Replay"), this,
                   [this, path] { emit replayRequested(path, 0.0); });
    menu.addSeparator();
    menu.addAction(QStringLiteral("Rename…"), this, [this, path] {
        const QString name =
            askText_(QStringLiteral("New name of %1").arg(QFileInfo(path).fileName()),
                     QFileInfo(path).fileName());
        if (!name.isNull())
            renameRecording(path, name);
    });
    menu.addAction(QStringLiteral("Move to Trash"), this, [this, path] { trashRecording(path); });
    menu.addSeparator();
    menu.addAction(QStringLiteral("Show in Folder"), this, [path] {
        QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
    });
    menu.addAction(QStringLiteral("Copy Path"), this,
                   [path] { QGuiApplication::clipboard()->setText(path); });
    menu.exec(list_->viewport()->mapToGlobal(at));
}

QString AnalysisWindow::cursorReadout() const {
    const PlotView& view = plot_->view();
    if (recording().isEmpty())
        return {};
    if (!view.cursorA && !view.cursorB)
        return QStringLiteral("Click to place cursor A, Ctrl+click cursor B; M adds a marker.");
    const double k = unitScale(units_);
    const QString unit = unitName(units_);
    QStringList parts;
    if (view.cursorA)
        parts << QStringLiteral("A %1").arg(timeText(*view.cursorA));
    if (view.cursorB)
        parts << QStringLiteral("B %1").arg(timeText(*view.cursorB));
    if (view.cursorA && view.cursorB) {
        const double dt = *view.cursorB - *view.cursorA;
        parts << QStringLiteral("Δt %1").arg(timeText(dt));
        if (std::abs(dt) > 1e-9)
            parts << QStringLiteral("1/Δt %1 Hz").arg(1.0 / std::abs(dt), 0, 'f', 3);
        const std::size_t a = recording().nearestRow(*view.cursorA);
        const std::size_t b = recording().nearestRow(*view.cursorB);
        for (int s = 0; s < kSeriesCount; ++s) {
            const double change =
                (double(recording().value(Series(s), b)) - recording().value(Series(s), a)) * k;
            parts << QStringLiteral("Δ%1 %2 %3")
                         .arg(seriesName(Series(s)))
                         .arg(change, 0, 'f', 3)
                         .arg(unit);
        }
    }
    return parts.join(QStringLiteral("   "));
}

void AnalysisWindow::updateCursorReadout() {
    cursorInfo_->setText(cursorReadout());
}

const std::vector<Marker>& AnalysisWindow::markers() const {
    return plot_->view().markers;
}

void AnalysisWindow::askForMarker(double seconds) {
    if (recording().isEmpty())
        return;
    const QString note =
        askText_(QStringLiteral("Note for the marker at %1").arg(timeText(seconds)), QString());
    if (!note.isNull())
        addMarker(seconds, note);
}

void AnalysisWindow::addMarker(double seconds, const QString& note) {
    if (recording().isEmpty())
        return;
    std::vector<Marker> list = markers();
    const auto at = std::upper_bound(list.begin(), list.end(), seconds,
                                     [](double t, const Marker& m) { return t < m.time; });
    list.insert(at, Marker{seconds, note.simplified()});
    plot_->setMarkers(std::move(list));
    showMarkers();
    storeMarkers();
}

void AnalysisWindow::removeMarker(int index) {
    std::vector<Marker> list = markers();
    if (index < 0 || std::size_t(index) >= list.size())
        return;
    list.erase(list.begin() + index);
    plot_->setMarkers(std::move(list));
    showMarkers();
    storeMarkers();
}

void AnalysisWindow::jumpToMarker(int index) {
    if (index < 0 || std::size_t(index) >= markers().size())
        return;
    const double at = markers()[std::size_t(index)].time;
    const double half = 0.5 * (plot_->view().to - plot_->view().from);
    plot_->setSpan(at - half, at + half, true);
    plot_->setFocus();
}

void AnalysisWindow::showMarkers() {
    markerList_->clear();
    for (const Marker& marker : markers())
        markerList_->addItem(marker.note.isEmpty() ? timeText(marker.time)
                                                   : QStringLiteral("%1  %2").arg(
                                                         timeText(marker.time), marker.note));
}

void AnalysisWindow::loadMarkersOfRecording() {
    QString error;
    plot_->setMarkers(recording().path().isEmpty() ? std::vector<Marker>{}
                                                   : loadMarkers(recording().path(), &error));
    showMarkers();
    if (!error.isEmpty())
        showMessage(error);
}

void AnalysisWindow::storeMarkers() {
    // A live view's markers last as long as the view.
    if (recording().path().isEmpty())
        return;
    QString error;
    if (!saveMarkers(recording().path(), markers(), &error))
        showMessage(error);
}

void AnalysisWindow::copyCursorValues() {
    const std::size_t row = recording().nearestRow(plot_->pointedTime());
    if (row >= recording().size())
        return;
    const double k = unitScale(units_);
    QStringList fields{QString::number(double(recording().time(row)), 'f', 4)};
    for (int s = 0; s < kSeriesCount; ++s)
        fields << QString::number(recording().value(Series(s), row) * k, 'f', 4);
    QGuiApplication::clipboard()->setText(fields.join(QLatin1Char('\t')));
}

void AnalysisWindow::setUnits(Units units) {
    units_ = units;
    if (auto* box = findChild<QComboBox*>(QStringLiteral("unitsChoice")))
        box->setCurrentIndex(units == Units::G ? 0 : 1);
    plot_->setUnits(units);
    updateNumbers();
    updateCursorReadout();
}

void AnalysisWindow::setPictureTheme(PlotTheme theme) {
    if (auto* box = findChild<QComboBox*>(QStringLiteral("pictureThemeChoice")))
        box->setCurrentIndex(theme == PlotTheme::Dark ? 1 : 0);
    pictureTheme_ = theme;
}

void AnalysisWindow::setTextAsker(TextAsker ask) {
    askText_ = std::move(ask);
}

void AnalysisWindow::restoreLayout() {
    QSettings settings;
    settings.beginGroup(kSettingsGroup);
    const QByteArray geometry =
        QByteArray::fromBase64(settings.value(QStringLiteral("geometry")).toByteArray());
    if (!geometry.isEmpty())
        restoreGeometry(geometry);
    const QByteArray splitter =
        QByteArray::fromBase64(settings.value(QStringLiteral("splitter")).toByteArray());
    if (!splitter.isEmpty())
        splitter_->restoreState(splitter);
    if (settings.value(QStringLiteral("units")).toString() == u"m/s2")
        setUnits(Units::MetresPerSecondSquared);
    if (settings.value(QStringLiteral("pictureTheme")).toString() == u"dark")
        setPictureTheme(PlotTheme::Dark);
}

void AnalysisWindow::saveLayout() {
    QSettings settings;
    settings.beginGroup(kSettingsGroup);
    // Kept as text, so that the settings file stays plain text.
    settings.setValue(QStringLiteral("geometry"), QString::fromLatin1(saveGeometry().toBase64()));
    settings.setValue(QStringLiteral("splitter"),
                      QString::fromLatin1(splitter_->saveState().toBase64()));
    settings.setValue(QStringLiteral("units"),
                      units_ == Units::G ? QStringLiteral("g") : QStringLiteral("m/s2"));
    settings.setValue(QStringLiteral("pictureTheme"), pictureTheme_ == PlotTheme::Dark
                                                          ? QStringLiteral("dark")
                                                          : QStringLiteral("light"));
}

void AnalysisWindow::closeEvent(QCloseEvent* event) {
    saveLayout();
    QWidget::closeEvent(event);
}

} // namespace features::analysis
