#include "features/analysis/PlotWidget.h"

#include <QGestureEvent>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPinchGesture>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace analysis {

namespace {

// The narrowest span: a few rows, so that a zoomed-in plot still shows a line.
constexpr int kFewestRows = 8;

} // namespace

PlotWidget::PlotWidget(QWidget* parent) : platform::View(parent) {
    setMouseTracking(true);
    setMinimumSize(320, 200);
    grabGesture(Qt::PinchGesture);
    setCursorTime(std::nullopt);
}

void PlotWidget::setRecording(const RecordingSeries* recording) {
    recording_ = recording;
    view_.cursor.reset();
    showAll();
}

void PlotWidget::showAll() {
    const double end = recording_ && recording_->duration() > 0.0 ? recording_->duration() : 1.0;
    setSpan(0.0, end);
}

void PlotWidget::setSpan(double from, double to) {
    const double whole = recording_ && recording_->duration() > 0.0 ? recording_->duration() : 1.0;
    const double rate = recording_ ? recording_->meanRate() : 0.0;
    const double narrowest = std::min(whole, rate > 0.0 ? kFewestRows / rate : 0.01);
    double span = std::clamp(to - from, narrowest, whole);
    if (!std::isfinite(span))
        span = whole;
    from = std::clamp(std::isfinite(from) ? from : 0.0, 0.0, whole - span);
    if (from == view_.from && from + span == view_.to)
        return;
    view_.from = from;
    view_.to = from + span;
    setNeedsDisplay();
    emit spanChanged(view_.from, view_.to);
}

void PlotWidget::zoomAt(double x, double factor) {
    if (!(factor > 0.0))
        return;
    const double anchor = timeAt(x);
    setSpan(anchor - (anchor - view_.from) / factor, anchor + (view_.to - anchor) / factor);
}

void PlotWidget::setShown(Series series, bool shown) {
    view_.shown[std::size_t(series)] = shown;
    setNeedsDisplay();
}

void PlotWidget::setCursorTime(std::optional<double> seconds) {
    view_.cursor = seconds;
    setNeedsDisplay();
    if (seconds)
        emit cursorMoved(*seconds);
}

double PlotWidget::timeAt(double x) const {
    const platform::Rect area = plotArea(bounds());
    const double f = std::clamp((x - area.x) / area.width, 0.0, 1.0);
    return view_.from + f * (view_.to - view_.from);
}

void PlotWidget::drawRect(platform::DrawingContext& context, platform::Rect) {
    static const RecordingSeries empty;
    drawPlot(context, bounds(), recording_ ? *recording_ : empty, view_, columns_);
}

bool PlotWidget::event(QEvent* event) {
    if (event->type() == QEvent::NativeGesture) {
        // Touchpad pinch: value() is the change of scale since the last event.
        auto* gesture = static_cast<QNativeGestureEvent*>(event);
        if (gesture->gestureType() == Qt::ZoomNativeGesture) {
            zoomAt(gesture->position().x(), 1.0 + gesture->value());
            return true;
        }
    } else if (event->type() == QEvent::Gesture) {
        // Touch-screen pinch.
        auto* gestures = static_cast<QGestureEvent*>(event);
        if (auto* pinch = static_cast<QPinchGesture*>(gestures->gesture(Qt::PinchGesture))) {
            zoomAt(mapFromGlobal(pinch->centerPoint()).x(), pinch->scaleFactor());
            return true;
        }
    }
    return platform::View::event(event);
}

void PlotWidget::wheelEvent(QWheelEvent* event) {
    // One notch (120) zooms by a fifth; trackpads send smaller steps.
    const double notches = event->angleDelta().y() / 120.0;
    if (notches != 0.0)
        zoomAt(event->position().x(), std::pow(1.25, notches));
    event->accept();
}

void PlotWidget::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    dragging_ = true;
    dragStart_ = event->position();
    dragFrom_ = view_.from;
    dragTo_ = view_.to;
}

void PlotWidget::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_) {
        const double perPixel = (dragTo_ - dragFrom_) / plotArea(bounds()).width;
        const double shift = (event->position().x() - dragStart_.x()) * perPixel;
        setSpan(dragFrom_ - shift, dragTo_ - shift);
    }
    if (recording_ && !recording_->isEmpty())
        setCursorTime(timeAt(event->position().x()));
}

void PlotWidget::mouseReleaseEvent(QMouseEvent*) {
    dragging_ = false;
}

void PlotWidget::mouseDoubleClickEvent(QMouseEvent*) {
    showAll();
}

SpectrumWidget::SpectrumWidget(QWidget* parent) : platform::View(parent) {
    setMinimumSize(200, 120);
}

void SpectrumWidget::setSpectrum(Spectrum spectrum, Series series) {
    spectrum_ = std::move(spectrum);
    series_ = series;
    setNeedsDisplay();
}

void SpectrumWidget::drawRect(platform::DrawingContext& context, platform::Rect) {
    drawSpectrum(context, bounds(), spectrum_, series_);
}

} // namespace analysis
