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

void AnalysisWindow::setLiveFeed(LiveFeed* feed) {
    live_ = feed ? feed : &ownFeed_;
    if (liveMode_ && !livePaused_)
        plot_->followLive(live_, liveSpan_);
}

void AnalysisWindow::showLive() {
    if (liveMode_)
        return;
    liveMode_ = true;
    plot_->setRecording(nullptr);
    spectra_->setSpan(nullptr, 0.0, 0.0);
    recording_.reset();
    plot_->followLive(live_, liveSpan_);
    copyLiveSpan();
    if (livePaused_)
        plot_->freeze(recording_.get());
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

void AnalysisWindow::copyLiveSpan() {
    // A new series each time, never one changed in place: the last one's numbers may still be
    // worked out on a worker, which holds it until done. Copied a few times a second, not per
    // frame: the frames draw from the feed itself.
    auto copy = std::make_shared<RecordingSeries>();
    live_->fill(*copy, plot_->view().from, plot_->view().to);
    recording_ = std::move(copy);
    if (plot_->isFollowing())
        plot_->setLiveValues(recording_.get());
}

void AnalysisWindow::setLiveSpan(double seconds) {
    liveSpan_ = seconds;
    if (!liveMode_ || livePaused_)
        return;
    plot_->followLive(live_, liveSpan_);
    copyLiveSpan();
    updateNumbers();
}

void AnalysisWindow::setLivePaused(bool paused) {
    const bool changed = paused != livePaused_;
    livePaused_ = paused;
    if (auto* button = findChild<QPushButton*>(QStringLiteral("livePause")))
        button->setChecked(paused);
    if (!changed || !liveMode_)
        return;
    if (paused) {
        // The readings of the span as it stands, kept still for every tool of a recording.
        plot_->advanceLive();
        copyLiveSpan();
        plot_->freeze(recording_.get());
    } else {
        plot_->followLive(live_, liveSpan_);
        copyLiveSpan();
    }
    updateNumbers();
}

void AnalysisWindow::liveTick() {
    if (!liveMode_ || livePaused_)
        return;
    plot_->advanceLive();
    // The numbers and the spectrum twice a second: they change slowly and cost more.
    if (++liveTicks_ % 15 == 0) {
        copyLiveSpan();
        updateNumbers();
    }
}

} // namespace features::analysis
