// Reading one line from standard input: typed on a terminal with the echo off (a
// password), or as it comes from a pipe.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace corvel {

enum class LineStatus {
    Read,        // text holds the line without its line end
    EndOfInput,  // the input ended before any byte of a line
    TooLong,     // the line had more than maxBytes bytes; it was read to its end and dropped
    NoTerminal,  // standard input is no terminal (readHiddenLine only)
    Failed,      // reading, or switching the echo, failed
};

struct InputLine {
    LineStatus status = LineStatus::Failed;
    std::string text;
};

// Whether standard input is a terminal.
bool standardInputIsTerminal();

// Writes prompt to standard error, then reads one line from standard input, which
// must be a terminal, with its echo off; the terminal's settings are put back
// before it returns, and also when a signal (SIGINT, SIGTERM, SIGHUP, SIGQUIT) ends
// the program meanwhile. The Enter key is still echoed, so the cursor moves on. Not
// thread-safe: one call at a time per process.
InputLine readHiddenLine(std::string_view prompt, std::size_t maxBytes);

// Reads one line from standard input byte by byte (so nothing past its line end is
// consumed), without its "\n" or "\r\n"; a last line without a line end counts.
InputLine readInputLine(std::size_t maxBytes);

}  // namespace corvel
