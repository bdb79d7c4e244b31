#pragma once

#include "sensors/AccelerometerDriver.h"

#include <QObject>
#include <QPointer>

namespace platform {
class Accelerometer;
class StatusBar;
} // namespace platform

// The one place where what a source has to say reaches the user: every status message of the
// accelerometer service goes to standard error as one line "wobblestar: MESSAGE" (a terminal or
// a log collector sees it in windowed and headless runs alike) and, when there is a status bar,
// onto the bar: a notice for a few seconds, a lost source until a message says it is back.
//
//   StatusMessages messages(platform::Accelerometer::sharedAccelerometer(),
//                           delegate.statusBar());
class StatusMessages : public QObject {
    Q_OBJECT
public:
    // `statusBar` may be null (a run without a window); it may also go away before this object.
    StatusMessages(platform::Accelerometer& accelerometer, platform::StatusBar* statusBar,
                   QObject* parent = nullptr);

    void show(const QString& message, platform::AccelerometerDriver::MessageKind kind);

private:
    QPointer<platform::StatusBar> statusBar_;
};
