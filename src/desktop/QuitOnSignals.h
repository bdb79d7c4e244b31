#pragma once

#include <QObject>
#include <signal.h>

class QSocketNotifier;

namespace platform {

// Turns SIGTERM and SIGINT into QCoreApplication::quit() on the main thread, so that
// aboutToQuit handlers run (a recording in progress is stopped and stored) instead of the
// process dying where it stands. The handler only writes the signal number into a socket pair
// (async-signal-safe); a QSocketNotifier reads it in the event loop.
//
// After the first signal the previous actions (normally the default: terminate) are restored, so
// a second Ctrl-C or SIGTERM ends a process that hangs while quitting. A signal that was ignored
// when the process started stays ignored.
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

signals:
    // Emitted on the main thread just before quit() is called.
    void received(int signalNumber);

private:
    void readSignal();

    QSocketNotifier* notifier_ = nullptr;
    struct sigaction previousTerm_ {};
    struct sigaction previousInt_ {};
    bool active_ = false;
};

} // namespace platform
