#include "server/SessionsPublisher.h"

#include "accounts/LiveSessions.h"
#include "common/NamedObjectNames.h"
#include "common/SessionsBlock.h"
#include "common/SharedBlocks.h"

namespace corvel {

bool SessionsPublisher::ensureBlock() {
    if (!mutex_) mutex_ = NamedMutex::createOrOpen(names::kSessionsMutex);
    if (mutex_ && !block_) block_ = SharedBlock::createZeroed(names::kSessionsBlock, kSessionsBlockSize);
    return mutex_ && block_;
}

bool SessionsPublisher::publish(const LiveSessions& sessions) {
    if (!ensureBlock()) return false;
    std::vector<SessionRecord> records;
    for (const LiveSessionRow& row : sessions.rows())
        records.push_back({row.id, static_cast<std::uint8_t>(row.protocol), static_cast<std::int64_t>(row.since),
                           row.bytes, row.address, row.user});
    NamedMutexLock lock(*mutex_, kBlockMutexWaitMs);
    if (!lock.ownsLock()) return false;
    encodeSessionList(records, block_->data());
    return true;
}

void SessionsPublisher::kick(LiveSessions& sessions) {
    if (!ensureBlock()) return;
    NamedMutexLock lock(*mutex_, kBlockMutexWaitMs);
    if (!lock.ownsLock()) return;
    const KickRequest request = decodeKickRequest(block_->data());
    std::size_t closed = 0;
    if (request.id != 0)
        closed = sessions.kick(request.id);
    else if (!request.user.empty())
        closed = sessions.kickUser(request.user);
    encodeKickAnswer(static_cast<std::uint32_t>(closed), block_->data());
}

}  // namespace corvel
