#pragma once

#include <QTimer>
#include <QWidget>

class QPainter;

namespace screens {

// The 20-point bar across the top of the window, black and opaque: the sensor source at the
// left, the time in the middle, the sample rate actually delivered at the right (or that no
// sampling rate is selected, when sampling has not been started). A message from the source
// takes the place of all three: a notice for kNoticeSeconds, a lost source until it is back.
class StatusBar : public QWidget {
    Q_OBJECT
public:
    static constexpr int kHeight = 20;
    // Orientations in the platform's numbering.
    static constexpr int kPortrait = 1;
    static constexpr int kLandscapeLeft = 4;
    // How long a passing notice covers the source and the rate.
    static constexpr int kNoticeSeconds = 5;

    explicit StatusBar(QWidget* parent = nullptr);

    // 2 is black and opaque, the only style drawn.
    void setStatusBarStyle(int style) { style_ = style; }
    int statusBarStyle() const { return style_; }

    // Portrait or landscape left; sets where the bar lies in a window of `windowWidth`.
    void setStatusBarOrientation(int orientation, int windowWidth);
    int statusBarOrientation() const { return orientation_; }

    void setSource(const QString& description);
    void setRateSelected(bool selected);
    void setDeliveredRate(double samplesPerSecond);

    // A passing event: shown for kNoticeSeconds, then the bar shows what it showed before.
    void showNotice(const QString& message);
    // The source gives no readings: `message` stays until showNotice() or another
    // showLost(), and until clearLost() (the source is back).
    void showLost(const QString& message);
    void clearLost();
    // A hint that tells the user what to do, shown in place of the source and the time until
    // it is cleared with an empty string.
    void setHint(const QString& hint);
    QString hint() const { return hint_; }

    QString sourceText() const { return source_; }
    // The message covering the source and the rate now; empty when none does.
    QString messageText() const;
    // What the right-hand side shows, e.g. "80/s" or "No rate selected".
    QString rateText() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void paintHint(QPainter& painter, const QRect& inner);

    QTimer clock_;
    QTimer noticeEnd_;
    QString notice_;
    QString lost_;
    QString source_;
    QString hint_;
    double rate_ = 0.0;
    bool rateSelected_ = true;
    int style_ = 2;
    int orientation_ = kPortrait;
};

} // namespace screens
