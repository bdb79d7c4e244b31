#include "Classes/WobblestarAppDelegate.h"

using platform::Accelerometer;

WobblestarAppDelegate::WobblestarAppDelegate(QObject* parent)
    : QObject(parent), window_(std::make_unique<QWidget>()) {
    ui.setupUi(window_.get());
}

WobblestarAppDelegate::~WobblestarAppDelegate() {
    // The accelerometer outlives every delegate; it must not call one that is gone.
    Accelerometer& accelerometer = Accelerometer::sharedAccelerometer();
    if (accelerometer.delegate() == this)
        accelerometer.setDelegate(nullptr);
}

void WobblestarAppDelegate::accelerometer(Accelerometer& /*accelerometer*/,
                                          const platform::Acceleration& acceleration) {
    const float graphX = ui.xAxis->isOn() ? static_cast<float>(acceleration.x) : 0.0f;
    const float graphY = ui.yAxis->isOn() ? static_cast<float>(acceleration.y) : 0.0f;
    const float graphZ = ui.zAxis->isOn() ? static_cast<float>(acceleration.z) : 0.0f;
    ui.graphView->updateHistoryWithX(graphX, graphY, graphZ);

    x = static_cast<float>(acceleration.x);
    y = static_cast<float>(acceleration.y);
    z = static_cast<float>(acceleration.z);
    ui.meterView->X(x, y, z);
}

void WobblestarAppDelegate::applySampleRate() {
    const int index = ui.segmentcontroller->selectedSegmentIndex();
    double interval = 0.0;
    if (index == 0)
        interval = 0.025;
    else if (index == 1)
        interval = 0.0125;
    else if (index == 2)
        interval = 1.0 / 120.0;
    else
        return; // no segment selected, or one we do not know: keep interval and delegate
    Accelerometer::sharedAccelerometer().setUpdateInterval(interval);
    Accelerometer::sharedAccelerometer().setDelegate(this);
}
