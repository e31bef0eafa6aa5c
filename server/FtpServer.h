// The server run: named objects, settings, the two listeners and the polling loop
// that publishes status, serves reload requests and hands connections to threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/NamedObjects.h"
#include "platform/Socket.h"
#include "platform/WakePipe.h"
#include "server/ConnectionThreads.h"
#include "server/ServerSettings.h"
#include "server/SessionsPublisher.h"
#include "tls/TlsServer.h"

namespace corvel {

struct FtpContext;
struct ProcessContext;
struct SftpContext;
struct WebContext;
class SftpEndpoint;

enum class RunMode { Plain, Service, DebugConsole, Faceless };

// Hooks the service host gives a run (readiness and stop reports, start-up errors).
class RunObserver {
public:
    virtual ~RunObserver() = default;
    virtual void serving() {}
    virtual void stopping() {}
    // reason says what failed, with the system's text where there is one;
    // systemError is the system's error number for it (0 when none applies).
    virtual void startFailed(const std::string& /*reason*/, int /*systemError*/) {}
};

// One per process. run() is called on one thread; stop() may be called from any.
class FtpServer {
public:
    explicit FtpServer(std::shared_ptr<ProcessContext> process);
    ~FtpServer();

    ProcessContext& process() { return *process_; }

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
    // What a started run serves with.
    struct Serving {
        std::optional<TcpListener> ftpListener;
        std::optional<TcpListener> webListener;
        std::optional<TcpListener> sftpListener;  // only with <sftpport>
        std::shared_ptr<const FtpContext> ftpContext;
        std::shared_ptr<const WebContext> webContext;
        std::shared_ptr<const SftpEndpoint> sftp;
        std::shared_ptr<const SftpContext> sftpContext;
        ProxyPatterns proxies;
    };
    // Takes the plain server's instance mutex; false when another plain server holds it.
    bool holdPlainInstance();
    // The SFTP port's host keys, listener and context, when <sftpport> asks for them.
    Status startSftp(Serving& serving);
    // Named objects, settings, TLS, the listeners and the contexts; a failure
    // says what failed, with the system's error number where there is one.
    Status start(Serving& serving);
    // The listener loop, until a stop.
    void serve(Serving& serving);
    void doPeriodicDuties();
    // Takes up to kAcceptsPerTurn connections from a ready listener.
    enum class Port { Ftp, Web, Sftp };
    void acceptFrom(TcpListener& listener, Port port, const Serving& serving);
    Status createBlocks();
    void serveControlBlock();
    void writeStatusBlock();
    // Starts the thread of an accepted web connection within its address's share
    // (<webmaxperip>), or closes it. balancer: peer is a <proxyfrom> balancer.
    void acceptWebConnection(Socket accepted, const std::string& peer, bool balancer,
                             const std::shared_ptr<const WebContext>& context, const ProxyPatterns& proxies);
    // <webmaxperip> while the web port is at least half full, else no limit.
    std::uint32_t webLimitInForce() const;

    std::shared_ptr<ProcessContext> process_;
    ServerSettings settings_;
    std::shared_ptr<TlsServer> tls_;  // null while TLS is off; its pair is swapped by a reload
    SessionsPublisher sessionsPublisher_;  // corvelctl sessions and kick
    std::uint32_t webConnectionLimit_ = kDefaultMaxWebConnections;
    std::int64_t startTime_ = 0;

    std::optional<NamedMutex> plainInstanceMutex_;  // held for the life of the process
    std::optional<NamedEvent> stopEvent_;
    std::optional<NamedEvent> existenceEvent_;
    std::optional<NamedMutex> controlMutex_;
    std::optional<SharedBlock> controlBlock_;
    std::optional<NamedMutex> statusMutex_;
    std::optional<SharedBlock> statusBlock_;
    std::atomic<bool> stopRequested_{false};
    Status wakeFailure_;            // why wake_ could not be opened, if it could not
    WakePipe wake_{&wakeFailure_};  // stop() writes to it, so the loop's waits end at once
};

}  // namespace corvel
