// A request through the control block that the server answers in the same word: the
// request bit is set (its earlier answers cleared), and the answer bits are read, and
// cleared, once the server cleared the request, as it does when it served it.
#pragma once

#include <chrono>
#include <cstdint>

#include "common/SharedBlocks.h"

namespace corvel {

enum class ExchangeOutcome {
    Answered,  // *answer holds the answer bits the server set
    NoAnswer,  // the request stands, but the server did not answer within the wait
    NoServer,  // no server holds the control block
    TimedOut,  // the block's mutex stayed busy; nothing was set
};

// Longest wait for an answer: the server serves the block every loop turn, well
// under a second apart.
constexpr std::chrono::milliseconds kControlAnswerWait{10000};

ExchangeOutcome exchangeControlBits(std::uint32_t request, std::uint32_t answers, std::uint32_t* answer,
                                    std::chrono::milliseconds answerWait = kControlAnswerWait,
                                    int mutexWaitMs = kBlockMutexWaitMs);

}  // namespace corvel
