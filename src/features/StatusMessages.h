#pragma once

#include "sensors/AccelerometerDriver.h"

#include <QObject>
#include <QPointer>

namespace sensors {
class Accelerometer;
}
namespace screens {
class StatusBar;
}

// The one place where what a source has to say reaches the user: every status message of the
// accelerometer service goes to standard error as one line "wobblestar: MESSAGE" (a terminal or
// a log collector sees it in windowed and headless runs alike) and, when there is a status bar,
// onto the bar: a notice for a few seconds, a lost source until a message says it is back.
//
//   StatusMessages messages(sensors::Accelerometer::sharedAccelerometer(),
//                           delegate.statusBar());
class StatusMessages : public QObject {
    Q_OBJECT
public:
    // `statusBar` may be null (a run without a window); it may also go away before this object.
    StatusMessages(sensors::Accelerometer& accelerometer, screens::StatusBar* statusBar,
                   QObject* parent = nullptr);

    void show(const QString& message, sensors::AccelerometerDriver::MessageKind kind);

private:
    QPointer<screens::StatusBar> statusBar_;
};
