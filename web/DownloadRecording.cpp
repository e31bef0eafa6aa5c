// The <xferlog> line of a web download.
#include <algorithm>

#include "accounts/UserTable.h"
#include "files/LocalFile.h"
#include "files/TransferLog.h"
#include "platform/Socket.h"
#include "web/WebRequestHandler.h"

namespace corvel {

void WebRequestHandler::recordDownload(Socket& socket, const HttpRequest& request, const std::string& localPath,
                                       std::chrono::steady_clock::time_point started, TransferResult result,
                                       std::int64_t body, std::size_t headerBytes) {
    if (!transferLog_ || !transferLog_->enabled()) return;
    const bool complete = result == TransferResult::Completed;
    const auto whole = static_cast<std::uint64_t>(std::max<std::int64_t>(body, 0));
    TransferRecord record;
    record.finished = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    record.seconds = std::chrono::round<std::chrono::seconds>(std::chrono::steady_clock::now() - started).count();
    record.remoteHost = request.peerAddress;
    record.fileName = localPath;
    record.outgoing = true;
    record.anonymous = users_.logsInWithoutPassword(request.user);
    record.user = request.user;
    record.service = TransferService::Web;
    record.complete = complete;
    // A download that broke off closed its socket: the peer acknowledged the header
    // first, then as much of the body as it got (a TLS layer's bytes counted too).
    if (complete) {
        record.bytes = whole;
    } else {
        const std::uint64_t acknowledged = socket.trafficAtClose().sentAcknowledged;
        record.bytes = acknowledged > headerBytes ? std::min(acknowledged - headerBytes, whole) : 0;
    }
    transferLog_->record(record);
}

}  // namespace corvel
