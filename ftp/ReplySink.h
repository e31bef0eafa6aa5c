// Where a session's replies go: its control connection, or, in a test that drives a
// session with command lines alone, a string.
#pragma once

#include <string_view>

namespace corvel {

class ReplySink {
public:
    virtual ~ReplySink() = default;
    // Sends one or more whole reply lines. A sink that cannot deliver them closes
    // what it writes to, so the session ends at its next read.
    virtual void send(std::string_view text) = 0;
};

}  // namespace corvel
