// Where corvelctl gets a new password from: asked twice on the terminal with the
// echo off, or one line of standard input; behind an interface so tests answer it.
#pragma once

#include <cstddef>
#include <string_view>

#include "platform/TerminalInput.h"

namespace corvel {

// Longest password accepted (bytes); far past any typed one, short enough that a
// stray binary file on standard input is refused instead of stored.
inline constexpr std::size_t kMaxPasswordBytes = 1024;

// Used by one command at a time.
class PasswordSource {
public:
    virtual ~PasswordSource() = default;
    // One line of standard input without its line end.
    virtual InputLine readStandardInput() = 0;
    // prompt shown, then one line typed on the terminal that is standard input, not echoed.
    virtual InputLine askHidden(std::string_view prompt) = 0;
};

// The process's own standard input and terminal (platform/TerminalInput.h).
class SystemPasswordSource : public PasswordSource {
public:
    InputLine readStandardInput() override { return readInputLine(kMaxPasswordBytes); }
    InputLine askHidden(std::string_view prompt) override { return readHiddenLine(prompt, kMaxPasswordBytes); }
};

}  // namespace corvel
