#pragma once

#include <QObject>

namespace desktop {

// The platform's idle timer: while disabled, the session's screen saver is inhibited through
// org.freedesktop.ScreenSaver on the session bus, so the display neither dims nor locks. Without
// a session bus (or that service) it logs one line and does nothing more.
class IdleInhibitor : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~IdleInhibitor() override;

    void setIdleTimerDisabled(bool disabled);
    bool idleTimerDisabled() const { return disabled_; }
    // Whether the screen saver currently holds an inhibition of ours.

private:
    bool disabled_ = false;
    bool warned_ = false;
    bool inhibiting_ = false;
    quint32 cookie_ = 0;
};

} // namespace desktop
