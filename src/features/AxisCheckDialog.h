#pragma once

#include "features/AxisCheck.h"

#include <QDialog>

class QLabel;
class QPushButton;

namespace sensors {
class AccelerometerDriver;
}

// The guided axis check in a window: what to do, the live reading, a Measure button for each
// pose, and the map it stored. For a source whose axes cannot be turned it only says so.
class AxisCheckDialog : public QDialog {
    Q_OBJECT
public:
    AxisCheckDialog(sensors::AccelerometerDriver* driver,
                    std::function<std::optional<sensors::Acceleration>()> latest,
                    QWidget* parent = nullptr);

    AxisCheck& check() { return check_; }
    // The map stored at the end; empty before.

private:
    void showStep();
    void showStepText();
    // Gives the wrapped texts the height they take at the dialog's width.
    void fitToText();
    void showReading();

    sensors::AccelerometerDriver* driver_;
    std::function<std::optional<sensors::Acceleration>()> latest_;
    AxisCheck check_;
    QLabel* instruction_ = nullptr;
    QLabel* reading_ = nullptr;
    QLabel* problem_ = nullptr;
    QPushButton* measure_ = nullptr;
    QPushButton* close_ = nullptr;
    QTimer readingTimer_;
    QString stored_;
};
