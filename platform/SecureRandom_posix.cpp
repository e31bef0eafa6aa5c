#include <sys/random.h>

#include <cerrno>

#include "platform/SecureRandom.h"

namespace corvel {

Status fillSecureRandom(unsigned char* buffer, std::size_t length) {
    std::size_t filled = 0;
    // getrandom hands out at most 32 MiB per call and may be interrupted by a
    // signal; a few turns always finish the short buffers asked for here.
    for (int turn = 0; filled < length && turn < 64; ++turn) {
        const ssize_t n = getrandom(buffer + filled, length - filled, 0);
        if (n > 0) {
            filled += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EINTR) {
            return Status::lastSystemError();
        }
    }
    if (filled < length) return Status::failure(EAGAIN, "the system's random generator gave too few bytes");
    return {};
}

}  // namespace corvel
