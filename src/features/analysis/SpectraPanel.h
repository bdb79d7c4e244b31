#pragma once

#include "drawing/View.h"
#include "features/analysis/RecordingSeries.h"
#include "features/analysis/Spectrogram.h"
#include "features/analysis/SpectrumDrawing.h"

#include <QImage>
#include <QWidget>
#include <array>
#include <atomic>
#include <future>
#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QTreeWidget;

namespace features::analysis {

// The spectra of X, Y and Z over one frequency axis, amplitude or density, on linear or log
// axes, peaks marked; the pointer's frequency and the values there are read out on the plot.
class SpectrumView : public drawing::View {
    Q_OBJECT
public:
    explicit SpectrumView(QWidget* parent = nullptr);
    void setSpectra(std::vector<SeriesSpectrum> spectra);
    void setStyle(const SpectrumStyle& style);
    const SpectrumStyle& style() const { return style_; }
    // Puts the cursor at the frequency under `x` (widget coordinates).
    void setCursorAt(double x);
    void drawRect(drawing::DrawingContext& context, drawing::Rect rect) override;

signals:
    void cursorMoved(double hz);

protected:
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    std::vector<SeriesSpectrum> spectra_;
    SpectrumStyle style_;
};

// Time across, frequency up, density as colour (decibels of g²/Hz, the legend on the right).
class SpectrogramView : public QWidget {
    Q_OBJECT
public:
    explicit SpectrogramView(QWidget* parent = nullptr);
    // `fromSeconds` is the span's start, for the time axis.
    void setSpectrogram(Spectrogram spectrogram, double fromSeconds, const QString& axisName);
    const Spectrogram& spectrogram() const { return spectrogram_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Spectrogram spectrogram_;
    QImage image_;
    double from_ = 0.0;
    float lowDb_ = -100.0f, highDb_ = 0.0f;
    QString axisName_;
};

// The recordings window's spectra of the shown span: the spectrum view, its peak list and the
// spectrogram of one axis, with their controls. The numbers are worked out on a worker thread
// while the span rests, and only while the panel is shown.
class SpectraPanel : public QWidget {
    Q_OBJECT
public:
    explicit SpectraPanel(QWidget* parent = nullptr);
    ~SpectraPanel() override;

    // Shows the spectra of [from, to] seconds of `recording`, which must stay unchanged until
    // the next call; null clears and waits for any work on the old recording to stop.
    void setSpan(const RecordingSeries* recording, double from, double to);

    SpectrumView* spectrumView() const { return spectrum_; }
    SpectrogramView* spectrogramView() const { return spectrogram_; }
    // The peaks listed, one row per peak: axis, Hz, amplitude g, density g²/Hz.
    QTreeWidget* peakList() const { return peaks_; }
    // True while spectra are being worked out.
    bool isBusy() const { return bool(job_); }

signals:
    // The shown spectra were replaced.
    void updated();

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct Result;
    void start();
    void cancel();
    void present(std::shared_ptr<Result> result, int generation);
    void restyle();

    const RecordingSeries* recording_ = nullptr;
    double from_ = 0.0, to_ = 0.0;
    bool stale_ = false;
    int generation_ = 0;
    std::shared_ptr<std::atomic<bool>> cancelled_;
    std::unique_ptr<std::future<void>> job_;
    std::shared_ptr<Result> shown_;

    SpectrumView* spectrum_ = nullptr;
    SpectrogramView* spectrogram_ = nullptr;
    QTreeWidget* peaks_ = nullptr;
    QLabel* basis_ = nullptr;
    QComboBox* quantity_ = nullptr;
    QComboBox* axis_ = nullptr;
    QCheckBox* logFrequency_ = nullptr;
    QCheckBox* logValue_ = nullptr;
};

} // namespace features::analysis
