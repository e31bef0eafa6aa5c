// LIST/NLST, RETR, STOR, APPE, REST, SIZE and ABOR.
#include <limits>
#include <optional>

#include "common/Permissions.h"
#include "ftp/FtpReplies.h"
#include "ftp/FtpSession.h"
#include "ftp/ListLine.h"
#include "files/LocalFile.h"

namespace corvel {
namespace {

// Listing lines gathered before they are written to the data connection.
constexpr std::size_t kListingChunkBytes = 64u << 10;

// Reads the offset as "%d" does (blanks, a sign, digits up to the first other
// character); offset stays empty when there is no number. false when the number
// does not fit a file offset (a signed 64-bit value).
bool scanRestartOffset(const std::string& text, std::optional<std::int64_t>& offset) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return true;
    std::uint64_t value = 0;
    constexpr std::uint64_t kLargest = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const auto digit = static_cast<std::uint64_t>(text[i] - '0');
        if (value > (kLargest - digit) / 10) return false;
        value = value * 10 + digit;
    }
    offset = negative ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value);
    return true;
}

}  // namespace

std::string FtpSession::transferOpening(const std::string& argument) const {
    return replies::transferOpening(transferType_ == TransferType::Ascii, argument);
}

bool FtpSession::sendListing(const std::string& localPath) {
    // Lines go out in chunks as the directory is read, so a folder of any size costs
    // one chunk of memory; the bytes on the wire are the same as one whole write.
    std::string chunk;
    chunk.reserve(kListingChunkBytes + 1024);
    bool sent = true;
    (void)LocalFile(localPath).forEachListEntry([&](const ListEntry& entry) {
        chunk += formatListLine(entry, userName_);
        if (chunk.size() < kListingChunkBytes) return true;
        sent = sendAll(data_, chunk) >= 0;
        chunk.clear();
        return sent;
    });
    return sent && sendAll(data_, chunk) >= 0;
}

void FtpSession::handleList(const std::string& path) {
    if (!hasPrivilege(PERM_LIST)) return;
    // A transfer with no data connection would report success for nothing.
    if (!data_.isOpen()) {
        reply(replies::kNoDataConnection);
        return;
    }
    ResolvedPath resolved = resolvePath(homeDirectory_, currentDirectory_, path, '/');
    // A refused path is answered before any 150, and the data connection it would
    // have used is closed, so no later command finds it open.
    if (resolved.status == PathStatus::Invalid) {
        closeData();
        reply(replies::kNoSuchFile);
        return;
    }
    if (resolved.status == PathStatus::Escaped) {
        closeData();
        reply(replies::pathRefused(resolved.normalised + path, replies::kNoSuchFileSuffix));
        return;
    }
    if (!dataProtectionAllowed()) return;
    reply(replies::kListingOpening);
    if (!protectData()) return;
    bool sent = sendListing(resolved.localPath);
    closeData();
    reply(sent ? replies::kTransferComplete : replies::kTransferAborted);
}

void FtpSession::handleRetr(const std::string& argument) {
    if (!hasPrivilege(PERM_READ_FILE)) return;
    auto path = resolveOrReply(argument, '/', ":No such file or directory.");
    if (!path) return;
    LocalFile file(path->localPath);
    // One look: what it is and how large comes from the open itself, so the size in
    // the 150 reply is the size of the file that is sent.
    SendSource source = file.openForSending(1);
    if (source.kind != EntryKind::RegularFile && source.kind != EntryKind::Directory) {
        reply(replies::pathRefused(path->normalised, ":No such file or directory."));
        closeData();
        return;
    }
    if (!data_.isOpen()) {
        reply(replies::kNoDataConnection);
        return;
    }
    if (!dataProtectionAllowed()) return;
    if (source.kind == EntryKind::Directory) {
        reply(transferOpening(argument) + "(0 bytes)\r\n");
        if (!protectData()) return;
        bool sent = sendListing(path->localPath);
        closeData();
        reply(sent ? replies::kTransferComplete : replies::kTransferAborted);
        return;
    }
    // Held by another transfer (or refused for now): the remaining tries.
    if (!source.file) source = file.openForSending(kTransferOpenAttempts - 1);
    if (!source.file) {
        closeData();
        reply(replies::kPermissionDenied);
        return;
    }
    reply(transferOpening(argument) + "(" + std::to_string(source.size) + " bytes)\r\n");
    if (!protectData()) return;
    TransferResult result = source.file->sendTo(data_, restartOffset_);
    closeData();
    reply(result == TransferResult::Completed ? replies::kTransferComplete : replies::kTransferAborted);
}

void FtpSession::storeFile(const std::string& argument, bool append) {
    if (!hasPrivilege(PERM_WRITE_FILE)) return;
    auto path = resolveOrReply(argument, '/', ":No such file or directory.");
    if (!path) return;
    LocalFile file(path->localPath);
    if (!file.isFile()) {
        if (!(privileges_ & PERM_CREATE_FILE)) {
            reply(replies::kPermissionDenied);
            return;
        }
        (void)file.createEmpty();  // a failure shows in the size query below
    }
    const EntryKind kind = file.info().kind;
    if (kind != EntryKind::RegularFile && kind != EntryKind::Directory) {
        reply(replies::pathRefused(path->normalised, ":No such file or directory."));
        closeData();
        return;
    }
    if (!data_.isOpen()) {
        reply(replies::kNoDataConnection);
        return;
    }
    if (!dataProtectionAllowed()) return;
    auto opened = file.openForReceiving(append ? WriteMode::Append : WriteMode::Truncate);
    if (!opened) {
        closeData();
        reply(replies::kPermissionDenied);
        return;
    }
    reply(transferOpening(argument) + "\r\n");
    if (!protectData()) return;
    TransferResult result = opened->receiveFrom(data_);
    closeData();
    reply(result == TransferResult::Completed ? replies::kTransferComplete : replies::kTransferAborted);
}

void FtpSession::handleStor(const std::string& argument) { storeFile(argument, false); }
void FtpSession::handleAppe(const std::string& argument) { storeFile(argument, true); }

void FtpSession::handleRest(const std::string& argument) {
    std::optional<std::int64_t> offset;
    if (!scanRestartOffset(argument, offset)) {
        // SECURITY: a number past the largest file offset would wrap round to a
        // small one and resume somewhere the client never asked for.
        reply(replies::kSyntaxError);
        return;
    }
    if (offset) restartOffset_ = *offset;
    reply(replies::restarting(argument));
}

void FtpSession::handleSize(const std::string& argument) {
    if (!hasPrivilege(PERM_READ_FILE)) return;
    auto path = resolveOrReply(argument, '\\', ":No such file or directory.");
    if (!path) return;
    const EntryInfo info = LocalFile(path->localPath).info();
    // Directories report 0, whatever the file system says.
    if (info.kind == EntryKind::RegularFile)
        reply(replies::size(info.size));
    else if (info.kind == EntryKind::Directory)
        reply(replies::size(0));
    else
        reply(replies::pathRefused(path->normalised, ":No such file or directory."));
}

void FtpSession::handleAbor(const std::string&) {
    closeData();
    reply(replies::kTransferAborted);
}

}  // namespace corvel
