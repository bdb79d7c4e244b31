#include "features/analysis/SpectraPanel.h"

#include "features/analysis/PlotDrawing.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace features::analysis {

namespace {

// The spectrogram shows this many decibels below its strongest cell; quieter is background.
constexpr float kDynamicRangeDb = 80.0f;
constexpr int kSpectrogramColumns = 400;
constexpr int kLeft = 64, kRight = 86, kTop = 22, kBottom = 24;

// A perceptually even ramp from dark violet through red to pale yellow.
QColor heat(double f) {
    static const QColor stops[] = {{0, 0, 4},      {60, 15, 112},   {140, 41, 129},
                                   {222, 73, 104}, {254, 159, 109}, {252, 253, 191}};
    f = std::clamp(f, 0.0, 1.0) * 5.0;
    const int i = std::min(int(f), 4);
    const double t = f - i;
    const QColor& a = stops[i];
    const QColor& b = stops[i + 1];
    return QColor(int(a.red() + (b.red() - a.red()) * t),
                  int(a.green() + (b.green() - a.green()) * t),
                  int(a.blue() + (b.blue() - a.blue()) * t));
}

QString hz(double value) {
    return QStringLiteral("%1").arg(value, 0, 'f', value < 1.0 ? 3 : value < 100.0 ? 2 : 1);
}

} // namespace

SpectrumView::SpectrumView(QWidget* parent) : drawing::View(parent) {
    setMinimumSize(320, 200);
    setMouseTracking(true);
}

void SpectrumView::setSpectra(std::vector<SeriesSpectrum> spectra) {
    spectra_ = std::move(spectra);
    setNeedsDisplay();
}

void SpectrumView::setStyle(const SpectrumStyle& style) {
    style_ = style;
    setNeedsDisplay();
}

void SpectrumView::setCursorAt(double x) {
    if (spectra_.empty())
        return;
    const SpectrumMapping map = spectrumMapping(bounds(), spectra_, style_);
    style_.cursorHz = map.hzAt(float(x));
    emit cursorMoved(*style_.cursorHz);
    setNeedsDisplay();
}

void SpectrumView::mouseMoveEvent(QMouseEvent* event) {
    setCursorAt(event->position().x());
}

void SpectrumView::drawRect(drawing::DrawingContext& context, drawing::Rect) {
    drawSpectra(context, bounds(), spectra_, style_, QString());
}

SpectrogramView::SpectrogramView(QWidget* parent) : QWidget(parent) {
    setMinimumSize(320, 160);
}

void SpectrogramView::setSpectrogram(Spectrogram spectrogram, double fromSeconds,
                                     const QString& axisName) {
    spectrogram_ = std::move(spectrogram);
    from_ = fromSeconds;
    axisName_ = axisName;
    image_ = QImage();
    if (!spectrogram_.isEmpty()) {
        highDb_ = *std::max_element(spectrogram_.decibels.begin(), spectrogram_.decibels.end());
        highDb_ = std::ceil(highDb_ / 10.0f) * 10.0f;
        lowDb_ = highDb_ - kDynamicRangeDb;
        // One pixel per cell, low frequencies at the bottom; painting scales it to the widget.
        image_ = QImage(spectrogram_.columns, spectrogram_.bins, QImage::Format_RGB32);
        for (int c = 0; c < spectrogram_.columns; ++c)
            for (int k = 0; k < spectrogram_.bins; ++k)
                image_.setPixel(c, spectrogram_.bins - 1 - k,
                                heat((spectrogram_.at(c, k) - lowDb_) / kDynamicRangeDb).rgb());
    }
    update();
}

void SpectrogramView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    painter.setPen(QColor(0xe6, 0xe6, 0xe6));
    const QRect area(kLeft, kTop, std::max(1, width() - kLeft - kRight),
                     std::max(1, height() - kTop - kBottom));
    if (image_.isNull()) {
        painter.drawText(area, Qt::AlignCenter,
                         QStringLiteral("Too few samples for a spectrogram"));
        return;
    }
    painter.drawText(QPoint(kLeft, 15),
                     QStringLiteral("%1 over time: %2-sample segments, %3 Hz apart")
                         .arg(axisName_)
                         .arg(spectrogram_.segmentLength)
                         .arg(hz(spectrogram_.binHz)));
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(area, image_);

    const QFontMetrics metrics(font());
    const double nyquist = spectrogram_.rateHz / 2.0;
    double step = 1.0;
    for (double f : niceTicks(0.0, nyquist, std::max(2, area.height() / 40), &step)) {
        const int y = area.bottom() - int(f / nyquist * area.height());
        const QString label = QStringLiteral("%1 Hz").arg(hz(f));
        painter.drawLine(area.left() - 4, y, area.left(), y);
        painter.drawText(area.left() - 6 - metrics.horizontalAdvance(label),
                         y + metrics.ascent() / 2, label);
    }
    const double seconds = spectrogram_.columnSeconds * std::max(0, spectrogram_.columns - 1) +
                           2.0 * spectrogram_.firstSeconds;
    for (double t : niceTicks(from_, from_ + seconds, std::max(2, area.width() / 100), &step)) {
        const int x = area.left() + int((t - from_) / seconds * area.width());
        const QString label = QStringLiteral("%1 s").arg(t, 0, 'f', step < 1.0 ? 2 : 0);
        painter.drawLine(x, area.bottom(), x, area.bottom() + 4);
        painter.drawText(x - metrics.horizontalAdvance(label) / 2,
                         area.bottom() + 6 + metrics.ascent(), label);
    }

    // The legend: the colour scale in decibels of g²/Hz.
    const QRect bar(area.right() + 14, area.top(), 14, area.height());
    for (int y = 0; y < bar.height(); ++y)
        painter.fillRect(bar.left(), bar.top() + y, bar.width(), 1,
                         heat(1.0 - double(y) / std::max(1, bar.height() - 1)));
    for (int i = 0; i <= 4; ++i) {
        const float db = highDb_ - kDynamicRangeDb * float(i) / 4.0f;
        const int y = bar.top() + int(double(i) / 4.0 * (bar.height() - 1));
        painter.drawText(bar.right() + 4, y + metrics.ascent() / 2,
                         QStringLiteral("%1").arg(db, 0, 'f', 0));
    }
    painter.drawText(bar.left() - 4, bar.bottom() + 6 + metrics.ascent(),
                     QStringLiteral("dB g²/Hz"));
}

struct SpectraPanel::Result {
    std::array<PowerSpectrum, 3> spectra;
    std::array<std::vector<SpectralPeak>, 3> peaks;
    Spectrogram spectrogram;
    Series axis = Series::X;
    double from = 0.0;
};

SpectraPanel::SpectraPanel(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("spectraPanel"));
    quantity_ = new QComboBox;
    quantity_->setObjectName(QStringLiteral("spectrumQuantity"));
    quantity_->addItems({QStringLiteral("Power spectral density"), QStringLiteral("Amplitude")});
    logFrequency_ = new QCheckBox(QStringLiteral("Log frequency"));
    logValue_ = new QCheckBox(QStringLiteral("Log values"));
    logValue_->setChecked(true);
    axis_ = new QComboBox;
    axis_->setObjectName(QStringLiteral("spectrogramAxis"));
    for (int s = 0; s < kSeriesCount; ++s)
        axis_->addItem(seriesName(Series(s)));
    axis_->setToolTip(QStringLiteral("The axis whose spectrogram is shown"));
    for (QComboBox* box : {quantity_})
        connect(box, &QComboBox::currentIndexChanged, this, &SpectraPanel::restyle);
    for (QCheckBox* box : {logFrequency_, logValue_})
        connect(box, &QCheckBox::toggled, this, &SpectraPanel::restyle);
    connect(axis_, &QComboBox::currentIndexChanged, this, [this] {
        stale_ = true;
        start();
    });
    basis_ = new QLabel;
    basis_->setObjectName(QStringLiteral("spectrumBasis"));
    basis_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* controls = new QHBoxLayout;
    controls->addWidget(quantity_);
    controls->addWidget(logFrequency_);
    controls->addWidget(logValue_);
    controls->addStretch();
    controls->addWidget(new QLabel(QStringLiteral("Spectrogram of")));
    controls->addWidget(axis_);

    spectrum_ = new SpectrumView;
    spectrum_->setObjectName(QStringLiteral("spectrumView"));
    peaks_ = new QTreeWidget;
    peaks_->setObjectName(QStringLiteral("peakList"));
    peaks_->setHeaderLabels({QStringLiteral("Axis"), QStringLiteral("Hz"), QStringLiteral("g"),
                             QStringLiteral("g²/Hz")});
    peaks_->setRootIsDecorated(false);
    peaks_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    peaks_->setToolTip(QStringLiteral("The five strongest peaks of each axis: frequency, the "
                                      "sine's peak amplitude and the density at the peak"));
    spectrogram_ = new SpectrogramView;
    spectrogram_->setObjectName(QStringLiteral("spectrogramView"));

    auto* top = new QSplitter;
    top->addWidget(spectrum_);
    top->addWidget(peaks_);
    top->setStretchFactor(0, 1);
    top->setSizes({700, 260});
    auto* split = new QSplitter(Qt::Vertical);
    split->addWidget(top);
    split->addWidget(spectrogram_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(controls);
    layout->addWidget(basis_);
    layout->addWidget(split, 1);
    restyle();
}

SpectraPanel::~SpectraPanel() {
    cancel();
}

void SpectraPanel::setSpan(const RecordingSeries* recording, double from, double to) {
    cancel();
    recording_ = recording;
    from_ = from;
    to_ = to;
    stale_ = true;
    if (!recording_) {
        shown_.reset();
        spectrum_->setSpectra({});
        spectrogram_->setSpectrogram({}, 0.0, QString());
        peaks_->clear();
        basis_->clear();
        return;
    }
    start();
}

void SpectraPanel::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    start();
}

void SpectraPanel::cancel() {
    if (!job_)
        return;
    cancelled_->store(true);
    job_->wait();
    job_.reset();
}

void SpectraPanel::start() {
    if (!stale_ || !recording_ || !isVisible())
        return;
    cancel();
    stale_ = false;
    const std::size_t first = recording_->rowAtOrAfter(from_);
    const std::size_t last = recording_->rowAfter(to_);
    if (last <= first) {
        setSpan(nullptr, 0.0, 0.0);
        return;
    }
    const std::size_t rows = last - first;
    const double seconds = double(recording_->time(last - 1)) - double(recording_->time(first));
    const double rate = seconds > 0.0 ? double(rows - 1) / seconds : 0.0;
    const Series axis = Series(std::max(0, axis_->currentIndex()));
    const int generation = ++generation_;
    cancelled_ = std::make_shared<std::atomic<bool>>(false);
    const RecordingSeries* recording = recording_;
    const double from = double(recording_->time(first));
    auto cancelled = cancelled_;
    job_ = std::make_unique<std::future<void>>(std::async(std::launch::async, [=, this] {
        auto result = std::make_shared<Result>();
        result->axis = axis;
        result->from = from;
        for (int s = 0; s < 3; ++s) {
            const float* values = recording->values(Series(s)).data() + first;
            WelchEstimate welch(welchSegmentLength(rows));
            // In slices, so that a new span stops the old one's work within a few transforms.
            for (std::size_t at = 0; at < rows; at += kLongestSegment) {
                if (cancelled->load())
                    return;
                welch.add(values + at, std::min(kLongestSegment, rows - at));
            }
            result->spectra[std::size_t(s)] = welch.result(rate);
            result->peaks[std::size_t(s)] = spectralPeaks(result->spectra[std::size_t(s)]);
        }
        result->spectrogram = spectrogram(recording->values(axis).data() + first, rows, rate,
                                          kSpectrogramColumns, cancelled.get());
        if (cancelled->load())
            return;
        // The panel outlives this job (its destructor waits), and a queued call to an object
        // being destroyed is dropped.
        QMetaObject::invokeMethod(
            this, [this, result, generation] { present(result, generation); },
            Qt::QueuedConnection);
    }));
}

void SpectraPanel::present(std::shared_ptr<Result> result, int generation) {
    if (generation != generation_)
        return;
    if (job_) {
        job_->wait();
        job_.reset();
    }
    shown_ = std::move(result);
    std::vector<SeriesSpectrum> spectra;
    peaks_->clear();
    for (int s = 0; s < 3; ++s) {
        spectra.push_back(
            {Series(s), &shown_->spectra[std::size_t(s)], shown_->peaks[std::size_t(s)]});
        for (const SpectralPeak& peak : shown_->peaks[std::size_t(s)]) {
            auto* item = new QTreeWidgetItem(peaks_, {seriesName(Series(s)), hz(peak.hz),
                                                      QString::number(peak.amplitudeG, 'f', 4),
                                                      QString::number(peak.psdG2PerHz, 'g', 3)});
            for (int c = 1; c < 4; ++c)
                item->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
        }
    }
    spectrum_->setSpectra(std::move(spectra));
    const PowerSpectrum& x = shown_->spectra[0];
    basis_->setText(x.isEmpty() ? QStringLiteral("Too few samples for a spectrum.")
                                : QStringLiteral("Welch: Hann window, 50 % overlap, %1-sample "
                                                 "segments (%2 Hz apart), %3 averaged, at %4 "
                                                 "samples per second.")
                                      .arg(x.segmentLength)
                                      .arg(hz(x.binHz))
                                      .arg(x.segments)
                                      .arg(x.rateHz, 0, 'f', 1));
    spectrogram_->setSpectrogram(shown_->spectrogram, shown_->from, seriesName(shown_->axis));
    emit updated();
}

void SpectraPanel::restyle() {
    SpectrumStyle style = spectrum_->style();
    style.quantity =
        quantity_->currentIndex() == 1 ? SpectrumQuantity::Amplitude : SpectrumQuantity::Density;
    style.frequencyAxis = logFrequency_->isChecked() ? AxisScale::Logarithmic : AxisScale::Linear;
    style.valueAxis = logValue_->isChecked() ? AxisScale::Logarithmic : AxisScale::Linear;
    spectrum_->setStyle(style);
}

} // namespace features::analysis
