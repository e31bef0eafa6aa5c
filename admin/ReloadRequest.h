// Asks a running server, through its control block, to reload the users file or the
// access policy.
#pragma once

#include <cstdint>

#include "common/SharedBlocks.h"

namespace corvel {

enum class ReloadOutcome {
    Requested,  // the bit is set; the server reloads at its next loop turn
    NoServer,   // no server holds the control block: the next start reads the file
    TimedOut,   // the block's mutex stayed busy; nothing was set
};

// ORs bit (ReloadUsers or ReloadAccess) into CORVELFTP_PIPE under CORVELFTP_PIPEMutex,
// keeping the other bits, waiting at most timeoutMs for the mutex. Never creates the
// block: without a server there is nobody to tell.
ReloadOutcome requestReload(std::uint32_t bit, int timeoutMs = kBlockMutexWaitMs);

}  // namespace corvel
