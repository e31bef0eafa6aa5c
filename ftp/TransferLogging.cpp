// What RETR, STOR and APPE leave: the <xferlog> line and the bytes of the session's row.
#include <algorithm>

#include "accounts/UserTable.h"
#include "files/LocalFile.h"
#include "files/TransferLog.h"
#include "ftp/FtpSession.h"

namespace corvel {

std::chrono::steady_clock::time_point FtpSession::transferStarting() {
    if (listed_) listed_->transferStarted(data_.socket());
    return std::chrono::steady_clock::now();
}

void FtpSession::recordTransfer(const std::string& localPath, std::chrono::steady_clock::time_point started,
                                bool outgoing, bool complete, std::int64_t expected) {
    const bool logged = context_.transferLog && context_.transferLog->enabled();
    if (!logged && !listed_) return;
    const auto elapsed = std::chrono::steady_clock::now() - started;
    TransferRecord record;
    record.finished = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    record.seconds = std::chrono::round<std::chrono::seconds>(elapsed).count();
    record.remoteHost = peerAddress_;
    record.fileName = localPath;
    record.binary = transferType_ == TransferType::Binary;
    record.outgoing = outgoing;
    record.anonymous = context_.users.logsInWithoutPassword(userName_);
    record.user = userName_;
    record.complete = complete;
    // A complete transfer moved exactly the file's bytes; one that broke off as far
    // as the connection's count tells (it counts a TLS layer's own bytes as well).
    const SocketTraffic traffic = data_.socket().trafficAtClose();
    if (outgoing) {
        const auto whole = static_cast<std::uint64_t>(std::max<std::int64_t>(expected, 0));
        record.bytes = complete ? whole : std::min(traffic.sentAcknowledged, whole);
    } else {
        const std::int64_t size = LocalFile(localPath).info().size;
        record.bytes =
            complete ? static_cast<std::uint64_t>(std::max<std::int64_t>(size - expected, 0)) : traffic.received;
    }
    if (listed_) listed_->transferEnded(record.bytes);
    if (logged) context_.transferLog->record(record);
}

}  // namespace corvel
