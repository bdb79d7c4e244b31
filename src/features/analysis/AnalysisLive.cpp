// The recordings window following the running source: the "Live" entry at the top of the list.
#include "features/analysis/AnalysisWindow.h"
#include "features/analysis/PlotWidget.h"
#include "features/analysis/SpectraPanel.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

namespace features::analysis {

namespace {

constexpr double kLiveSpans[] = {10.0, 60.0, 600.0};

} // namespace

QWidget* AnalysisWindow::buildLiveControls() {
    liveControls_ = new QWidget;
    auto* layout = new QHBoxLayout(liveControls_);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* span = new QComboBox;
    span->setObjectName(QStringLiteral("liveSpanChoice"));
    span->addItems({QStringLiteral("Last 10 s"), QStringLiteral("Last minute"),
                    QStringLiteral("Last 10 minutes")});
    span->setCurrentIndex(1);
    connect(span, &QComboBox::currentIndexChanged, this,
            [this](int index) { setLiveSpan(kLiveSpans[std::clamp(index, 0, 2)]); });
    auto* pause = new QPushButton(QStringLiteral("Pause"));
    pause->setObjectName(QStringLiteral("livePause"));
    pause->setCheckable(true);
    pause->setToolTip(QStringLiteral("Freeze the view to zoom, measure or save it; the readings "
                                     "go on being kept"));
    connect(pause, &QPushButton::toggled, this, &AnalysisWindow::setLivePaused);
    auto* note = new QLabel(QStringLiteral("Following the running source. Save span… keeps the "
                                           "shown span as a recording."));
    layout->addWidget(span);
    layout->addWidget(pause);
    layout->addWidget(note, 1);
    liveControls_->hide();
    // Thirty frames a second are smooth for a view whose newest column moves by a pixel or two.
    liveTimer_.setInterval(33);
    connect(&liveTimer_, &QTimer::timeout, this, &AnalysisWindow::liveTick);
    return liveControls_;
}

void AnalysisWindow::addLiveItem() {
    auto* item = new QTreeWidgetItem(list_);
    item->setText(0, QStringLiteral("Live"));
    item->setToolTip(0, QStringLiteral("The running source, as it comes"));
    QFont bold = item->font(0);
    bold.setBold(true);
    item->setFont(0, bold);
}

void AnalysisWindow::showLive() {
    if (liveMode_)
        return;
    liveMode_ = true;
    plot_->setRecording(nullptr);
    spectra_->setSpan(nullptr, 0.0, 0.0);
    recording_ = std::make_shared<RecordingSeries>();
    live_.fill(*recording_, liveSpan_);
    plot_->setRecording(recording_.get());
    showMarkers();
    liveControls_->show();
    replay_->setEnabled(false);
    exportPicture_->setEnabled(true);
    exportCsv_->setEnabled(true);
    setWindowTitle(QStringLiteral("Recordings – Live"));
    liveTimer_.start();
    updateNumbers();
}

void AnalysisWindow::leaveLive() {
    if (!liveMode_)
        return;
    liveMode_ = false;
    liveTimer_.stop();
    liveControls_->hide();
    plot_->setRecording(nullptr);
    spectra_->setSpan(nullptr, 0.0, 0.0);
    recording_.reset();
}

void AnalysisWindow::setLiveSpan(double seconds) {
    liveSpan_ = seconds;
    if (liveMode_ && !livePaused_)
        liveTick();
}

void AnalysisWindow::setLivePaused(bool paused) {
    livePaused_ = paused;
    if (auto* button = findChild<QPushButton*>(QStringLiteral("livePause")))
        button->setChecked(paused);
    if (!paused && liveMode_)
        liveTick();
}

void AnalysisWindow::liveTick() {
    if (!liveMode_ || livePaused_)
        return;
    // A new series each time: the numbers of the last one may still be worked out on a worker.
    auto next = std::make_shared<RecordingSeries>();
    live_.fill(*next, liveSpan_);
    plot_->followRecording(next.get());
    recording_ = std::move(next);
    // The numbers and the spectrum twice a second: they change slowly and cost more.
    if (++liveTicks_ % 15 == 0)
        updateNumbers();
}

} // namespace features::analysis
