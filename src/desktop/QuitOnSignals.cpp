#include "desktop/QuitOnSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace desktop {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];

// File-level because a signal handler reaches nothing else; only one QuitOnSignals exists at a
// time. [0] of the sockets is written by the handler, [1] read by the notifier.
int signalSockets[2] = {-1, -1};
struct sigaction previousActions[kSignalCount];
volatile sig_atomic_t firstSignal = 0;

void restorePreviousActions() {
    for (int i = 0; i < kSignalCount; ++i)
        ::sigaction(kSignals[i], &previousActions[i], nullptr); // async-signal-safe
}

void onSignal(int signalNumber) {
    const int savedErrno = errno;
    if (firstSignal == 0)
        firstSignal = signalNumber;
    // From now on the next signal takes its old course at once, even if no event loop ever
    // reads this one.
    restorePreviousActions();
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // Non-blocking: with the pipe full a quit is already pending, and the byte is not needed.
    [[maybe_unused]] const ssize_t written = ::write(signalSockets[0], &byte, 1);
    errno = savedErrno;
}

} // namespace

QuitOnSignals::QuitOnSignals(QObject* parent) : QObject(parent) {
    if (signalSockets[0] >= 0)
        return; // another instance already listens
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, signalSockets) != 0)
        return;
    firstSignal = 0;

    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int number : kSignals)
        sigaddset(&action.sa_mask, number); // one handler at a time restores the actions
    action.sa_flags = SA_RESTART;
    bool installed = true;
    int saved = 0;
    for (; saved < kSignalCount && installed; ++saved)
        installed = ::sigaction(kSignals[saved], nullptr, &previousActions[saved]) == 0;
    // A signal the process was started with ignored stays ignored (as for SIGINT in a job
    // started with & from a script, or SIGHUP under nohup).
    for (int i = 0; i < kSignalCount && installed; ++i)
        installed = previousActions[i].sa_handler == SIG_IGN ||
                    ::sigaction(kSignals[i], &action, nullptr) == 0;
    if (!installed) {
        for (int i = 0; i < saved; ++i)
            ::sigaction(kSignals[i], &previousActions[i], nullptr);
        ::close(signalSockets[0]);
        ::close(signalSockets[1]);
        signalSockets[0] = signalSockets[1] = -1;
        return;
    }
    notifier_ = new QSocketNotifier(signalSockets[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &QuitOnSignals::readSignal);
    active_ = true;
}

QuitOnSignals::~QuitOnSignals() {
    if (!active_)
        return;
    restorePreviousActions();
    delete notifier_;
    ::close(signalSockets[0]);
    ::close(signalSockets[1]);
    signalSockets[0] = signalSockets[1] = -1;
    firstSignal = 0;
}

int QuitOnSignals::pendingSignal() {
    return firstSignal;
}

void QuitOnSignals::readSignal() {
    unsigned char byte = 0;
    if (::read(signalSockets[1], &byte, 1) != 1)
        return;
    emit received(byte);
    QCoreApplication::quit();
}

} // namespace desktop
