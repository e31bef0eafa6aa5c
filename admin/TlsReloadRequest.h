// Asks a running server, through its control block, to load its certificate and key
// files again, and waits for its answer in the same word.
#pragma once

#include <chrono>

#include "common/SharedBlocks.h"

namespace corvel {

enum class TlsReloadOutcome {
    Reloaded,  // new connections get the new pair
    Refused,   // the server kept its pair (its reason is in the system log)
    NoAnswer,  // the request stands, but the server did not answer within the wait
    NoServer,  // no server holds the control block
    TimedOut,  // the block's mutex stayed busy; nothing was set
};

// Longest wait for the server's answer.
constexpr std::chrono::milliseconds kTlsReloadAnswerWait{10000};

// Clears an earlier answer, sets ReloadTls and waits for TlsReloaded or
// TlsReloadRefused, at most answerWait in all.
TlsReloadOutcome requestTlsReload(std::chrono::milliseconds answerWait = kTlsReloadAnswerWait,
                                  int mutexWaitMs = kBlockMutexWaitMs);

}  // namespace corvel
