#pragma once

#include "drawing/View.h"
#include "features/analysis/PlotDrawing.h"

#include <QPointF>

namespace analysis {

// The whole-recording plot on screen. The mouse wheel and a pinch zoom the time axis around
// the pointer, a drag pans, a double click shows all; the cursor line follows the pointer and
// stays where the pointer left the plot.
class PlotWidget : public platform::View {
    Q_OBJECT
public:
    explicit PlotWidget(QWidget* parent = nullptr);

    // Shows `recording` whole. It must outlive the widget or be replaced first; null shows
    // an empty plot.
    void setRecording(const RecordingSeries* recording);
    const PlotView& view() const { return view_; }

    // Shows [from, to] seconds, kept within the recording and at least a few rows wide.
    void setSpan(double from, double to);
    void showAll();
    // Zooms the time axis by `factor` (above 1 zooms in) keeping the time under `x` in place.
    void zoomAt(double x, double factor);
    void setShown(Series series, bool shown);
    void setCursorTime(std::optional<double> seconds);

    // The time at a horizontal position in the widget.
    double timeAt(double x) const;

    void drawRect(platform::DrawingContext& context, platform::Rect rect) override;

signals:
    void spanChanged(double from, double to);
    void cursorMoved(double seconds);

protected:
    bool event(QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    const RecordingSeries* recording_ = nullptr;
    PlotView view_;
    std::vector<Column> columns_;
    bool dragging_ = false;
    QPointF dragStart_;
    double dragFrom_ = 0.0, dragTo_ = 0.0;
};

// A small amplitude spectrum of one series.
class SpectrumWidget : public platform::View {
    Q_OBJECT
public:
    explicit SpectrumWidget(QWidget* parent = nullptr);
    void setSpectrum(Spectrum spectrum, Series series);
    void drawRect(platform::DrawingContext& context, platform::Rect rect) override;

private:
    Spectrum spectrum_;
    Series series_ = Series::X;
};

} // namespace analysis
