// The server run: named objects, settings, the two listeners and the polling loop
// that publishes status, serves reload requests and hands connections to threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/NamedObjects.h"
#include "server/ServerSettings.h"

namespace corvel {

class UserTable;
class AccessPolicy;

// Live FTP sessions of this process; web connections are not counted.
extern std::atomic<int> activeFtpConnections;

enum class RunMode { Plain, Service, DebugConsole, Faceless };

// Hooks the service host gives a run (readiness and stop reports, start-up errors).
class RunObserver {
public:
    virtual ~RunObserver() = default;
    virtual void serving() {}
    virtual void stopping() {}
    virtual void startFailed(const std::string& /*reason*/) {}
};

// One per process. run() is called on one thread; stop() may be called from any.
class FtpServer {
public:
    FtpServer(std::string programDirectory, UserTable& users, AccessPolicy& policy);
    ~FtpServer();

    // Returns when stopped, when another plain server runs, or when start-up failed.
    void run(RunMode mode, RunObserver* observer = nullptr);
    // Asks the loop to end at its next turn.
    bool stop();

    // Idle turn: 10 ms stop poll, 50 ms wait for connections, then 100 ms rest.
    static constexpr int kStopPollMs = 10;
    static constexpr int kListenWaitMs = 50;
    static constexpr int kIdleRestMs = 100;
    // Connections taken from one ready listener in one turn.
    static constexpr int kAcceptsPerTurn = 32;

private:
    bool createBlocks();
    void serveControlBlock();
    void writeStatusBlock();

    std::string programDirectory_;
    UserTable& users_;
    AccessPolicy& policy_;
    ServerSettings settings_;
    std::int64_t startTime_ = 0;

    std::optional<NamedMutex> plainInstanceMutex_;  // held for the life of the process
    std::optional<NamedEvent> stopEvent_;
    std::optional<NamedEvent> existenceEvent_;
    std::optional<NamedMutex> controlMutex_;
    std::optional<SharedBlock> controlBlock_;
    std::optional<NamedMutex> statusMutex_;
    std::optional<SharedBlock> statusBlock_;
    std::atomic<bool> stopRequested_{false};
};

}  // namespace corvel
