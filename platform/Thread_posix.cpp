#include "platform/Thread.h"

#include <csignal>
#include <memory>
#include <pthread.h>

namespace corvel {
namespace {

void* runBody(void* argument) {
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
    (*body)();
    return nullptr;
}

// Written only by the signal handler; read by the listener loop.
volatile std::sig_atomic_t stopSignal = 0;

void onStopSignal(int number) { stopSignal = number; }

}  // namespace

bool startDetachedThread(std::function<void()> body) {
    auto owned = std::make_unique<std::function<void()>>(std::move(body));
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return false;
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_attr_setstacksize(&attributes, kConnectionThreadStackBytes);

    // The new thread inherits a mask that blocks the stop signals.
    sigset_t blocked, previous;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &blocked, &previous);
    pthread_t thread;
    int result = pthread_create(&thread, &attributes, runBody, owned.get());
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    pthread_attr_destroy(&attributes);
    if (result != 0) return false;
    owned.release();  // the thread owns it now
    return true;
}

void installStopSignals(bool includeHangup) {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a waiting poll returns at once
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    if (includeHangup) sigaction(SIGHUP, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // A write past RLIMIT_FSIZE must fail with EFBIG (the upload answers 426), not
    // kill the whole server.
    std::signal(SIGXFSZ, SIG_IGN);
}

bool stopSignalReceived() { return stopSignal != 0; }
int lastStopSignal() { return stopSignal; }
bool stoppedByInterrupt() { return stopSignal == SIGINT; }

}  // namespace corvel
