#include "platform/Process.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/ProgramDirectory.h"
#include "platform/UniqueFd.h"

extern char** environ;

namespace corvel {
namespace {

using Clock = std::chrono::steady_clock;

std::string errorText(int number) { return std::strerror(number); }

// Reads what is there into text (up to the cap); false at end of stream or error.
bool drain(int fd, std::string& text) {
    char buffer[4096];
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            std::size_t room = kMaxCapturedOutputBytes - std::min(text.size(), kMaxCapturedOutputBytes);
            text.append(buffer, std::min(static_cast<std::size_t>(got), room));
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        return false;
    }
}

int waitForChild(pid_t pid, int* status, int flags) {
    for (;;) {
        pid_t result = ::waitpid(pid, status, flags);
        if (result >= 0 || errno != EINTR) return result;
    }
}

// Owns the file actions of one spawn.
class SpawnActions {
public:
    SpawnActions() { ok_ = ::posix_spawn_file_actions_init(&actions_) == 0; }
    ~SpawnActions() {
        if (ok_) ::posix_spawn_file_actions_destroy(&actions_);
    }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    bool ok() const { return ok_; }
    posix_spawn_file_actions_t* get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
    bool ok_ = false;
};

}  // namespace

ProcessResult runProcess(const std::string& program, const std::vector<std::string>& arguments, int timeoutMs) {
    ProcessResult result;
    int outPipe[2], errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0) {
        result.failure = errorText(errno);
        return result;
    }
    UniqueFd outRead(outPipe[0]), outWrite(outPipe[1]);
    if (::pipe2(errPipe, O_CLOEXEC) != 0) {
        result.failure = errorText(errno);
        return result;
    }
    UniqueFd errRead(errPipe[0]), errWrite(errPipe[1]);

    SpawnActions actions;
    if (!actions.ok() || ::posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0) != 0 ||
        ::posix_spawn_file_actions_adddup2(actions.get(), outWrite.get(), 1) != 0 ||
        ::posix_spawn_file_actions_adddup2(actions.get(), errWrite.get(), 2) != 0) {
        result.failure = "cannot prepare the child's descriptors";
        return result;
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    pid_t pid = -1;
    // glibc reports a failed exec (missing program, no permission) as the result.
    int spawned = ::posix_spawnp(&pid, program.c_str(), actions.get(), nullptr, argv.data(), environ);
    if (spawned != 0) {
        result.failure = errorText(spawned);
        return result;
    }
    outWrite.reset();
    errWrite.reset();
    ::fcntl(outRead.get(), F_SETFL, O_NONBLOCK);
    ::fcntl(errRead.get(), F_SETFL, O_NONBLOCK);

    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    bool outOpen = true, errOpen = true, timedOut = false;
    while (outOpen || errOpen) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            timedOut = true;
            break;
        }
        pollfd fds[2] = {{outOpen ? outRead.get() : -1, POLLIN, 0}, {errOpen ? errRead.get() : -1, POLLIN, 0}};
        int ready = ::poll(fds, 2, static_cast<int>(left));
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) continue;
        if (outOpen && fds[0].revents) outOpen = drain(outRead.get(), result.output);
        if (errOpen && fds[1].revents) errOpen = drain(errRead.get(), result.errorOutput);
    }

    int status = 0;
    if (!timedOut) {
        // Both streams closed; the child is ending. Wait for it within what is left.
        while (waitForChild(pid, &status, WNOHANG) == 0) {
            if (Clock::now() >= deadline) {
                timedOut = true;
                break;
            }
            ::usleep(1000);
        }
        if (!timedOut) {
            if (WIFEXITED(status)) {
                result.outcome = ProcessOutcome::Exited;
                result.exitStatus = WEXITSTATUS(status);
            } else {
                result.outcome = ProcessOutcome::Signalled;
                result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
            }
            return result;
        }
    }
    ::kill(pid, SIGKILL);
    waitForChild(pid, &status, 0);
    result.outcome = ProcessOutcome::TimedOut;
    return result;
}

std::optional<std::string> currentExecutablePath(std::string* error) {
    std::string path(4096, '\0');
    ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) {
        if (error) *error = length < 0 ? errorText(errno) : "The executable path is too long.";
        return std::nullopt;
    }
    path.resize(static_cast<std::size_t>(length));
    return path;
}

std::string programDirectory() {
    std::optional<std::string> executable = currentExecutablePath();
    return executable ? directoryOfPath(*executable) : std::string("./");
}

DaemonSide becomeDaemon(std::string* error) {
    pid_t middle = ::fork();
    if (middle < 0) {
        if (error) *error = errorText(errno);
        return DaemonSide::Failed;
    }
    if (middle > 0) {
        int status = 0;
        waitForChild(middle, &status, 0);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return DaemonSide::Original;
        if (error) *error = "the daemon process could not be started";
        return DaemonSide::Failed;
    }
    // The middle process: a new session without a terminal, then the daemon forks off
    // so that it is no session leader and can never acquire a controlling terminal.
    if (::setsid() < 0) ::_exit(1);
    pid_t daemon = ::fork();
    if (daemon < 0) ::_exit(1);
    if (daemon > 0) ::_exit(0);

    if (::chdir("/") != 0) {
        // Nothing else to do: "/" always exists.
    }
    UniqueFd null(::open("/dev/null", O_RDWR));
    if (null.isOpen()) {
        ::dup2(null.get(), 0);
        ::dup2(null.get(), 1);
        ::dup2(null.get(), 2);
        if (null.get() <= 2) null.release();
    }
    return DaemonSide::Daemon;
}

}  // namespace corvel
