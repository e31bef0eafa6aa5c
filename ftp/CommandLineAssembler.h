// Cuts the bytes of an FTP control connection into command lines, as a state
// machine fed with whatever bytes arrived; no I/O of its own (FtpSession receives).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace corvel {

// A line holds at most this many bytes before its line feed is found; reaching it
// without one makes the line too long (so 4093 characters plus LF still dispatch).
constexpr std::size_t kMaxCommandLineBytes = 4094;

struct CommandLineEvent {
    enum class Kind {
        Line,     // text: the line with its LF (and any CR before it), cut at its first NUL
        TooLong,  // text: its first kMaxCommandLineBytes bytes (cut at a NUL); the rest up to
                  // and including the next LF was dropped
    };
    Kind kind = Kind::Line;
    std::string text;
};

// Owned by one thread. Holds at most one unfinished line plus what one append adds.
class CommandLineAssembler {
public:
    // Adds received bytes in arrival order.
    void append(std::string_view bytes);
    // The next complete event, or nullopt when more bytes are needed.
    std::optional<CommandLineEvent> next();
    // Forgets every byte held (what a client sent before a change of protocol, such as
    // the start of TLS, must never be executed after it).
    void clear();
    bool empty() const { return buffered_.empty() && !draining_; }

private:
    std::string buffered_;
    bool draining_ = false;   // dropping the rest of a too-long line
    std::string tooLongText_;  // what the too-long reply will quote
};

}  // namespace corvel
