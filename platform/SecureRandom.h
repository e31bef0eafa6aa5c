// Random bytes from the operating system's generator, for secrets a guess must not
// find: session cookies and the tokens that go with them.
#pragma once

#include <cstddef>

#include "platform/Status.h"

namespace corvel {

// Fills the whole of buffer from the system's generator (getrandom on Linux), or
// reports why it could not; a partial fill is never reported as success.
Status fillSecureRandom(unsigned char* buffer, std::size_t length);

}  // namespace corvel
