#pragma once

#include "drawing/View.h"
#include "features/analysis/PlotDrawing.h"

#include <QPointF>
#include <vector>

namespace features::analysis {

// The whole-recording plot on screen.
//
// Mouse: the wheel and a pinch zoom the time axis around the pointer, Ctrl+wheel the value
// axis; a drag pans; Shift+drag, or a drag along the time axis below the plot, selects a span
// and zooms to it; a click places cursor A, Ctrl+click cursor B; a double click shows all.
// Keys (the plot takes focus when clicked): + and − zoom, Left/Right pan a tenth of the span,
// PageUp/PageDown a whole span, Home/End go to the start or the end, Alt+Left, Backspace and
// Ctrl+Z go back through the zooms, Alt+Right and Ctrl+Shift+Z forward, F fits all, A and B
// place the cursors at the pointer, Escape clears them, M asks for a marker there.
class PlotWidget : public drawing::View {
    Q_OBJECT
public:
    explicit PlotWidget(QWidget* parent = nullptr);

    // Shows `recording` whole. It must outlive the widget or be replaced first; null shows
    // an empty plot.
    void setRecording(const RecordingSeries* recording);
    const PlotView& view() const { return view_; }

    // Shows [from, to] seconds, kept within the recording and at least a few rows wide. A span
    // set by a zoom the user may want to undo goes into the history with `remember`.
    void setSpan(double from, double to, bool remember = false);
    // The recording grew or scrolled (a live view), or was replaced by its next state: shows
    // it whole, keeping the cursors, markers and other choices.
    void followRecording(const RecordingSeries* next = nullptr);
    void showAll();
    // Zooms the time axis by `factor` (above 1 zooms in) keeping the time under `x` in place.
    void zoomAt(double x, double factor);
    // Zooms the value axis by `factor` keeping the value under `y` in place; fixes the range.
    void zoomValuesAt(double y, double factor);
    // Back and forward through the spans the zooms left.
    bool back();
    bool forward();
    bool canGoBack() const { return !backSpans_.empty(); }

    void setShown(Series series, bool shown);
    void setCursorTime(std::optional<double> seconds);
    void setCursorA(std::optional<double> seconds);
    void setCursorB(std::optional<double> seconds);
    void setUnits(Units units);
    void setLayout(PanelLayout layout);
    // A fixed g range, or none to fit each panel to the span.
    void setFixedRange(std::optional<std::pair<double, double>> range);
    void setMarkers(std::vector<Marker> markers);

    // The time at a horizontal position in the widget.
    double timeAt(double x) const;
    // Where the keys' cursors and markers go: the pointer's time, else the span's middle.
    double pointedTime() const;

    void drawRect(drawing::DrawingContext& context, drawing::Rect rect) override;

signals:
    void spanChanged(double from, double to);
    void cursorMoved(double seconds);
    // Cursor A or B moved or was cleared.
    void cursorsChanged();
    // The user asked for a marker at `seconds` (key M).
    void markerRequested(double seconds);
    void valueRangeChanged();

protected:
    bool event(QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    enum class Drag { None, Pan, Select };
    double whole() const;
    void rememberSpan();
    void pan(double fraction);

    const RecordingSeries* recording_ = nullptr;
    PlotView view_;
    std::vector<Column> columns_;
    std::vector<Panel> panels_;
    std::vector<std::pair<double, double>> backSpans_, forwardSpans_;
    Drag drag_ = Drag::None;
    bool dragMoved_ = false;
    QPointF dragStart_;
    double dragFrom_ = 0.0, dragTo_ = 0.0;
    qint64 lastWheelMs_ = 0;
};

// A small amplitude spectrum of one series.
class SpectrumWidget : public drawing::View {
    Q_OBJECT
public:
    explicit SpectrumWidget(QWidget* parent = nullptr);
    void setSpectrum(Spectrum spectrum, Series series);
    void drawRect(drawing::DrawingContext& context, drawing::Rect rect) override;

private:
    Spectrum spectrum_;
    Series series_ = Series::X;
};

} // namespace features::analysis
