#include "desktop/IdleInhibitor.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDebug>

namespace desktop {

namespace {

const char* const kService = "org.freedesktop.ScreenSaver";
const char* const kPath = "/org/freedesktop/ScreenSaver";

} // namespace

IdleInhibitor::~IdleInhibitor() {
    setIdleTimerDisabled(false);
}

void IdleInhibitor::setIdleTimerDisabled(bool disabled) {
    disabled_ = disabled;
    if (disabled == inhibiting_)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        if (!warned_ && disabled)
            qInfo("wobblestar: no session bus; the screen may dim while the meters are shown");
        warned_ = true;
        return;
    }
    QDBusInterface screenSaver(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                               QString::fromLatin1(kService), bus);
    // A missing service must not hold up the user interface for D-Bus's default 25 s.
    screenSaver.setTimeout(1000);
    if (disabled) {
        const QDBusReply<quint32> reply =
            screenSaver.call(QStringLiteral("Inhibit"), QStringLiteral("Wobblestar"),
                             QStringLiteral("Showing the G-meters"));
        if (reply.isValid()) {
            cookie_ = reply.value();
            inhibiting_ = true;
        } else if (!warned_) {
            qInfo("wobblestar: the screen saver cannot be inhibited: %s",
                  qPrintable(reply.error().message()));
            warned_ = true;
        }
    } else {
        screenSaver.call(QStringLiteral("UnInhibit"), cookie_);
        cookie_ = 0;
        inhibiting_ = false;
    }
}

} // namespace desktop
