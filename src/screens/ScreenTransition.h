#pragma once

#include <QPixmap>
#include <QPointer>
#include <QVariantAnimation>
#include <QWidget>

namespace screens {

// Transition kinds in the platform's numbering.
enum class Transition { None = 0, FlipFromLeft = 1, FlipFromRight = 2, CurlUp = 3, CurlDown = 4 };

// Animates a change of screens inside one window, the way the platform's animation blocks do:
//
//   transition.beginAnimations();
//   transition.setAnimationDuration(1.0);
//   transition.setAnimationTransition(Transition::CurlUp, window); // takes the picture before
//   ... hide one screen, show another ...
//   transition.commitAnimations();                                 // animates to the new state
//
// The widgets change at once; only the picture is animated, by an overlay laid over the window
// that swallows every mouse and key event while it runs, so the controls are inert. With the
// environment variable WOBBLESTAR_ANIMATIONS=0 every transition is instant.
class ScreenTransition : public QWidget {
    Q_OBJECT
public:
    explicit ScreenTransition(QWidget* window);

    // False when WOBBLESTAR_ANIMATIONS is "0"; read once.
    static bool animationsEnabled();

    void beginAnimations();
    void setAnimationDuration(double seconds) { duration_ = seconds; }
    void setAnimationTransition(Transition kind, QWidget* view);
    void commitAnimations();

    bool isRunning() const { return animation_.state() == QAbstractAnimation::Running; }
    // The kind and duration of the last committed transition.
    Transition kind() const { return kind_; }
    double duration() const { return duration_; }
    // Ends a running transition at once, on its final picture.
    void finish();

signals:
    void finished();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void takeFinalPicture();
    void drawFlip(QPainter& painter, double t);
    void drawCurl(QPainter& painter, double t);

    QVariantAnimation animation_;
    QPointer<QWidget> view_;
    QPointer<QWidget> focusBefore_;
    QPixmap before_;
    QPixmap after_;
    Transition kind_ = Transition::None;
    Transition pendingKind_ = Transition::None;
    double duration_ = 0.0;
    bool grabbing_ = false;
};

} // namespace screens
