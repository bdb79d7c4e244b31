#include "features/analysis/PlotWidget.h"

#include "drawing/PainterContext.h"
#include "features/analysis/LiveFeed.h"

#include <QDateTime>
#include <QGestureEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPinchGesture>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <utility>

namespace features::analysis {

namespace {

// The narrowest span: a few rows, so that a zoomed-in plot still shows a line.
constexpr int kFewestRows = 8;

// A followed view's fitted range is widened by this much, and fitted again only when the
// readings leave it or shrink to under kRefitBelow of it: each new range redraws the whole
// picture, which a range following every frame would do at every frame.
constexpr double kLiveHeadroom = 1.3;
constexpr double kRefitBelow = 0.4;

} // namespace

PlotWidget::PlotWidget(QWidget* parent) : drawing::View(parent) {
    // Every pixel is drawn opaque, so nothing behind is painted first, and a followed view's
    // picture can be scrolled where it stands.
    setAttribute(Qt::WA_OpaquePaintEvent, true);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(320, 200);
    grabGesture(Qt::PinchGesture);
    setCursorTime(std::nullopt);
}

void PlotWidget::setRecording(const RecordingSeries* recording) {
    feed_ = nullptr;
    recording_ = recording;
    view_.cursor.reset();
    view_.cursorA.reset();
    view_.cursorB.reset();
    view_.selection.reset();
    view_.markers.clear();
    backSpans_.clear();
    forwardSpans_.clear();
    showAll();
    emit cursorsChanged();
}

double PlotWidget::start() const {
    return recording_ && !recording_->isEmpty() ? recording_->startTime() : 0.0;
}

double PlotWidget::whole() const {
    return recording_ && recording_->duration() > 0.0 ? start() + recording_->duration()
                                                      : start() + 1.0;
}

void PlotWidget::showAll() {
    setSpan(start(), whole(), true);
}

void PlotWidget::interruptFollowing() {
    if (feed_)
        emit followingInterrupted();
}

void PlotWidget::followLive(const LiveFeed* feed, double seconds) {
    feed_ = feed;
    liveSeconds_ = seconds > 0.0 ? seconds : 60.0;
    liveWhole_ = true;
    advanceLive();
}

void PlotWidget::freeze(const RecordingSeries* frozen) {
    feed_ = nullptr;
    recording_ = frozen;
    const double from = view_.from, to = view_.to;
    // Moved off the span first, so that setSpan() does not take the same numbers for no change.
    view_.to = view_.from;
    setSpan(from, to);
    setNeedsDisplay();
}

void PlotWidget::advanceLive() {
    if (!feed_)
        return;
    const drawing::Rect area = plotArea(bounds());
    const int count = std::max(1, int(area.width));
    const double step = liveSeconds_ / count;
    // Column k holds [k step, (k + 1) step): a column keeps its place in time while the view
    // moves on, so the picture of the columns before the newest stays right, only further left.
    const auto newest = std::int64_t(std::floor(feed_->newestTime() / step));
    const std::int64_t shift = newest - liveNewest_;
    bool whole = liveWhole_ || livePending_ || step != liveStep_ ||
                 int(liveColumns_.size()) != count || shift < 0 || shift >= count;
    if (whole) {
        liveColumns_.assign(std::size_t(count), Column{});
        feed_->columns(newest - count + 1, step, count, liveColumns_.data());
    } else {
        std::move(liveColumns_.begin() + shift, liveColumns_.end(), liveColumns_.begin());
        // The newest column of the last frame may have gained readings since.
        feed_->columns(liveNewest_, step, int(shift) + 1,
                       liveColumns_.data() + (count - 1 - int(shift)));
    }
    liveNewest_ = newest;
    liveStep_ = step;
    view_.to = double(newest + 1) * step;
    view_.from = double(newest + 1 - count) * step;

    const std::vector<std::pair<double, double>> fitted = panelRanges(liveColumns_, view_);
    if (fitted.size() != liveRanges_.size())
        liveRanges_.assign(fitted.size(), {0.0, 0.0});
    for (std::size_t p = 0; p < fitted.size(); ++p) {
        auto& kept = liveRanges_[p];
        const auto [low, high] = fitted[p];
        if (view_.fixedRange) {
            whole = whole || kept != fitted[p];
            kept = fitted[p];
        } else if (low < kept.first || high > kept.second ||
                   high - low < kRefitBelow * (kept.second - kept.first)) {
            const double middle = 0.5 * (low + high), half = 0.5 * (high - low) * kLiveHeadroom;
            kept = {middle - half, middle + half};
            whole = true;
        }
    }
    liveWhole_ = false;
    livePending_ = true;
    if (whole) {
        update();
        return;
    }
    // The plot area and the time labels under it move left with the readings; Qt moves what is
    // on screen, and only the strip that comes into view is painted.
    const QRect plotRect(int(area.x), int(area.y), count, int(area.height));
    const int labelsTop = int(area.y + area.height);
    const QRect labelsRect(0, labelsTop, width(), height() - labelsTop);
    if (shift > 0) {
        scroll(-int(shift), 0, plotRect);
        scroll(-int(shift), 0, labelsRect);
    }
    // One rectangle from the columns that came (and the last one, which may have grown) to the
    // widget's corner, over the labels that came into view too: a paint of one rectangle is
    // drawn straight into the window's pixels, where one of two would go through QPainter.
    const int left = plotRect.right() - int(shift);
    update(QRect(left, plotRect.top(), width() - left, height() - plotRect.top()));
}

void PlotWidget::paintEvent(QPaintEvent* event) {
    if (!feed_) {
        drawing::View::paintEvent(event);
        return;
    }
    QPainter painter(this);
    drawing::PainterContext context(painter);
    const QRect r = event->rect();
    drawRect(context, {float(r.x()), float(r.y()), float(r.width()), float(r.height())});
}

void PlotWidget::rememberSpan() {
    const std::pair<double, double> now{view_.from, view_.to};
    if (backSpans_.empty() || backSpans_.back() != now)
        backSpans_.push_back(now);
    // A hundred steps back is more than anyone retraces.
    if (backSpans_.size() > 100)
        backSpans_.erase(backSpans_.begin());
    forwardSpans_.clear();
}

void PlotWidget::setSpan(double from, double to, bool remember) {
    if (feed_) {
        // A followed view moves by itself; the user's span needs it frozen first.
        interruptFollowing();
        if (feed_)
            return;
    }
    const double first = start(), all = whole() - first;
    const double rate = recording_ ? recording_->meanRate() : 0.0;
    const double narrowest = std::min(all, rate > 0.0 ? kFewestRows / rate : 0.01);
    double span = std::clamp(to - from, narrowest, all);
    if (!std::isfinite(span))
        span = all;
    from = std::clamp(std::isfinite(from) ? from : first, first, first + all - span);
    if (from == view_.from && from + span == view_.to)
        return;
    if (remember)
        rememberSpan();
    view_.from = from;
    view_.to = from + span;
    setNeedsDisplay();
    emit spanChanged(view_.from, view_.to);
}

bool PlotWidget::back() {
    if (backSpans_.empty())
        return false;
    forwardSpans_.push_back({view_.from, view_.to});
    const auto [from, to] = backSpans_.back();
    backSpans_.pop_back();
    setSpan(from, to);
    return true;
}

bool PlotWidget::forward() {
    if (forwardSpans_.empty())
        return false;
    backSpans_.push_back({view_.from, view_.to});
    const auto [from, to] = forwardSpans_.back();
    forwardSpans_.pop_back();
    setSpan(from, to);
    return true;
}

void PlotWidget::zoomAt(double x, double factor) {
    if (!(factor > 0.0))
        return;
    const double anchor = timeAt(x);
    setSpan(anchor - (anchor - view_.from) / factor, anchor + (view_.to - anchor) / factor);
}

void PlotWidget::zoomValuesAt(double y, double factor) {
    if (!(factor > 0.0) || panels_.empty())
        return;
    const Panel* panel = &panels_.front();
    for (const Panel& p : panels_)
        if (y >= p.area.y && y <= p.area.y + p.area.height)
            panel = &p;
    const double f = std::clamp((y - panel->area.y) / panel->area.height, 0.0, 1.0);
    const double anchor = panel->high - f * (panel->high - panel->low);
    const double low = anchor - (anchor - panel->low) / factor;
    const double high = anchor + (panel->high - anchor) / factor;
    // A thousandth of a g still shows an elevator's creep; a thousand g is beyond any sensor.
    if (high - low < 1e-3 || high - low > 1e3)
        return;
    setFixedRange(std::pair{low, high});
}

void PlotWidget::pan(double fraction) {
    const double width = view_.to - view_.from;
    setSpan(view_.from + fraction * width, view_.to + fraction * width);
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

void PlotWidget::setCursorA(std::optional<double> seconds) {
    view_.cursorA = seconds;
    setNeedsDisplay();
    emit cursorsChanged();
}

void PlotWidget::setCursorB(std::optional<double> seconds) {
    view_.cursorB = seconds;
    setNeedsDisplay();
    emit cursorsChanged();
}

void PlotWidget::setUnits(Units units) {
    view_.units = units;
    setNeedsDisplay();
}

void PlotWidget::setLayout(PanelLayout layout) {
    view_.layout = layout;
    setNeedsDisplay();
}

void PlotWidget::setFixedRange(std::optional<std::pair<double, double>> range) {
    view_.fixedRange = range;
    setNeedsDisplay();
    emit valueRangeChanged();
}

void PlotWidget::setMarkers(std::vector<Marker> markers) {
    view_.markers = std::move(markers);
    setNeedsDisplay();
}

double PlotWidget::timeAt(double x) const {
    const drawing::Rect area = plotArea(bounds());
    const double f = std::clamp((x - area.x) / area.width, 0.0, 1.0);
    return view_.from + f * (view_.to - view_.from);
}

double PlotWidget::pointedTime() const {
    if (view_.cursor && *view_.cursor >= view_.from && *view_.cursor <= view_.to)
        return *view_.cursor;
    return 0.5 * (view_.from + view_.to);
}

void PlotWidget::drawRect(drawing::DrawingContext& context, drawing::Rect rect) {
    static const RecordingSeries empty;
    const RecordingSeries& shown = recording_ ? *recording_ : empty;
    if (!feed_) {
        panels_ = drawPlot(context, bounds(), shown, view_, columns_);
        return;
    }
    // A resize since the columns were worked out: the whole picture is painted now anyway.
    if (int(liveColumns_.size()) != std::max(1, int(plotArea(bounds()).width)))
        advanceLive();
    livePending_ = false;
    const GivenColumns given{liveRanges_, rect, liveStep_};
    panels_ = drawPlot(context, bounds(), shown, view_, liveColumns_,
                       PlotStyle::forTheme(PlotTheme::Dark), &given);
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
    } else if (event->type() == QEvent::ShortcutOverride) {
        // The plot's own keys win over the window's shortcuts while it has the focus.
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->matches(QKeySequence::Undo) || key->matches(QKeySequence::Redo) ||
            key->key() == Qt::Key_Backspace) {
            event->accept();
            return true;
        }
    }
    return drawing::View::event(event);
}

void PlotWidget::wheelEvent(QWheelEvent* event) {
    // One notch (120) zooms by a fifth; trackpads send smaller steps.
    const double notches = event->angleDelta().y() / 120.0;
    if (notches != 0.0) {
        if (event->modifiers() & Qt::ControlModifier) {
            zoomValuesAt(event->position().y(), std::pow(1.25, notches));
        } else {
            // A turn of the wheel is one step back, however many notches it took.
            const qint64 now = QDateTime::currentMSecsSinceEpoch();
            if (now - lastWheelMs_ > 600)
                rememberSpan();
            lastWheelMs_ = now;
            zoomAt(event->position().x(), std::pow(1.25, notches));
        }
    }
    event->accept();
}

void PlotWidget::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers mods =
        event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    const double width = view_.to - view_.from;
    if (event->matches(QKeySequence::Undo)) {
        back();
        return;
    }
    if (event->matches(QKeySequence::Redo)) {
        forward();
        return;
    }
    switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        rememberSpan();
        zoomAt(plotArea(bounds()).x + plotArea(bounds()).width / 2.0f, 1.5);
        return;
    case Qt::Key_Minus:
    case Qt::Key_Underscore:
        rememberSpan();
        zoomAt(plotArea(bounds()).x + plotArea(bounds()).width / 2.0f, 1.0 / 1.5);
        return;
    case Qt::Key_Left:
        if (mods == Qt::AltModifier)
            back();
        else
            pan(-0.1);
        return;
    case Qt::Key_Right:
        if (mods == Qt::AltModifier)
            forward();
        else
            pan(0.1);
        return;
    case Qt::Key_Back:
    case Qt::Key_Backspace:
        back();
        return;
    case Qt::Key_Forward:
        forward();
        return;
    case Qt::Key_PageUp:
        setSpan(view_.from - width, view_.to - width, true);
        return;
    case Qt::Key_PageDown:
        setSpan(view_.from + width, view_.to + width, true);
        return;
    case Qt::Key_Home:
        setSpan(start(), start() + width, true);
        return;
    case Qt::Key_End:
        setSpan(whole() - width, whole(), true);
        return;
    case Qt::Key_Up:
        zoomValuesAt(height() / 2.0, 1.25);
        return;
    case Qt::Key_Down:
        zoomValuesAt(height() / 2.0, 1.0 / 1.25);
        return;
    case Qt::Key_F:
        showAll();
        return;
    case Qt::Key_A:
        setCursorA(pointedTime());
        return;
    case Qt::Key_B:
        setCursorB(pointedTime());
        return;
    case Qt::Key_M:
        emit markerRequested(pointedTime());
        return;
    case Qt::Key_Escape:
        view_.cursorA.reset();
        view_.cursorB.reset();
        view_.selection.reset();
        setNeedsDisplay();
        emit cursorsChanged();
        return;
    default:
        drawing::View::keyPressEvent(event);
    }
}

void PlotWidget::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        drawing::View::mousePressEvent(event);
        return;
    }
    setFocus(Qt::MouseFocusReason);
    const drawing::Rect area = plotArea(bounds());
    const bool onTimeAxis = event->position().y() > area.y + area.height;
    drag_ = (event->modifiers() & Qt::ShiftModifier) || onTimeAxis ? Drag::Select : Drag::Pan;
    dragMoved_ = false;
    dragStart_ = event->position();
    dragFrom_ = view_.from;
    dragTo_ = view_.to;
}

void PlotWidget::mouseMoveEvent(QMouseEvent* event) {
    if (drag_ != Drag::None && !dragMoved_ &&
        (event->position() - dragStart_).manhattanLength() >= 4.0) {
        dragMoved_ = true;
        if (drag_ == Drag::Pan)
            rememberSpan();
    }
    if (drag_ == Drag::Pan && dragMoved_) {
        const double perPixel = (dragTo_ - dragFrom_) / plotArea(bounds()).width;
        const double shift = (event->position().x() - dragStart_.x()) * perPixel;
        setSpan(dragFrom_ - shift, dragTo_ - shift);
    } else if (drag_ == Drag::Select && dragMoved_) {
        interruptFollowing();
        view_.selection = std::pair{timeAt(dragStart_.x()), timeAt(event->position().x())};
        setNeedsDisplay();
    }
    if (recording_ && !recording_->isEmpty())
        setCursorTime(timeAt(event->position().x()));
}

void PlotWidget::mouseReleaseEvent(QMouseEvent* event) {
    const Drag drag = std::exchange(drag_, Drag::None);
    if (drag == Drag::None || event->button() != Qt::LeftButton)
        return;
    if (!dragMoved_) {
        if (recording_ && !recording_->isEmpty()) {
            if (event->modifiers() & Qt::ControlModifier)
                setCursorB(timeAt(event->position().x()));
            else
                setCursorA(timeAt(event->position().x()));
        }
        return;
    }
    if (drag == Drag::Select && view_.selection) {
        const auto [a, b] = *std::exchange(view_.selection, std::nullopt);
        setNeedsDisplay();
        if (std::abs(event->position().x() - dragStart_.x()) >= 4.0)
            setSpan(std::min(a, b), std::max(a, b), true);
    }
}

void PlotWidget::mouseDoubleClickEvent(QMouseEvent*) {
    showAll();
}

SpectrumWidget::SpectrumWidget(QWidget* parent) : drawing::View(parent) {
    setMinimumSize(200, 120);
}

void SpectrumWidget::setSpectrum(Spectrum spectrum, Series series) {
    spectrum_ = std::move(spectrum);
    series_ = series;
    setNeedsDisplay();
}

void SpectrumWidget::drawRect(drawing::DrawingContext& context, drawing::Rect) {
    drawSpectrum(context, bounds(), spectrum_, series_);
}

} // namespace features::analysis
