// POSIX implementation of the terminal and standard-input line readers.
#include "platform/TerminalInput.h"

#include <cerrno>
#include <csignal>

#include <termios.h>
#include <unistd.h>

namespace corvel {
namespace {

// The signals that end a program by default while it waits at the prompt.
constexpr int kRestoringSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// The settings to put back, shared with the signal handler (set before it is
// installed, read only inside it).
struct termios gSavedSettings {};

void restoreAndReraise(int signal) {
    // tcsetattr and raise are async-signal-safe.
    ::tcsetattr(STDIN_FILENO, TCSANOW, &gSavedSettings);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

// Reads bytes up to the next '\n' (which is dropped). EndOfInput only when the
// input ended before the first byte.
InputLine readLine(std::size_t maxBytes) {
    InputLine line;
    bool any = false;
    bool tooLong = false;
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0) {
            if (errno == EINTR) continue;
            line.status = LineStatus::Failed;
            line.text.clear();
            return line;
        }
        if (n == 0) {
            if (!any) {
                line.status = LineStatus::EndOfInput;
                return line;
            }
            break;
        }
        any = true;
        if (c == '\n') break;
        if (line.text.size() >= maxBytes + 1) {
            tooLong = true;  // keep reading to the line end, keep nothing more
            continue;
        }
        line.text.push_back(c);
    }
    if (!line.text.empty() && line.text.back() == '\r') line.text.pop_back();
    if (tooLong || line.text.size() > maxBytes) {
        line.status = LineStatus::TooLong;
        line.text.clear();
        return line;
    }
    line.status = LineStatus::Read;
    return line;
}

void writeAllToStandardError(std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(STDERR_FILENO, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

}  // namespace

bool standardInputIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

InputLine readHiddenLine(std::string_view prompt, std::size_t maxBytes) {
    InputLine result;
    if (!standardInputIsTerminal()) {
        result.status = LineStatus::NoTerminal;
        return result;
    }
    struct termios settings {};
    if (::tcgetattr(STDIN_FILENO, &settings) != 0) return result;
    gSavedSettings = settings;

    struct sigaction restoring {};
    restoring.sa_handler = restoreAndReraise;
    sigemptyset(&restoring.sa_mask);
    struct sigaction previous[std::size(kRestoringSignals)] = {};
    for (std::size_t i = 0; i < std::size(kRestoringSignals); ++i)
        ::sigaction(kRestoringSignals[i], &restoring, &previous[i]);

    struct termios hidden = settings;
    hidden.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    hidden.c_lflag |= ECHONL;  // the Enter key still moves to the next line
    // The echo goes off (dropping what was typed ahead) before the prompt shows, so
    // nothing typed after the prompt is ever echoed or lost.
    if (::tcsetattr(STDIN_FILENO, TCSAFLUSH, &hidden) == 0) {
        writeAllToStandardError(prompt);
        result = readLine(maxBytes);
        ::tcsetattr(STDIN_FILENO, TCSANOW, &settings);
    }
    for (std::size_t i = 0; i < std::size(kRestoringSignals); ++i)
        ::sigaction(kRestoringSignals[i], &previous[i], nullptr);
    return result;
}

InputLine readInputLine(std::size_t maxBytes) { return readLine(maxBytes); }

}  // namespace corvel
