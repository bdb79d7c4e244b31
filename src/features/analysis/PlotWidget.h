#pragma once

#include "drawing/View.h"
#include "features/analysis/PlotDrawing.h"

#include <QPointF>
#include <cstdint>
#include <vector>

namespace features::analysis {

class LiveFeed;

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
    // Follows the running source: shows the newest `seconds` of `feed` (which must outlive the
    // widget or be left first), moved on by advanceLive(), keeping the cursors, markers and
    // other choices. Times are the feed's, so cursors and markers move along with the readings.
    void followLive(const LiveFeed* feed, double seconds);
    // Moves a followed view on to the newest readings. The picture on screen is scrolled and
    // only the columns that came since are drawn; it is drawn whole only when the value range,
    // the size or the span changes.
    void advanceLive();
    bool isFollowing() const { return feed_ != nullptr; }
    // While following: the readings the pointer's readout reads (the view's latest copy).
    void setLiveValues(const RecordingSeries* recording) { recording_ = recording; }
    // Stops following and shows `frozen` (the followed span's readings) over the same span,
    // keeping the cursors, markers and other choices, for every tool of a recording.
    void freeze(const RecordingSeries* frozen);
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
    // The user zoomed, panned or selected while following the source: the view must stand
    // still for that, so the window freezes it (freeze()) before the change is made.
    void followingInterrupted();
    void valueRangeChanged();

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    enum class Drag { None, Pan, Select };
    // The recording's first and last times: a file starts at 0, a frozen live view at the time
    // its span started.
    double start() const;
    double whole() const;
    // Asks the window to freeze a followed view before a change the user makes.
    void interruptFollowing();
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

    // Following live: the feed, the span shown, the columns on screen (one per pixel column of
    // the plot area, newest last) and the index of the newest (its end time over the column's
    // seconds), the g range of each panel, and whether the picture must be drawn whole.
    const LiveFeed* feed_ = nullptr;
    double liveSeconds_ = 60.0;
    std::vector<Column> liveColumns_;
    std::int64_t liveNewest_ = 0;
    double liveStep_ = 0.0;
    std::vector<std::pair<double, double>> liveRanges_;
    bool liveWhole_ = true;
    // Columns scrolled on screen whose paint has not come yet.
    bool livePending_ = false;
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
