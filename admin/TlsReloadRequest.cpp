#include "admin/TlsReloadRequest.h"

#include "admin/ControlExchange.h"

namespace corvel {

TlsReloadOutcome requestTlsReload(std::chrono::milliseconds answerWait, int mutexWaitMs) {
    std::uint32_t answer = 0;
    switch (exchangeControlBits(ReloadTls, TlsReloaded | TlsReloadRefused, &answer, answerWait, mutexWaitMs)) {
        case ExchangeOutcome::Answered:
            return (answer & TlsReloaded) ? TlsReloadOutcome::Reloaded : TlsReloadOutcome::Refused;
        case ExchangeOutcome::NoAnswer:
            return TlsReloadOutcome::NoAnswer;
        case ExchangeOutcome::NoServer:
            return TlsReloadOutcome::NoServer;
        case ExchangeOutcome::TimedOut:
            break;
    }
    return TlsReloadOutcome::TimedOut;
}

}  // namespace corvel
