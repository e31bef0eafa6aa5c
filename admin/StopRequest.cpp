#include "admin/StopRequest.h"

#include <chrono>
#include <optional>
#include <thread>

#include "common/NamedObjectNames.h"
#include "common/SharedBlocks.h"
#include "platform/NamedObjects.h"

namespace corvel {
namespace {

// How often waitUntilServerGone looks again.
constexpr auto kGonePollInterval = std::chrono::milliseconds(50);

}  // namespace

bool serverRunning() {
    std::optional<SharedBlock> block = SharedBlock::openExisting(names::kStatusBlock, kStatusBlockSize);
    return block && block->isValid();
}

StopOutcome requestStop() {
    if (!serverRunning()) return StopOutcome::NoServer;
    // The server holds its stop event open while it runs, so an existing one is its.
    std::optional<NamedEvent> stop = NamedEvent::openExisting(names::kStopEvent);
    if (!stop) return serverRunning() ? StopOutcome::Failed : StopOutcome::NoServer;
    return stop->signal() ? StopOutcome::Signalled : StopOutcome::Failed;
}

bool waitUntilServerGone(int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (!serverRunning()) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(kGonePollInterval);
    }
}

}  // namespace corvel
