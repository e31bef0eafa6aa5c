#include "admin/StatusSnapshot.h"

#include <optional>

#include "common/NamedObjectNames.h"
#include "common/SharedBlocks.h"
#include "platform/NamedObjects.h"

namespace corvel {

StatusSnapshot readStatus(int mutexWaitMs) {
    StatusSnapshot snapshot;
    std::optional<NamedMutex> mutex = NamedMutex::createOrOpen(names::kStatusMutex);
    std::optional<SharedBlock> block = SharedBlock::openExisting(names::kStatusBlock, kStatusBlockSize);
    if (!block || !block->isValid()) return snapshot;
    snapshot.available = true;
    if (!mutex) return snapshot;
    // Only a clean acquisition is trusted; an abandoned mutex may guard half a write.
    NamedMutexLock lock(*mutex, mutexWaitMs);
    if (lock.result() != LockResult::Acquired) return snapshot;
    const StatusBlock decoded = StatusBlock::decode(block->data());
    snapshot.bindAddress = decoded.listenAddress;
    snapshot.ftpPort = decoded.ftpPort;
    snapshot.webPort = decoded.webPort;
    snapshot.maxConnections = decoded.connectionLimit;
    snapshot.currentConnections = decoded.activeConnections;
    snapshot.startTime = std::uint32_t(decoded.startTime);
    snapshot.copied = true;
    return snapshot;
}

}  // namespace corvel
