#include "ftp/DataChannel.h"

#include <algorithm>
#include <chrono>
#include <random>

#include "ftp/FtpContext.h"
#include "ftp/FtpReplies.h"

namespace corvel {
namespace {

// Readiness waits of one second a PASV or PORT set-up may take before it gives up.
constexpr int kDataSetupWaits = 90;

}  // namespace

std::optional<TcpListener> DataChannel::openPassiveListener() {
    if (!context_.passivePorts) return TcpListener::open(local_, 0, 5);
    // A random first port, so two sessions rarely race for the same one.
    thread_local std::mt19937 random{std::random_device{}()};
    return TcpListener::openInRange(local_, *context_.passivePorts, 5, static_cast<std::uint32_t>(random()));
}

bool DataChannel::awaitPassiveConnection(TcpListener& listener) {
    // SECURITY: one deadline for the whole wait, so a foreign host connecting now and
    // then (and being turned away) cannot keep the session waiting for ever.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitStepMs) * (kDataSetupWaits + 1);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        WaitResult w = listener.socket().waitReadable(static_cast<int>(std::min<long long>(kWaitStepMs, left.count())));
        if (w == WaitResult::Failed) return false;
        if (w == WaitResult::TimedOut) continue;
        Socket accepted = listener.accept();
        if (!accepted.isOpen()) continue;
        // SECURITY: only the control connection's peer may take the data connection.
        if (accepted.peerAddress() != peer_) continue;
        socket_ = std::move(accepted);
        return true;
    }
}

bool DataChannel::listenPassive(const std::function<std::string(std::uint16_t port)>& announcement) {
    socket_.close();  // an unused earlier data connection is replaced
    auto listener = openPassiveListener();
    if (!listener) {
        reply(replies::kNoDataConnection);
        return false;
    }
    reply(announcement(listener->port()));
    if (awaitPassiveConnection(*listener)) return true;
    socket_.close();
    reply(replies::kNoDataConnection);
    return false;
}

bool DataChannel::connectActive(const std::string& address, std::uint16_t port) {
    socket_.close();
    // SECURITY: no FTP bounce; the data connection goes only to the client itself.
    if (address != peer_) {
        reply(replies::kNoDataConnection);
        return false;
    }
    socket_ = Socket::createTcp();
    if (!socket_.isOpen() || !socket_.startConnect(address, port)) {
        socket_.close();
        reply(replies::kNoDataConnection);
        return false;
    }
    for (int idleWaits = 0; idleWaits <= kDataSetupWaits;) {
        WaitResult w = socket_.waitWritable(kWaitStepMs);
        if (w == WaitResult::Failed) break;
        if (w == WaitResult::TimedOut) {
            ++idleWaits;
            continue;
        }
        // A refused connection shows as writable with an error: say so at once
        // instead of pretending the port works.
        if (!socket_.connectSucceeded()) break;
        return true;
    }
    socket_.close();
    reply(replies::kNoDataConnection);
    return false;
}

bool DataChannel::mayTransfer() {
    if (context_.tlsMode != TlsMode::Required || protection_.protectedData) return true;
    socket_.close();
    reply(replies::kDataMustBeProtected);
    return false;
}

bool DataChannel::protect() {
    if (!protection_.protectedData) return true;
    // SECURITY: by default the data connection must resume this control connection's
    // session, so nobody else can take over a passive data connection.
    const TlsAccept accepted = context_.tls->accept(socket_, protection_.token,
                                                    context_.tlsReuse ? TlsRole::ResumingData : TlsRole::Data);
    if (accepted == TlsAccept::Done) return true;
    socket_.close();
    reply(accepted == TlsAccept::NotResumed ? replies::kDataSessionNotResumed : replies::kDataTlsFailed);
    return false;
}

void DataChannel::transfer(const std::string& opening, const std::function<bool(Socket&)>& body,
                           const std::function<void(bool completed)>& finished) {
    reply(opening);
    if (!protect()) return;
    const bool completed = body(socket_);
    socket_.close();
    if (finished) finished(completed);
    reply(completed ? replies::kTransferComplete : replies::kTransferAborted);
}

}  // namespace corvel
