#include "server/FtpServer.h"

#include <ctime>
#include <memory>

#include "accounts/AccessPolicy.h"
#include "accounts/UserTable.h"
#include "common/NamedObjectNames.h"
#include "common/SharedBlocks.h"
#include "ftp/FtpContext.h"
#include "platform/Socket.h"
#include "platform/Thread.h"
#include "server/ConnectionThreads.h"

namespace corvel {

std::atomic<int> activeFtpConnections{0};

namespace {

// Sessions share one context per run; it lives as long as the process, since
// connection threads are never joined and may outlive run().
std::shared_ptr<FtpContext> makeContext(UserTable& users, AccessPolicy& policy, const ServerSettings& settings,
                                        std::int64_t startTime) {
    return std::make_shared<FtpContext>(FtpContext{users, policy, activeFtpConnections, settings.maxConnections,
                                                   settings.passiveMode, settings.welcomeMessage, startTime});
}

}  // namespace

FtpServer::FtpServer(std::string programDirectory, UserTable& users, AccessPolicy& policy)
    : programDirectory_(std::move(programDirectory)), users_(users), policy_(policy) {}

FtpServer::~FtpServer() = default;

bool FtpServer::stop() {
    stopRequested_ = true;
    return stopEvent_ && stopEvent_->signal();
}

bool FtpServer::createBlocks() {
    controlMutex_ = NamedMutex::createOrOpen(names::kControlMutex);
    controlBlock_ = SharedBlock::createZeroed(names::kControlBlock, kControlBlockSize);
    statusMutex_ = NamedMutex::createOrOpen(names::kStatusMutex);
    statusBlock_ = SharedBlock::createZeroed(names::kStatusBlock, kStatusBlockSize);
    return controlMutex_ && controlBlock_ && statusMutex_ && statusBlock_;
}

void FtpServer::serveControlBlock() {
    NamedMutexLock lock(*controlMutex_, kBlockMutexWaitMs);
    if (!lock.ownsLock()) return;  // the bits stay set; retried next turn
    std::uint8_t* word = controlBlock_->data();
    std::uint32_t requests = readControlWord(word);
    if (requests & ReloadUsers) {
        users_.reload();
        requests &= ~ReloadUsers;
        writeControlWord(word, requests);
    }
    if (requests & ReloadAccess) {
        policy_.reload();
        requests &= ~ReloadAccess;
        writeControlWord(word, requests);
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
    status.activeConnections = activeFtpConnections.load();
    status.startTime = static_cast<std::int32_t>(startTime_);
    status.encode(statusBlock_->data());
}

void FtpServer::run(RunMode mode, RunObserver* observer) {
    auto fail = [observer](const std::string& reason) {
        if (observer) observer->startFailed(reason);
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

    stopEvent_ = NamedEvent::createOrOpen(names::kStopEvent);
    existenceEvent_ = NamedEvent::createOrOpen(names::kExistenceEvent);
    if (!stopEvent_ || !existenceEvent_) return fail("cannot create the stop and existence events");

    loadSettings(programDirectory_, settings_);
    if (!createBlocks()) return fail("cannot create the status and control blocks");

    auto ftpListener = TcpListener::open(settings_.listenAddress, settings_.ftpPort, 0);
    if (!ftpListener)
        return fail("cannot listen on FTP port " + std::to_string(settings_.ftpPort) +
                    (settings_.listenAddress.empty() ? std::string() : " of " + settings_.listenAddress));
    auto webListener = TcpListener::open(settings_.listenAddress, settings_.webPort, 0);
    if (!webListener)
        return fail("cannot listen on web port " + std::to_string(settings_.webPort) +
                    (settings_.listenAddress.empty() ? std::string() : " of " + settings_.listenAddress));

    auto context = makeContext(users_, policy_, settings_, startTime_);
    if (observer) observer->serving();

    Socket* listeners[] = {&ftpListener->socket(), &webListener->socket()};
    bool busy = false;
    // A turn that accepted a connection polls the stop event without waiting and
    // goes straight on; only an idle turn takes the full pauses.
    while (!stopRequested_ && !stopSignalReceived() && !stopEvent_->wait(busy ? 0 : kStopPollMs)) {
        serveControlBlock();
        writeStatusBlock();
        existenceEvent_->signal();

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
            if (ready == 0)
                startFtpConnection(std::move(accepted), context);
            else
                startWebConnection(std::move(accepted), users_);
        }
    }
    if (observer) observer->stopping();
    stopEvent_.reset();
    existenceEvent_.reset();
}

}  // namespace corvel
