#include "features/StatusMessages.h"

#include "screens/StatusBar.h"
#include "sensors/Accelerometer.h"

#include <cstdio>

using Kind = sensors::AccelerometerDriver::MessageKind;

StatusMessages::StatusMessages(sensors::Accelerometer& accelerometer, screens::StatusBar* statusBar,
                               QObject* parent)
    : QObject(parent), statusBar_(statusBar) {
    connect(&accelerometer, &sensors::Accelerometer::statusMessage, this, &StatusMessages::show);
}

void StatusMessages::show(const QString& message, Kind kind) {
    // One line per message even when a driver's text holds a line break; a log collector
    // splits on them.
    QString line = message.simplified();
    const QByteArray bytes = QStringLiteral("wobblestar: %1\n").arg(line).toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);

    if (!statusBar_)
        return;
    switch (kind) {
    case Kind::Lost:
        statusBar_->showLost(line);
        break;
    case Kind::Back:
        statusBar_->clearLost();
        statusBar_->showNotice(line);
        break;
    case Kind::Notice:
        statusBar_->showNotice(line);
        break;
    }
}
