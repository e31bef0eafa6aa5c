// The server's side of corvelctl sessions and kick: lists the live sessions in the
// sessions block, made at the first request of a run, and closes those a kick
// request there names.
#pragma once

#include <optional>

#include "platform/NamedObjects.h"

namespace corvel {

class LiveSessions;

// Used by the listener's thread alone.
class SessionsPublisher {
public:
    // Writes the live sessions into the block; false when it cannot be made or its
    // mutex stayed held (corvelctl then hears no answer).
    bool publish(const LiveSessions& sessions);
    // Closes what the block's kick request names and writes how many.
    void kick(LiveSessions& sessions);

private:
    bool ensureBlock();

    std::optional<NamedMutex> mutex_;
    std::optional<SharedBlock> block_;
};

}  // namespace corvel
