#include "admin/SessionsRequest.h"

#include "common/NamedObjectNames.h"
#include "platform/NamedObjects.h"

namespace corvel {
namespace {

// The block the server made at its first publication, under its mutex; nullopt when
// it is not there (the server answered without making it: it cannot).
struct OpenedBlock {
    SharedBlock block;
    NamedMutex mutex;
};

std::optional<OpenedBlock> openSessionsBlock() {
    std::optional<SharedBlock> block = SharedBlock::openExisting(names::kSessionsBlock, kSessionsBlockSize);
    std::optional<NamedMutex> mutex = NamedMutex::createOrOpen(names::kSessionsMutex);
    if (!block || !mutex) return std::nullopt;
    return OpenedBlock{std::move(*block), std::move(*mutex)};
}

}  // namespace

std::optional<SessionList> fetchSessions(ExchangeOutcome* outcome) {
    std::uint32_t answer = 0;
    *outcome = exchangeControlBits(PublishSessions, SessionsPublished, &answer);
    if (*outcome != ExchangeOutcome::Answered) return std::nullopt;
    std::optional<OpenedBlock> opened = openSessionsBlock();
    if (!(answer & SessionsPublished) || !opened) {
        *outcome = ExchangeOutcome::NoAnswer;
        return std::nullopt;
    }
    NamedMutexLock held(opened->mutex, kBlockMutexWaitMs);
    if (!held.ownsLock()) {
        *outcome = ExchangeOutcome::TimedOut;
        return std::nullopt;
    }
    return decodeSessionList(opened->block.data());
}

std::optional<std::uint32_t> requestKick(const KickRequest& request, ExchangeOutcome* outcome) {
    // The first publication makes the block the request is written into.
    if (!fetchSessions(outcome)) return std::nullopt;
    std::optional<OpenedBlock> opened = openSessionsBlock();
    if (!opened) {
        *outcome = ExchangeOutcome::NoAnswer;
        return std::nullopt;
    }
    {
        NamedMutexLock held(opened->mutex, kBlockMutexWaitMs);
        if (!held.ownsLock()) {
            *outcome = ExchangeOutcome::TimedOut;
            return std::nullopt;
        }
        encodeKickRequest(request, opened->block.data());
    }
    std::uint32_t answer = 0;
    *outcome = exchangeControlBits(KickSessions, SessionsKicked, &answer);
    if (*outcome != ExchangeOutcome::Answered) return std::nullopt;
    NamedMutexLock held(opened->mutex, kBlockMutexWaitMs);
    if (!held.ownsLock()) {
        *outcome = ExchangeOutcome::TimedOut;
        return std::nullopt;
    }
    return decodeKickAnswer(opened->block.data());
}

}  // namespace corvel
