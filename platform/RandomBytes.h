// Random bytes from the system's generator, for salts and other values that must
// not be guessed.
#pragma once

#include <cstddef>

#include "platform/Status.h"

namespace corvel {

// Fills length bytes at out; a failure (no generator, interrupted beyond retry) says
// why and leaves the bytes unusable. Thread-safe.
Status fillRandomBytes(unsigned char* out, std::size_t length);

}  // namespace corvel
