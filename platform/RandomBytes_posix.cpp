// POSIX (Linux) implementation of the random bytes: getrandom(2).
#include <sys/random.h>

#include <cerrno>

#include "platform/RandomBytes.h"

namespace corvel {

// A read interrupted by signals this often in a row is given up, so no loop runs
// without a bound.
constexpr int kMaxInterruptions = 16;

Status fillRandomBytes(unsigned char* out, std::size_t length) {
    std::size_t filled = 0;
    int interruptions = 0;
    while (filled < length) {
        const ssize_t got = ::getrandom(out + filled, length - filled, 0);
        if (got < 0) {
            if (errno == EINTR && ++interruptions < kMaxInterruptions) continue;
            return Status::lastSystemError();
        }
        filled += static_cast<std::size_t>(got);
    }
    return Status();
}

}  // namespace corvel
