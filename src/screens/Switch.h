#pragma once

#include <QAbstractButton>

namespace platform {

// An on/off switch: a rounded track with a sliding knob, toggled by a click or the space bar.
class Switch : public QAbstractButton {
    Q_OBJECT
    Q_PROPERTY(bool on READ isOn WRITE setOn)
public:
    explicit Switch(QWidget* parent = nullptr);

    bool isOn() const { return isChecked(); }
    void setOn(bool on) { setChecked(on); }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace platform
