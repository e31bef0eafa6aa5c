#include "admin/ReloadRequest.h"

#include "common/NamedObjectNames.h"
#include "platform/NamedObjects.h"

namespace corvel {

ReloadOutcome requestReload(std::uint32_t bit, int timeoutMs) {
    std::optional<SharedBlock> block = SharedBlock::openExisting(names::kControlBlock, kControlBlockSize);
    if (!block) return ReloadOutcome::NoServer;
    std::optional<NamedMutex> mutex = NamedMutex::createOrOpen(names::kControlMutex);
    if (!mutex) return ReloadOutcome::NoServer;
    NamedMutexLock held(*mutex, timeoutMs);
    if (!held.ownsLock()) return ReloadOutcome::TimedOut;
    writeControlWord(block->data(), readControlWord(block->data()) | bit);
    return ReloadOutcome::Requested;
}

}  // namespace corvel
