// Runs another program to completion with a bounded wait and collects its output;
// also the process-level steps of a daemon (detaching, finding our own executable).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace corvel {

// How a program run ended.
enum class ProcessOutcome {
    Exited,       // it ran and exited; exitStatus holds its status
    Signalled,    // it was ended by a signal it did not handle; signal holds it
    TimedOut,     // it outlived the time-out and was killed (SIGKILL) and reaped
    StartFailed,  // it could not be started; failure holds the system's text
};

struct ProcessResult {
    ProcessOutcome outcome = ProcessOutcome::StartFailed;
    int exitStatus = -1;
    int signal = 0;
    std::string output;       // what it wrote to standard output
    std::string errorOutput;  // what it wrote to standard error
    std::string failure;      // why it could not be started (StartFailed only)

    bool exitedWith(int status) const { return outcome == ProcessOutcome::Exited && exitStatus == status; }
};

// Each captured stream keeps at most this many bytes; the rest is read and dropped.
constexpr std::size_t kMaxCapturedOutputBytes = 1 << 20;

// Runs program (searched in PATH when it holds no '/') with arguments (argv[1]...),
// standard input from /dev/null, standard output and error captured. Waits at most
// timeoutMs milliseconds. The child inherits the environment and no descriptor of
// ours besides the three standard ones. Safe to call from any thread.
ProcessResult runProcess(const std::string& program, const std::vector<std::string>& arguments, int timeoutMs);

// The full path of the running executable; nullopt with *error set when unknown.
std::optional<std::string> currentExecutablePath(std::string* error = nullptr);

// The directory of the running executable, up to and including its last '/', where
// the XML files live; "./" when the executable's path is unknown.
std::string programDirectory();

// Which side of becomeDaemon() a process is on.
enum class DaemonSide {
    Original,  // the caller's process: the daemon has been started; return and exit
    Daemon,    // the detached grandchild: go on with the work
    Failed,    // no daemon was started; *error holds the system's text
};

// Detaches the work from the terminal: forks twice with setsid() between, so the
// daemon is no session leader and never regains a terminal; the daemon changes to
// "/" and has /dev/null as standard input, output and error. The original process
// waits only for the short-lived middle process. Call before any thread starts.
DaemonSide becomeDaemon(std::string* error = nullptr);

}  // namespace corvel
