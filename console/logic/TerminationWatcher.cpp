#include "console/logic/TerminationWatcher.h"

#include <cerrno>
#include <csignal>
#include <utility>

#include <QSocketNotifier>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace corvel {
namespace {

// The write end for the handler; set while a watcher lives. A signal handler can
// reach nothing but such a process-wide value.
volatile std::sig_atomic_t signalWriteFd = -1;

void onTerminationSignal(int) {
    const int savedErrno = errno;
    const char byte = 1;
    if (signalWriteFd >= 0) (void)!::write(signalWriteFd, &byte, 1);
    errno = savedErrno;
}

}  // namespace

TerminationWatcher::TerminationWatcher(std::function<void()> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)) {
    if (signalWriteFd >= 0) return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds_) != 0) return;
    signalWriteFd = fds_[1];
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    notifier_ = new QSocketNotifier(fds_[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { drain(); });
}

TerminationWatcher::~TerminationWatcher() {
    if (fds_[1] < 0) return;
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    signalWriteFd = -1;
    ::close(fds_[0]);
    ::close(fds_[1]);
}

void TerminationWatcher::drain() {
    char bytes[16];
    while (::read(fds_[0], bytes, sizeof bytes) > 0) {
    }
    if (onSignal_) onSignal_();
}

}  // namespace corvel
