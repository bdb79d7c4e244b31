#pragma once

#include <QColor>
#include <QGraphicsView>

class QGraphicsProxyWidget;

namespace screens {

// The application's top-level window. The interface is laid out once, in points, for a
// 320 x 480 phone screen (480 x 320 while the gauges are shown); this window shows that layout
// scaled as a whole to fit, keeping its proportions, centred on a letterbox colour. Widgets
// paint through the scaling transform, so text and vector drawing stay sharp at any size.
//
// The window takes the layout's title and follows its size when the layout turns. F11
// switches full screen. Closing the window closes the layout first, so that whoever watches
// the layout's close event (a running recording) hears of it.
class FittedWindow : public QGraphicsView {
    Q_OBJECT
public:
    // Takes `layout`, a parentless widget, and shows it in this window.
    explicit FittedWindow(QWidget* layout);
    // Gives the layout back, parentless; its owner deletes it.
    ~FittedWindow() override;

    QWidget* layout() const { return layout_; }

    // Points of the layout per point of this window's width and height (1 at the layout's own
    // size, 2 when the window is twice as large).
    double layoutScale() const { return scale_; }
    // Device pixels per layout point: the layout scale times the screen's pixel ratio. Images
    // drawn into the layout are chosen by it.
    double deviceScale() const;

    void setLetterboxColor(const QColor& color);
    QColor letterboxColor() const { return backgroundBrush().color(); }

    // A size for the first window on `available` (the screen's free area, in points): the
    // layout at the largest whole scale (1, 2 or 3) that fits with room for the window frame;
    // on a screen too small for even that, the largest size that fits, in proportion.
    static QSize initialSize(QSize layoutSize, QSize available);
    // `size`, or less in proportion so that it fits `room`.
    static QSize shrunkToFit(QSize size, QSize room);

    // The window-frame allowance initialSize() leaves free, in points.
    static constexpr int kFrameAllowance = 48;

signals:
    // The device scale changed; images may need another resolution.
    void deviceScaleChanged(double deviceScale);

protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Fills the letterbox only: the layout paints its own background.
    void drawBackground(QPainter* painter, const QRectF& rect) override;

private:
    void fit();
    void toggleFullScreen();
    // Gives the keyboard focus to the next (or previous) control of the layout that takes it.
    void moveFocus(bool forward);
    // Turns the window with the layout when it changes between portrait and landscape.
    void followLayoutTurn(QSize before, QSize after);

    QWidget* layout_;
    QGraphicsProxyWidget* proxy_;
    double scale_ = 1.0;
    double reportedDeviceScale_ = 0.0;
};

} // namespace screens
