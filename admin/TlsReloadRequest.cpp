#include "admin/TlsReloadRequest.h"

#include <thread>

#include "common/NamedObjectNames.h"
#include "platform/NamedObjects.h"

namespace corvel {
namespace {

// Pause between two looks at the word while the server has not answered.
constexpr std::chrono::milliseconds kAnswerLookPause{20};

}  // namespace

TlsReloadOutcome requestTlsReload(std::chrono::milliseconds answerWait, int mutexWaitMs) {
    std::optional<SharedBlock> block = SharedBlock::openExisting(names::kControlBlock, kControlBlockSize);
    if (!block) return TlsReloadOutcome::NoServer;
    std::optional<NamedMutex> mutex = NamedMutex::createOrOpen(names::kControlMutex);
    if (!mutex) return TlsReloadOutcome::NoServer;
    {
        NamedMutexLock held(*mutex, mutexWaitMs);
        if (!held.ownsLock()) return TlsReloadOutcome::TimedOut;
        const std::uint32_t word = readControlWord(block->data());
        writeControlWord(block->data(), (word & ~(TlsReloaded | TlsReloadRefused)) | ReloadTls);
    }
    const auto end = std::chrono::steady_clock::now() + answerWait;
    while (std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(kAnswerLookPause);
        NamedMutexLock held(*mutex, mutexWaitMs);
        if (!held.ownsLock()) continue;
        const std::uint32_t word = readControlWord(block->data());
        if (word & ReloadTls) continue;
        if (word & TlsReloaded) return TlsReloadOutcome::Reloaded;
        if (word & TlsReloadRefused) return TlsReloadOutcome::Refused;
    }
    return TlsReloadOutcome::NoAnswer;
}

}  // namespace corvel
