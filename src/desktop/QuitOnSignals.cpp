#include "desktop/QuitOnSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

// [0] is written by the handler, [1] read by the notifier. File-level because a signal handler
// reaches nothing else; only one QuitOnSignals exists at a time.
int signalSockets[2] = {-1, -1};

void onSignal(int signalNumber) {
    const int savedErrno = errno;
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

    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    // A signal the process was started with ignored stays ignored (as for SIGINT in a job
    // started with & from a script).
    auto install = [&](int number, struct sigaction* previous) {
        return ::sigaction(number, nullptr, previous) == 0 &&
               (previous->sa_handler == SIG_IGN || ::sigaction(number, &action, nullptr) == 0);
    };
    if (!install(SIGTERM, &previousTerm_) || !install(SIGINT, &previousInt_)) {
        ::sigaction(SIGTERM, &previousTerm_, nullptr);
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
    ::sigaction(SIGTERM, &previousTerm_, nullptr);
    ::sigaction(SIGINT, &previousInt_, nullptr);
    delete notifier_;
    ::close(signalSockets[0]);
    ::close(signalSockets[1]);
    signalSockets[0] = signalSockets[1] = -1;
}

void QuitOnSignals::readSignal() {
    unsigned char byte = 0;
    if (::read(signalSockets[1], &byte, 1) != 1)
        return;
    ::sigaction(SIGTERM, &previousTerm_, nullptr);
    ::sigaction(SIGINT, &previousInt_, nullptr);
    emit received(byte);
    QCoreApplication::quit();
}

} // namespace platform
