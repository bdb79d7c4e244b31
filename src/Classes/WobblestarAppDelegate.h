#pragma once

#include "platform/accel/Accelerometer.h"
#include "ui_Wobblestar.h"

#include <QObject>

#include <memory>

// The application's controller: routes every accelerometer sample to the graph and the gauges,
// sets the sample rate, and answers the controls of the five screens.
//
// The window and the screens come from the interface file; `ui` holds them under the names
// the interface file gives them (graphView, segmentcontroller, xAxis, ...).
class WobblestarAppDelegate : public QObject, public platform::AccelerometerDelegate {
    Q_OBJECT
public:
    explicit WobblestarAppDelegate(QObject* parent = nullptr);
    ~WobblestarAppDelegate() override;

    // One sample: masked by the axis switches into the graph, unmasked into x, y, z and the
    // gauges.
    void accelerometer(platform::Accelerometer& accelerometer,
                       const platform::Acceleration& acceleration) override;

    // Sets the accelerometer's interval from the sampling-rate control (index 0, 1, 2: 40, 80,
    // 120 samples per second) and registers this delegate. Any other index changes nothing.
    void applySampleRate();

    // The application's only window.
    QWidget* window() const { return window_.get(); }

    // The interface file's objects, by their names.
    Ui::Wobblestar ui;

    // The latest sample in g, unmasked and unfiltered; 0.0 until the first sample.
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;

private:
    std::unique_ptr<QWidget> window_;
};
