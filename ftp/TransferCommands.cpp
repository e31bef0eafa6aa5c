// LIST/NLST, RETR, STOR, APPE, REST, SIZE and ABOR.
#include "common/DecimalText.h"
#include "common/Permissions.h"
#include "ftp/FtpSession.h"
#include "ftp/ListEntry.h"
#include "ftp/LocalFile.h"

namespace corvel {
namespace {

constexpr char kNoDataConnection[] = "425 Can't open data connection.\r\n";
constexpr char kTransferComplete[] = "226 Transfer complete.\r\n";
constexpr char kTransferAborted[] = "426 Connection closed; Transfer aborted\r\n";

}  // namespace

std::string FtpSession::transferOpening(const std::string& argument) const {
    return std::string(transferType_ == 1 ? "150 Opening ASCII mode data connection for "
                                          : "150 Opening BINARY mode data connection for ") +
           argument;
}

bool FtpSession::sendListing(const std::string& localPath) {
    std::vector<ListEntry> listing;
    LocalFile(localPath).list(listing);
    return sendAll(data_, formatListing(listing, userName_)) >= 0;
}

void FtpSession::handleList(const std::string& path) {
    if (!hasPrivilege(PERM_LIST)) return;
    // A transfer with no data connection would report success for nothing.
    if (!data_.isOpen()) {
        reply(kNoDataConnection);
        return;
    }
    reply("150 Opening ASCII mode data connection\r\n");
    ResolvedPath resolved = resolvePath(homeDirectory_, currentDirectory_, path, '/');
    if (resolved.status == PathStatus::Invalid) {
        reply("550 No such file or directory\r\n");
        return;
    }
    if (resolved.status == PathStatus::Escaped) {
        reply("550 /" + resolved.normalised + path + ":No such file or directory.\r\n");
        return;
    }
    bool sent = sendListing(resolved.localPath);
    closeData();
    reply(sent ? kTransferComplete : kTransferAborted);
}

void FtpSession::handleRetr(const std::string& argument) {
    if (!hasPrivilege(PERM_READ_FILE)) return;
    auto path = resolveOrReply(argument, '/', ":No such file or directory.");
    if (!path) return;
    LocalFile file(path->localPath);
    auto size = file.sizeText();
    if (!size) {
        reply("550 /" + path->normalised + ":No such file or directory.\r\n");
        closeData();
        return;
    }
    if (!data_.isOpen()) {
        reply(kNoDataConnection);
        return;
    }
    std::string opening = transferOpening(argument) + "(" + *size + " bytes)\r\n";
    if (file.sizeTextFoundDirectory()) {
        reply(opening);
        bool sent = sendListing(path->localPath);
        closeData();
        reply(sent ? kTransferComplete : kTransferAborted);
        return;
    }
    auto opened = file.openForSending();
    if (!opened) {
        closeData();
        reply("550 Permission denied.\r\n");
        return;
    }
    reply(opening);
    TransferResult result = opened->sendTo(data_, restartOffset_);
    closeData();
    reply(result == TransferResult::Completed ? kTransferComplete : kTransferAborted);
}

void FtpSession::storeFile(const std::string& argument, bool append) {
    if (!hasPrivilege(PERM_WRITE_FILE)) return;
    auto path = resolveOrReply(argument, '/', ":No such file or directory.");
    if (!path) return;
    LocalFile file(path->localPath);
    if (!file.isFile()) {
        if (!(privileges_ & PERM_CREATE_FILE)) {
            reply("550 Permission denied.\r\n");
            return;
        }
        (void)file.createEmpty();  // a failure shows in the size query below
    }
    if (!file.sizeText()) {
        reply("550 /" + path->normalised + ":No such file or directory.\r\n");
        closeData();
        return;
    }
    if (!data_.isOpen()) {
        reply(kNoDataConnection);
        return;
    }
    auto opened = file.openForReceiving(append ? WriteMode::Append : WriteMode::Truncate);
    if (!opened) {
        closeData();
        reply("550 Permission denied.\r\n");
        return;
    }
    reply(transferOpening(argument) + "\r\n");
    TransferResult result = opened->receiveFrom(data_);
    closeData();
    reply(result == TransferResult::Completed ? kTransferComplete : kTransferAborted);
}

void FtpSession::handleStor(const std::string& argument) { storeFile(argument, false); }
void FtpSession::handleAppe(const std::string& argument) { storeFile(argument, true); }

void FtpSession::handleRest(const std::string& argument) {
    bool found = false;
    std::int64_t offset = scanDecimal(argument, &found);
    if (found) restartOffset_ = offset;
    reply("350 Restarting at " + argument + ". Send STORE or RETRIEVE.\r\n");
}

void FtpSession::handleSize(const std::string& argument) {
    if (!hasPrivilege(PERM_READ_FILE)) return;
    auto path = resolveOrReply(argument, '\\', ":No such file or directory.");
    if (!path) return;
    auto size = LocalFile(path->localPath).sizeText();
    if (size)
        reply("213 " + *size + "\r\n");
    else
        reply("550 /" + path->normalised + ":No such file or directory.\r\n");
}

void FtpSession::handleAbor(const std::string&) {
    closeData();
    reply(kTransferAborted);
}

}  // namespace corvel
