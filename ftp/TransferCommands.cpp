// LIST/NLST, RETR, STOR, APPE, REST, SIZE and ABOR.
#include <limits>
#include <optional>

#include "ftp/FtpReplies.h"
#include "ftp/FtpSession.h"
#include "ftp/ListLine.h"
#include "ftp/ListingWriter.h"
#include "files/CrowdedSend.h"
#include "files/LocalFile.h"

namespace corvel {
namespace {

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

// The standard dialect's REST marker: in stream mode a count of bytes (RFC 3659, 5),
// digits only, that fits a file offset.
std::optional<std::int64_t> byteCountValue(const std::string& text) {
    std::optional<std::int64_t> offset;
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
        !scanRestartOffset(text, offset))
        return std::nullopt;
    return offset;
}

}  // namespace

std::string FtpSession::transferOpening(const std::string& argument, std::optional<long long> size) const {
    return replies::transferOpening(dialect_, transferType_ == TransferType::Ascii, argument, size);
}

std::int64_t FtpSession::takeRestartOffset() {
    const std::int64_t offset = restartOffset_;
    if (standard()) restartOffset_ = 0;
    return offset;
}

bool FtpSession::sendListing(Socket& data, const FolderListing& folder) {
    ListingWriter writer(data);
    (void)folder.forEachListEntry([&](const ListEntry& entry) { return writer.add(formatListLine(entry, userName_)); });
    return writer.finish();
}

std::optional<FileResult<FolderListing>> FtpSession::listingOrReply(const std::string& path) {
    if (!files_.mayList()) {
        reply(replies::kPermissionDenied);
        return std::nullopt;
    }
    // A transfer with no data connection would report success for nothing.
    if (!data_.isOpen()) {
        reply(replies::kNoDataConnection);
        return std::nullopt;
    }
    auto listing = files_.list({path, '/'});
    // A refused path is answered before any 150, and the data connection it would
    // have used is closed, so no later command finds it open.
    if (listing.status == FileStatus::Escaped) {
        closeData();
        reply(replies::pathRefused(listing.normalised + path, replies::kNoSuchFileSuffix));
        return std::nullopt;
    }
    if (!listing.ok()) {
        closeData();
        reply(listing.status == FileStatus::NoRight ? replies::kPermissionDenied : replies::kNoSuchFile);
        return std::nullopt;
    }
    return listing;
}

void FtpSession::handleList(const std::string& path) {
    const auto folder = listingOrReply(path);
    if (!folder) return;
    if (!data_.mayTransfer()) return;
    data_.transfer(replies::kListingOpening, [&](Socket& data) { return sendListing(data, folder->value); });
}

void FtpSession::handleRetr(const std::string& argument) {
    const std::int64_t offset = takeRestartOffset();
    // One look: what it is and how large comes from the open itself, so the size in
    // the 150 reply is the size of the file that is sent.
    auto opened = files_.openForReading({argument, '/'}, 1);
    if (replyIfRefused(opened, ":No such file or directory.")) return;
    if (!opened.ok()) {
        reply(replies::pathRefused(opened.normalised, ":No such file or directory."));
        closeData();
        return;
    }
    ReadSource& source = opened.value;
    // A directory is no file to retrieve (RFC 959: 550); the designed RETR lists it.
    if (source.kind() == EntryKind::Directory && standard()) {
        closeData();
        reply(replies::pathRefused(opened.normalised, replies::kNotPlainFileSuffix));
        return;
    }
    if (!data_.isOpen()) {
        reply(replies::kNoDataConnection);
        return;
    }
    if (!data_.mayTransfer()) return;
    if (source.kind() == EntryKind::Directory) {
        const FolderListing folder = source.asFolder();
        data_.transfer(transferOpening(argument, 0), [&](Socket& data) { return sendListing(data, folder); });
        return;
    }
    // Held by another transfer (or refused for now): the remaining tries.
    if (!source.isOpen()) source.reopen(kTransferOpenAttempts - 1);
    if (!source.isOpen()) {
        closeData();
        reply(replies::kPermissionDenied);
        return;
    }
    // RFC 3659, 5.5: a restart past the end is refused, not answered with nothing.
    if (standard() && offset > source.size()) {
        closeData();
        reply(replies::kRestartBeyondEnd);
        return;
    }
    std::chrono::steady_clock::time_point started{};
    const std::int64_t expected = source.size() - (offset > 0 ? offset : 0);
    data_.transfer(
        transferOpening(argument, source.size()),
        [&](Socket& data) {
            started = transferStarting();
            const CrowdedSend sending(context_.activeSends, data);
            return source.transfer().sendTo(data, offset) == TransferResult::Completed;
        },
        [&](bool completed) { recordTransfer(source.localPath(), started, true, completed, expected); });
}

void FtpSession::storeFile(const std::string& argument, bool append) {
    // The standard dialect resumes a STOR at the REST offset (RFC 3659, 5); APPE adds
    // at the end whatever it says. The designed uploads ignore REST and keep it.
    const std::int64_t restart = standard() ? takeRestartOffset() : 0;
    const std::int64_t resumeAt = append ? 0 : restart;
    const auto prepared = files_.prepareUpload({argument, '/'}, resumeAt);
    if (replyIfRefused(prepared, ":No such file or directory.")) return;
    if (prepared.status == FileStatus::BeyondEnd) {
        closeData();
        reply(replies::kRestartBeyondEnd);  // no bytes there to resume after
        return;
    }
    if (!prepared.ok()) {
        reply(replies::pathRefused(prepared.normalised, ":No such file or directory."));
        closeData();
        return;
    }
    if (!data_.isOpen()) {
        reply(replies::kNoDataConnection);
        return;
    }
    if (!data_.mayTransfer()) return;
    const WriteMode mode = append ? WriteMode::Append : resumeAt > 0 ? WriteMode::Overwrite : WriteMode::Truncate;
    auto opened = prepared.value.open(mode);
    if (!opened) {
        closeData();
        reply(replies::kPermissionDenied);
        return;
    }
    // The size under the lock: a resume never leaves a hole of zeros in the file.
    if (opened->size() < resumeAt) {
        closeData();
        reply(replies::kRestartBeyondEnd);
        return;
    }
    std::chrono::steady_clock::time_point started{};
    const std::int64_t startsAt = append ? opened->size() : resumeAt;
    data_.transfer(
        transferOpening(argument),
        [&](Socket& data) {
            started = transferStarting();
            const TransferResult result = resumeAt > 0 ? opened->receiveAt(data, resumeAt) : opened->receiveFrom(data);
            return result == TransferResult::Completed;
        },
        [&](bool completed) { recordTransfer(prepared.value.localPath(), started, false, completed, startsAt); });
}

void FtpSession::handleStor(const std::string& argument) { storeFile(argument, false); }
void FtpSession::handleAppe(const std::string& argument) { storeFile(argument, true); }

void FtpSession::handleRest(const std::string& argument) {
    std::optional<std::int64_t> offset;
    if (standard()) {
        offset = byteCountValue(argument);
        if (!offset) {
            reply(replies::kSyntaxError);
            return;
        }
    } else if (!scanRestartOffset(argument, offset)) {
        // SECURITY: a number past the largest file offset would wrap round to a
        // small one and resume somewhere the client never asked for.
        reply(replies::kSyntaxError);
        return;
    }
    if (offset) restartOffset_ = *offset;
    reply(replies::restarting(argument));
}

void FtpSession::handleSize(const std::string& argument) {
    // The designed SIZE writes the path in its refusals with backslashes.
    const auto found = files_.stat({argument, standard() ? '/' : '\\'}, StatPurpose::Reading);
    if (replyIfRefused(found, ":No such file or directory.")) return;
    const EntryInfo& info = found.value;
    // Designed: directories report 0, whatever the file system says. Standard: SIZE
    // is the size of a file (RFC 3659, 4), so a directory gets 550.
    if (info.kind == EntryKind::RegularFile)
        reply(replies::size(info.size));
    else if (info.kind == EntryKind::Directory && standard())
        reply(replies::pathRefused(found.normalised, replies::kNotPlainFileSuffix));
    else if (info.kind == EntryKind::Directory)
        reply(replies::size(0));
    else
        reply(replies::pathRefused(found.normalised, ":No such file or directory."));
}

void FtpSession::handleAbor(const std::string&) {
    closeData();
    reply(texts().abortIdle);
}

}  // namespace corvel
