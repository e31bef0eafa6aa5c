// A pipe a thread writes a byte to so that another thread's poll returns at once
// (the self-pipe trick): the listener loop waits on it beside its listeners, so a
// stop asked from any thread is acted on at once instead of at the next turn.
#pragma once

#include "platform/Status.h"
#include "platform/UniqueFd.h"

namespace corvel {

// Owned by the waiting side; wake() may be called from any thread at any time.
class WakePipe {
public:
    // Opens the pipe (both ends non-blocking); failure says why, and isOpen() is false.
    explicit WakePipe(Status* failure = nullptr);
    WakePipe(const WakePipe&) = delete;
    WakePipe& operator=(const WakePipe&) = delete;

    bool isOpen() const { return readEnd_.isOpen(); }
    // Readable while a wake-up is pending; -1 when the pipe could not be made.
    int readableDescriptor() const { return readEnd_.get(); }
    // Makes the read end readable. A full pipe already is, so nothing is lost.
    void wake() const;
    // Takes every pending wake-up; true when there was one.
    bool drain() const;

private:
    UniqueFd readEnd_;
    UniqueFd writeEnd_;
};

}  // namespace corvel
