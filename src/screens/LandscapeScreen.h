#pragma once

#include <QGraphicsView>

class QGraphicsProxyWidget;

namespace screens {

// Holds a screen that is laid out for landscape inside a portrait window: the screen keeps
// its own bounds (480 x 320) and is drawn turned and centred, yet its controls still take
// taps. Widgets cannot be rotated; a graphics view showing the screen through a proxy can.
//
// setDeviceRotation() turns everything this host shows once more, for a desktop window that
// has been turned to landscape as a phone would be turned by its user.
class LandscapeScreen : public QGraphicsView {
    Q_OBJECT
public:
    // Takes `screen` out of its parent and shows it here; the host takes the parent's place.
    explicit LandscapeScreen(QWidget* screen, QWidget* window);

    QWidget* screen() const { return screen_; }

    // The screen's size in its own coordinates.
    void setScreenBounds(const QSizeF& size);
    QSizeF screenBounds() const;
    // The screen's turn in degrees, clockwise, about its centre.
    void setScreenRotation(double degrees);
    double screenRotation() const;
    // The screen's size factor about its centre (1: its own size).
    void setScreenScale(double scale);
    // Where the screen's centre lies, in window coordinates.
    void setScreenCenter(const QPointF& center);
    QPointF screenCenter() const;

    // Shows the whole portrait layout turned by `degrees` (0 or 90) inside a window of `size`.
    void setDeviceRotation(int degrees, const QSize& size);
    int deviceRotation() const { return deviceRotation_; }

private:
    void place();

    QWidget* screen_;
    QGraphicsProxyWidget* proxy_;
    QSizeF portrait_;
    QPointF center_;
    int deviceRotation_ = 0;
};

} // namespace screens
