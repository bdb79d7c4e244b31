#pragma once

#include <QAbstractButton>

namespace screens {

// An on/off switch: a rounded track with a sliding knob, toggled by a click or the space bar.
class Switch : public QAbstractButton {
    Q_OBJECT
    Q_PROPERTY(bool on READ isOn WRITE setOn)
public:
    explicit Switch(QWidget* parent = nullptr);

    bool isOn() const { return isChecked(); }
    void setOn(bool on) { setChecked(on); }

    QSize sizeHint() const override;

    // A click on `label` (the words beside the switch) flips the switch, as a click on the
    // switch does.
    void takeClicksOf(QWidget* label);

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace screens
