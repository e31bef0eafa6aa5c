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
#include "sftp/SftpContext.h"
#include "sftp/SftpEndpoint.h"
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
    wake_.wake();
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

bool FtpServer::holdPlainInstance() {
    bool existed = false;
    plainInstanceMutex_ = NamedMutex::createOrOpen(names::kPlainServerMutex, &existed);
    if (plainInstanceMutex_ && !existed) return true;
    plainInstanceMutex_.reset();
    return false;
}

void FtpServer::run(RunMode mode, RunObserver* observer) {
    // A second plain server leaves quietly: the first one serves.
    if (mode == RunMode::Plain && !holdPlainInstance()) return;
    Serving serving;
    if (const Status started = start(serving); !started.ok()) {
        if (observer) observer->startFailed(started.text(), started.systemError());
        return;
    }
    if (observer) observer->serving();
    serve(serving);
    if (observer) observer->stopping();
    stopEvent_.reset();
    existenceEvent_.reset();
}

Status FtpServer::start(Serving& serving) {
    startTime_ = static_cast<std::int64_t>(std::time(nullptr));

    Status events;
    stopEvent_ = NamedEvent::createOrOpen(names::kStopEvent, nullptr, &events);
    if (stopEvent_) existenceEvent_ = NamedEvent::createOrOpen(names::kExistenceEvent, nullptr, &events);
    if (!stopEvent_ || !existenceEvent_)
        return Status::failure(events.systemError(),
                               "cannot create the stop and existence events in " + namedObjectDirectory());
    if (!wake_.isOpen())
        return Status::failure(wakeFailure_.systemError(), "cannot open the listener loop's wake-up pipe: " +
                                                                wakeFailure_.text());

    loadSettings(process_->programDirectory, settings_, &process_->log);
    // An IPv6 listen address belongs to <ftpext> (EPSV and EPRT are what IPv6 clients use).
    if (!settings_.ftpExtensions && settings_.listenAddress.find(':') != std::string::npos)
        settings_.problems.push_back("<listenip>" + settings_.listenAddress +
                                     "</listenip> is IPv6, which needs <ftpext>yes</ftpext>");
    if (!settings_.problems.empty()) {
        std::string text = "ftpconfig.xml: ";
        for (std::size_t i = 0; i < settings_.problems.size(); ++i) text += (i ? "; " : "") + settings_.problems[i];
        return Status::failure(EINVAL, text);
    }
    process_->users.setPasswordScheme(settings_.passwordScheme);
    if (const Status opened = openTransferLog(settings_, process_->programDirectory, process_->transferLog);
        !opened.ok())
        return opened;
    if (const Status blocks = createBlocks(); !blocks.ok())
        return Status::failure(blocks.systemError(),
                               "cannot create the status and control blocks in " + namedObjectDirectory());

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
    if (!tls_ && !why.empty()) return Status::failure(EINVAL, "TLS: " + why);
    const std::shared_ptr<const TlsServer> tls = tls_;

    Status listening;
    serving.ftpListener = TcpListener::open(settings_.listenAddress, settings_.ftpPort, 0, &listening);
    if (!serving.ftpListener)
        return Status::failure(listening.systemError(), listenFailure("FTP", settings_, settings_.ftpPort, listening));
    serving.webListener = TcpListener::open(settings_.listenAddress, settings_.webPort, 0, &listening);
    if (!serving.webListener)
        return Status::failure(listening.systemError(), listenFailure("web", settings_, settings_.webPort, listening));

    std::shared_ptr<const PassiveAddress> passiveAddress;
    if (!settings_.passiveAddress.empty())
        passiveAddress = std::make_shared<const PassiveAddress>(settings_.passiveAddress, &resolveIpv4);
    serving.ftpContext = std::make_shared<const FtpContext>(FtpContext{
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
        .activeSends = &process_->activeSends,
    });
    serving.webContext = std::make_shared<const WebContext>(
        WebContext{.users = process_->users,
                   .logins = process_->logins,
                   .tls = settings_.webTls ? tls : nullptr,
                   .policy = process_->policy,
                   .webPolicy = settings_.webPolicy,
                   .webExtensions = settings_.webExtensions,
                   .webCharset = settings_.webCharset,
                   .bans = &process_->bans,
                   .appSessions = settings_.webApp ? &process_->webSessions : nullptr,
                   .shares = settings_.webApp ? &process_->shares : nullptr,
                   .shareVisits = &process_->shareVisits,
                   .log = &process_->log,
                   .transferLog = &process_->transferLog,
                   .liveSessions = &process_->liveSessions,
                   .activeSends = &process_->activeSends});
    serving.proxies = std::make_shared<const std::vector<std::string>>(settings_.proxyFrom);
    return startSftp(serving);
}

Status FtpServer::startSftp(Serving& serving) {
    if (settings_.sftpPort == 0) return {};
    auto endpoint = std::make_shared<SftpEndpoint>();
    std::string why;
    if (!endpoint->prepare(process_->programDirectory, settings_.sftpHostKeys, process_->log, &why))
        return Status::failure(EINVAL, "SFTP: " + why);
    const std::string& address =
        settings_.sftpListenAddress.empty() ? settings_.listenAddress : settings_.sftpListenAddress;
    Status listening;
    serving.sftpListener = TcpListener::open(address, settings_.sftpPort, 0, &listening);
    if (!serving.sftpListener)
        return Status::failure(listening.systemError(),
                               "cannot listen on SFTP port " + std::to_string(settings_.sftpPort) +
                                   (address.empty() ? std::string() : " of " + address) + ": " + listening.text());
    serving.sftp = std::move(endpoint);
    serving.sftpContext = std::make_shared<const SftpContext>(SftpContext{
        .users = process_->users,
        .policy = process_->policy,
        .logins = process_->logins,
        .log = process_->log,
        .activeConnections = process_->activeFtpConnections,
        .maxConnections = settings_.maxConnections,
        .bans = &process_->bans,
        .sessions = &process_->sessions,
        .maxPerAddress = settings_.maxPerAddress,
        .maxLoginPerAddress = settings_.maxLoginPerAddress,
        .transferLog = &process_->transferLog,
        .liveSessions = &process_->liveSessions,
    });
    return {};
}

void FtpServer::doPeriodicDuties() {
    // Every turn, busy or idle, in this order:
    //  1. the requests of the control block (reloads of users, policy, log and TLS;
    //     the live sessions to publish or kick);
    //  2. the status block the console and corvelctl read;
    //  3. the existence event, the heartbeat that tells them the server lives;
    //  4. the bans that ran out are logged and dropped.
    serveControlBlock();
    writeStatusBlock();
    existenceEvent_->signal();
    process_->bans.sweep();
}

void FtpServer::serve(Serving& serving) {
    Socket* listeners[] = {&serving.ftpListener->socket(), &serving.webListener->socket(),
                           serving.sftpListener ? &serving.sftpListener->socket() : nullptr};
    const int count = serving.sftpListener ? 3 : 2;
    const int kWoken = count;  // waitAnyReadable's answer when the wake-up pipe is readable
    bool busy = false;
    // A turn that accepted a connection polls the stop event without waiting and
    // goes straight on; only an idle turn takes the full pauses. A stop asked in this
    // process wakes any wait at once; one asked through the stop event is seen at the
    // next turn's poll.
    while (!stopRequested_ && !stopSignalReceived() && !stopEvent_->wait(busy ? 0 : kStopPollMs)) {
        doPeriodicDuties();

        int ready = waitAnyReadable(listeners, count, kListenWaitMs, wake_.readableDescriptor());
        if (ready == -2) break;
        if (ready == kWoken) {
            (void)wake_.drain();
            continue;
        }
        if (ready == -1) {
            busy = false;
            // Rest, but wake for a connection (or a stop) arriving meanwhile.
            const int rested = waitAnyReadable(listeners, count, kIdleRestMs, wake_.readableDescriptor());
            if (rested == -2) break;
            if (rested == kWoken) (void)wake_.drain();
            // A connection that ended the rest is taken at once, not after a stop poll.
            busy = rested >= 0 && rested < count;
            continue;
        }
        busy = true;
        if (ready == 0)
            acceptFrom(*serving.ftpListener, Port::Ftp, serving);
        else if (ready == 1)
            acceptFrom(*serving.webListener, Port::Web, serving);
        else
            acceptFrom(*serving.sftpListener, Port::Sftp, serving);
    }
}

void FtpServer::acceptFrom(TcpListener& listener, Port port, const Serving& serving) {
    for (int i = 0; i < kAcceptsPerTurn; ++i) {
        Socket accepted = listener.accept();
        if (!accepted.isOpen()) break;
        // A balancer speaks for others: its clients are checked on their threads,
        // once the PROXY header named them.
        const std::string peer = accepted.peerAddress();
        const bool balancer = !serving.proxies->empty() && comesThroughProxy(*serving.proxies, peer);
        // SECURITY: a banned address is closed at accept, unanswered as on its
        // thread, so a flood of them costs no threads.
        if (!balancer && process_->bans.isBanned(peer)) {
            accepted.close();
        } else if (port == Port::Ftp) {
            startFtpConnection(std::move(accepted), serving.ftpContext, process_, serving.proxies);
        } else if (port == Port::Sftp) {
            // A balancer's PROXY header is read on the thread, before the SSH banner.
            startSftpConnection(std::move(accepted), serving.sftp, serving.sftpContext, process_, serving.proxies);
        } else if (process_->activeWebConnections.load() >= static_cast<int>(webConnectionLimit_)) {
            // SECURITY: past the web limit a connection is closed at once; the
            // descriptors and threads it would take stay for the FTP side.
            accepted.close();
        } else {
            acceptWebConnection(std::move(accepted), peer, balancer, serving.webContext, serving.proxies);
        }
    }
}

}  // namespace corvel
