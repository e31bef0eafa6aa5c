#include "admin/ControlExchange.h"

#include <thread>

#include "common/NamedObjectNames.h"
#include "platform/NamedObjects.h"

namespace corvel {
namespace {

// Pause between two looks at the word while the server has not answered.
constexpr std::chrono::milliseconds kAnswerLookPause{20};

}  // namespace

ExchangeOutcome exchangeControlBits(std::uint32_t request, std::uint32_t answers, std::uint32_t* answer,
                                    std::chrono::milliseconds answerWait, int mutexWaitMs) {
    std::optional<SharedBlock> block = SharedBlock::openExisting(names::kControlBlock, kControlBlockSize);
    if (!block) return ExchangeOutcome::NoServer;
    std::optional<NamedMutex> mutex = NamedMutex::createOrOpen(names::kControlMutex);
    if (!mutex) return ExchangeOutcome::NoServer;
    {
        NamedMutexLock held(*mutex, mutexWaitMs);
        if (!held.ownsLock()) return ExchangeOutcome::TimedOut;
        const std::uint32_t word = readControlWord(block->data());
        writeControlWord(block->data(), (word & ~answers) | request);
    }
    const auto end = std::chrono::steady_clock::now() + answerWait;
    while (std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(kAnswerLookPause);
        NamedMutexLock held(*mutex, mutexWaitMs);
        if (!held.ownsLock()) continue;
        const std::uint32_t word = readControlWord(block->data());
        if (word & request) continue;
        *answer = word & answers;
        // Taken: the word holds requests only again.
        writeControlWord(block->data(), word & ~answers);
        return ExchangeOutcome::Answered;
    }
    return ExchangeOutcome::NoAnswer;
}

}  // namespace corvel
