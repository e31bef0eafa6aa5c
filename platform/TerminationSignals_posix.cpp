#include "platform/TerminationSignals.h"

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace corvel {
namespace {

// The write end for the handler; set while an instance lives. A signal handler can
// reach nothing but such a process-wide value.
volatile std::sig_atomic_t signalWriteFd = -1;

void onTerminationSignal(int) {
    const int savedErrno = errno;
    const char byte = 1;
    if (signalWriteFd >= 0) (void)!::write(signalWriteFd, &byte, 1);
    errno = savedErrno;
}

void setHandler(void (*handler)(int), int flags) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = flags;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

}  // namespace

TerminationSignals::TerminationSignals() {
    if (signalWriteFd >= 0) return;
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds) != 0) return;
    fds_[0] = fds[0];
    fds_[1] = fds[1];
    signalWriteFd = fds_[1];
    setHandler(onTerminationSignal, SA_RESTART);
}

TerminationSignals::~TerminationSignals() {
    if (fds_[1] < 0) return;
    setHandler(SIG_DFL, 0);
    signalWriteFd = -1;
    ::close(fds_[0]);
    ::close(fds_[1]);
}

bool TerminationSignals::drain() {
    char bytes[16];
    bool any = false;
    while (fds_[0] >= 0 && ::read(fds_[0], bytes, sizeof bytes) > 0) any = true;
    return any;
}

}  // namespace corvel
