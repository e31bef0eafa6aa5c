#include "platform/WakePipe.h"

#include <fcntl.h>
#include <unistd.h>

namespace corvel {

WakePipe::WakePipe(Status* failure) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        if (failure) *failure = Status::lastSystemError();
        return;
    }
    readEnd_.reset(ends[0]);
    writeEnd_.reset(ends[1]);
}

void WakePipe::wake() const {
    if (!writeEnd_.isOpen()) return;
    const char byte = 1;
    // EAGAIN: the pipe is full, so the reader is woken already.
    [[maybe_unused]] const ssize_t written = ::write(writeEnd_.get(), &byte, 1);
}

bool WakePipe::drain() const {
    if (!readEnd_.isOpen()) return false;
    bool woken = false;
    char bytes[64];
    while (::read(readEnd_.get(), bytes, sizeof bytes) > 0) woken = true;
    return woken;
}

}  // namespace corvel
