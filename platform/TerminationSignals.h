// SIGTERM and SIGINT turned into bytes on a descriptor, so an event loop can act on
// them as on any input (the console ends the way its Exit does).
#pragma once

namespace corvel {

// At most one live instance per process (a signal handler has nowhere else to write
// to). Owned by one thread. Movable neither way.
class TerminationSignals {
public:
    // Installs the handlers; isActive() tells whether that worked.
    TerminationSignals();
    // Puts the default handlers back.
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    bool isActive() const { return fds_[0] >= 0; }
    // Becomes readable when a signal arrived.
    int readableDescriptor() const { return fds_[0]; }
    // Takes the pending signal bytes; true when there were any.
    bool drain();

private:
    int fds_[2] = {-1, -1};
};

}  // namespace corvel
