// The process's limits on open descriptors and threads, which bound how many
// connections it can hold at once.
#pragma once

#include <cstdint>

namespace corvel {

// Raises the soft limit on open descriptors to the hard limit (as daemons do) and
// returns the soft limit then in force; 0 when it cannot be read or is unlimited.
std::uint64_t raiseDescriptorLimit();

// The soft limit on threads and processes of this account; 0 when unlimited or
// unknown. (Root is not held to it.)
std::uint64_t taskLimit();

}  // namespace corvel
