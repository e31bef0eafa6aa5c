#include "server/FtpServer.h"

#include <ctime>
#include <memory>

#include "common/AddressShare.h"
#include "common/NamedObjectNames.h"
#include "common/SharedBlocks.h"
#include "ftp/FtpContext.h"
#include "platform/HostName.h"
#include "platform/ResourceLimits.h"
#include "platform/Socket.h"
#include "platform/Thread.h"
#include "server/ConnectionLimits.h"
#include "server/ConnectionThreads.h"
#include "server/ProcessContext.h"
#include "server/ProxyProtocol.h"
#include "server/TlsSetup.h"
#include "server/SessionsPublisher.h"
#include "server/TransferLogSetup.h"
#include "web/WebConnection.h"

namespace corvel {
namespace {

std::string listenFailure(const char* which, const ServerSettings& settings, std::uint16_t port,
                          const Status& why) {
    return std::string("cannot listen on ") + which + " port " + std::to_string(port) +
           (settings.listenAddress.empty() ? std::string() : " of " + settings.listenAddress) + ": " + why.text();
}

}  // namespace

void FtpServer::acceptWebConnection(Socket accepted, const std::string& peer, bool balancer,
                                    const std::shared_ptr<const WebContext>& context, const ProxyPatterns& proxies) {
    std::shared_ptr<AddressSlots::Slot> slot;
    if (!balancer) {
        // SECURITY: one address cannot hold every web slot, with half-sent requests
        // or stalled handshakes: past its share its new connections are closed at
        // once, and other addresses are served as before.
        slot = process_->webSlots->take(peer, webLimitInForce());
        if (!slot) return;  // accepted closes here
    }
    startWebConnection(std::move(accepted), context, process_, proxies, std::move(slot), webLimitInForce());
}

std::uint32_t FtpServer::webLimitInForce() const {
    const int live = process_->activeWebConnections.load();
    return perAddressLimitInForce(settings_.webMaxPerAddress, static_cast<std::uint64_t>(live < 0 ? 0 : live),
                                  webConnectionLimit_);
}

FtpServer::FtpServer(std::shared_ptr<ProcessContext> process) : process_(std::move(process)) {}

FtpServer::~FtpServer() = default;

bool FtpServer::stop() {
    stopRequested_ = true;
    return stopEvent_ && stopEvent_->signal();
}

Status FtpServer::createBlocks() {
    Status failure;
    controlMutex_ = NamedMutex::createOrOpen(names::kControlMutex, nullptr, &failure);
    if (controlMutex_)
        controlBlock_ = SharedBlock::createZeroed(names::kControlBlock, kControlBlockSize, nullptr, &failure);
    if (controlBlock_) statusMutex_ = NamedMutex::createOrOpen(names::kStatusMutex, nullptr, &failure);
    if (statusMutex_)
        statusBlock_ = SharedBlock::createZeroed(names::kStatusBlock, kStatusBlockSize, nullptr, &failure);
    return failure;
}

void FtpServer::serveControlBlock() {
    NamedMutexLock lock(*controlMutex_, kBlockMutexWaitMs);
    if (!lock.ownsLock()) return;  // the bits stay set; retried next turn
    std::uint8_t* word = controlBlock_->data();
    std::uint32_t requests = readControlWord(word);
    // A users reload whose file lock stayed held keeps its bit for a later turn.
    if ((requests & ReloadUsers) && process_->users.reload()) {
        requests &= ~ReloadUsers;
        writeControlWord(word, requests);
    }
    if (requests & ReloadAccess) {
        process_->policy.reload();
        requests &= ~ReloadAccess;
        writeControlWord(word, requests);
    }
    if (requests & ReloadLog) {
        reopenTransferLog(process_->transferLog, process_->log);
        requests &= ~ReloadLog;
        writeControlWord(word, requests);
    }
    if (requests & ReloadTls) {
        std::string why;
        const bool taken = reloadTls(tls_.get(), settings_, process_->programDirectory, process_->log, &why);
        requests &= ~(ReloadTls | TlsReloaded | TlsReloadRefused);
        writeControlWord(word, requests | (taken ? TlsReloaded : TlsReloadRefused));
        requests = readControlWord(word);
    }
    if (requests & PublishSessions) {
        const bool published = sessionsPublisher_.publish(process_->liveSessions);
        requests &= ~(PublishSessions | SessionsPublished);
        writeControlWord(word, requests | (published ? SessionsPublished : 0));
        requests = readControlWord(word);
    }
    if (requests & KickSessions) {
        sessionsPublisher_.kick(process_->liveSessions);
        requests &= ~KickSessions;
        writeControlWord(word, requests | SessionsKicked);
    }
}

void FtpServer::writeStatusBlock() {
    NamedMutexLock lock(*statusMutex_, kBlockMutexWaitMs);
    if (!lock.ownsLock()) return;
    StatusBlock status;
    status.listenAddress = settings_.listenAddress;
    status.ftpPort = settings_.ftpPort;
    status.webPort = settings_.webPort;
    status.connectionLimit = static_cast<std::uint16_t>(settings_.maxConnections);
    status.activeConnections = process_->activeFtpConnections.load();
    status.startTime = static_cast<std::int32_t>(startTime_);
    status.encode(statusBlock_->data());
}

void FtpServer::run(RunMode mode, RunObserver* observer) {
    auto fail = [observer](const std::string& reason, int systemError) {
        if (observer) observer->startFailed(reason, systemError);
    };
    if (mode == RunMode::Plain) {
        bool existed = false;
        plainInstanceMutex_ = NamedMutex::createOrOpen(names::kPlainServerMutex, &existed);
        if (!plainInstanceMutex_ || existed) {
            plainInstanceMutex_.reset();
            return;
        }
    }
    startTime_ = static_cast<std::int64_t>(std::time(nullptr));

    Status events;
    stopEvent_ = NamedEvent::createOrOpen(names::kStopEvent, nullptr, &events);
    if (stopEvent_) existenceEvent_ = NamedEvent::createOrOpen(names::kExistenceEvent, nullptr, &events);
    if (!stopEvent_ || !existenceEvent_)
        return fail("cannot create the stop and existence events in " + namedObjectDirectory(), events.systemError());

    loadSettings(process_->programDirectory, settings_, &process_->log);
    // An IPv6 listen address belongs to <ftpext> (EPSV and EPRT are what IPv6 clients use).
    if (!settings_.ftpExtensions && settings_.listenAddress.find(':') != std::string::npos)
        settings_.problems.push_back("<listenip>" + settings_.listenAddress +
                                     "</listenip> is IPv6, which needs <ftpext>yes</ftpext>");
    if (!settings_.problems.empty()) {
        std::string text = "ftpconfig.xml: ";
        for (std::size_t i = 0; i < settings_.problems.size(); ++i) text += (i ? "; " : "") + settings_.problems[i];
        return fail(text, EINVAL);
    }
    process_->users.setPasswordScheme(settings_.passwordScheme);
    if (const Status opened = openTransferLog(settings_, process_->programDirectory, process_->transferLog);
        !opened.ok())
        return fail(opened.text(), opened.systemError());
    if (const Status blocks = createBlocks(); !blocks.ok())
        return fail("cannot create the status and control blocks in " + namedObjectDirectory(), blocks.systemError());

    const WebConnectionLimit web = webConnectionLimit(
        settings_.maxWebConnections, std::uint64_t{settings_.maxConnections} + 1, raiseDescriptorLimit(), taskLimit());
    webConnectionLimit_ = web.limit;
    if (web.reduced)
        process_->log.write(LogSeverity::Warning,
                            "at most " + std::to_string(web.limit) +
                                " web connections at once: the process's descriptor and thread limits are kept "
                                "in reserve for " + std::to_string(std::uint64_t{settings_.maxConnections} + 1) +
                                " FTP sessions (maxconn)");

    // Bans close the address's live sessions too, on whichever port it failed.
    SessionRegistry& sessions = process_->sessions;
    process_->bans.configure(BanRules{settings_.banFailures, std::chrono::minutes(settings_.banWindowMinutes),
                                      std::chrono::minutes(settings_.banMinutes)},
                             [&sessions](const std::string& address) { sessions.closeAll(address); });

    std::string why;
    tls_ = prepareTls(settings_, process_->programDirectory, officialHostName(), process_->log, &why);
    if (!tls_ && !why.empty()) return fail("TLS: " + why, EINVAL);
    const std::shared_ptr<const TlsServer> tls = tls_;

    Status listening;
    auto ftpListener = TcpListener::open(settings_.listenAddress, settings_.ftpPort, 0, &listening);
    if (!ftpListener)
        return fail(listenFailure("FTP", settings_, settings_.ftpPort, listening), listening.systemError());
    auto webListener = TcpListener::open(settings_.listenAddress, settings_.webPort, 0, &listening);
    if (!webListener)
        return fail(listenFailure("web", settings_, settings_.webPort, listening), listening.systemError());

    std::shared_ptr<const PassiveAddress> passiveAddress;
    if (!settings_.passiveAddress.empty())
        passiveAddress = std::make_shared<const PassiveAddress>(settings_.passiveAddress, &resolveIpv4);
    auto ftpContext = std::make_shared<const FtpContext>(FtpContext{
        .users = process_->users,
        .policy = process_->policy,
        .activeConnections = process_->activeFtpConnections,
        .logins = process_->logins,
        .maxConnections = settings_.maxConnections,
        .passiveMode = settings_.passiveMode,
        .welcomeMessage = settings_.welcomeMessage,
        .startTime = startTime_,
        .tlsMode = settings_.tls,
        .tls = settings_.tls == TlsMode::Off ? nullptr : tls,
        .tlsReuse = settings_.tlsReuse,
        .ftpExtensions = settings_.ftpExtensions,
        .passivePorts = settings_.passivePorts,
        .passiveAddress = passiveAddress,
        .bans = &process_->bans,
        .sessions = &process_->sessions,
        .maxPerAddress = settings_.maxPerAddress,
        .maxLoginPerAddress = settings_.maxLoginPerAddress,
        .transferLog = &process_->transferLog,
        .liveSessions = &process_->liveSessions,
    });
    auto webContext = std::make_shared<const WebContext>(
        WebContext{.users = process_->users,
                   .logins = process_->logins,
                   .tls = settings_.webTls ? tls : nullptr,
                   .policy = process_->policy,
                   .webPolicy = settings_.webPolicy,
                   .webExtensions = settings_.webExtensions,
                   .webCharset = settings_.webCharset,
                   .bans = &process_->bans,
                   .transferLog = &process_->transferLog,
                   .liveSessions = &process_->liveSessions});
    auto proxies = std::make_shared<const std::vector<std::string>>(settings_.proxyFrom);
    if (observer) observer->serving();

    Socket* listeners[] = {&ftpListener->socket(), &webListener->socket()};
    bool busy = false;
    // A turn that accepted a connection polls the stop event without waiting and
    // goes straight on; only an idle turn takes the full pauses.
    while (!stopRequested_ && !stopSignalReceived() && !stopEvent_->wait(busy ? 0 : kStopPollMs)) {
        serveControlBlock();
        writeStatusBlock();
        existenceEvent_->signal();
        process_->bans.sweep();  // logs the bans that ran out

        int ready = waitAnyReadable(listeners, 2, kListenWaitMs);
        if (ready == -2) break;
        if (ready == -1) {
            busy = false;
            // Rest, but wake for a connection arriving meanwhile.
            if (waitAnyReadable(listeners, 2, kIdleRestMs) == -2) break;
            continue;
        }
        busy = true;
        TcpListener& listener = ready == 0 ? *ftpListener : *webListener;
        for (int i = 0; i < kAcceptsPerTurn; ++i) {
            Socket accepted = listener.accept();
            if (!accepted.isOpen()) break;
            // A balancer speaks for others: its clients are checked on their threads,
            // once the PROXY header named them.
            const std::string peer = accepted.peerAddress();
            const bool balancer = !proxies->empty() && comesThroughProxy(*proxies, peer);
            // SECURITY: a banned address is closed at accept, unanswered as on its
            // thread, so a flood of them costs no threads.
            if (!balancer && process_->bans.isBanned(peer)) {
                accepted.close();
            } else if (ready == 0) {
                startFtpConnection(std::move(accepted), ftpContext, process_, proxies);
            } else if (process_->activeWebConnections.load() >= static_cast<int>(webConnectionLimit_)) {
                // SECURITY: past the web limit a connection is closed at once; the
                // descriptors and threads it would take stay for the FTP side.
                accepted.close();
            } else {
                acceptWebConnection(std::move(accepted), peer, balancer, webContext, proxies);
            }
        }
    }
    if (observer) observer->stopping();
    stopEvent_.reset();
    existenceEvent_.reset();
}

}  // namespace corvel
