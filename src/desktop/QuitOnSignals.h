#pragma once

#include <QObject>
#include <signal.h>

class QSocketNotifier;

namespace desktop {

// Turns SIGTERM, SIGINT and SIGHUP into QCoreApplication::quit() on the main thread, so that
// aboutToQuit handlers run (a recording in progress is stopped and stored) instead of the
// process dying where it stands. SIGHUP counts too: closing the terminal a recording runs in
// must not lose it. The handler only writes the signal number into a socket pair and notes it
// (async-signal-safe); a QSocketNotifier reads it in the event loop.
//
// A signal that arrives before the event loop runs (discovery, a long load) waits in the socket
// for it, and pendingSignal() tells start-up code to go no further. The handler itself restores
// the previous actions (normally the default: terminate), so a second signal ends a process that
// hangs, whether or not an event loop ever turned. A signal that was ignored when the process
// started stays ignored.
//
// One instance at a time (a second one stays inactive); create it after the QCoreApplication.
// Destroying it restores the previous actions.
class QuitOnSignals : public QObject {
    Q_OBJECT
public:
    explicit QuitOnSignals(QObject* parent = nullptr);
    ~QuitOnSignals() override;

    // False when the socket pair or the handlers could not be set up (the signals then keep
    // their previous action).
    bool isActive() const { return active_; }

    // The first signal received, 0 while none has come.
    static int pendingSignal();

signals:
    // Emitted on the main thread just before quit() is called.
    void received(int signalNumber);

private:
    void readSignal();

    QSocketNotifier* notifier_ = nullptr;
    bool active_ = false;
};

} // namespace desktop
