// What one read or write on a socket did: how many bytes moved, and whether the
// connection can go on now, later, or not at all.
#pragma once

#include <cstddef>

namespace corvel {

enum class IoState {
    Ok,          // bytes moved (0 only when 0 were asked for)
    WouldBlock,  // nothing can be done now; wait for the socket (or its layer) and try again
    Closed,      // the peer ended the stream (reads only)
    Failed,      // the connection is broken
};

struct IoResult {
    std::size_t bytes = 0;
    IoState state = IoState::Failed;

    static IoResult moved(std::size_t count) { return {count, IoState::Ok}; }
    static IoResult wouldBlock() { return {0, IoState::WouldBlock}; }
    static IoResult closed() { return {0, IoState::Closed}; }
    static IoResult failed() { return {0, IoState::Failed}; }

    bool ok() const { return state == IoState::Ok; }
};

}  // namespace corvel
