// The listings of the <ftpext> extension on the data connection: LIST with ls
// dates, NLST with names only, and MLSD (RFC 3659), streamed as they are read.
#include <ctime>

#include "common/Permissions.h"
#include "files/LocalFile.h"
#include "ftp/FtpReplies.h"
#include "ftp/FtpSession.h"
#include "ftp/ListLine.h"
#include "ftp/MlsxFacts.h"
#include "platform/Socket.h"

namespace corvel {
namespace {

// Listing lines gathered before they are written to the data connection.
constexpr std::size_t kListingChunkBytes = 64u << 10;

}  // namespace

void FtpSession::handleMlsd(const std::string& argument) { listOnData(ListingForm::Facts, argument); }

void FtpSession::listOnData(ListingForm form, const std::string& path) {
    if (!hasPrivilege(PERM_LIST)) return;
    if (!data_.isOpen()) {
        reply(replies::kNoDataConnection);
        return;
    }
    // LIST's own refusals, word for word, each closing the data connection.
    ResolvedPath resolved = resolvePath(homeDirectory_, currentDirectory_, path, '/');
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
    // RFC 3659: MLSD lists a directory and nothing else.
    if (form == ListingForm::Facts && !LocalFile(resolved.localPath).isDirectory()) {
        closeData();
        reply(replies::pathRefused(resolved.normalised, replies::kNoSuchDirectorySuffix));
        return;
    }
    if (!dataProtectionAllowed()) return;
    reply(replies::kListingOpening);
    if (!protectData()) return;
    const bool sent = streamListing(form, resolved.localPath);
    closeData();
    reply(sent ? replies::kTransferComplete : replies::kTransferAborted);
}

bool FtpSession::streamListing(ListingForm form, const std::string& localPath) {
    // One chunk of memory for a folder of any size, as sendListing does.
    std::string chunk;
    chunk.reserve(kListingChunkBytes + 1024);
    bool sent = true;
    auto add = [&](const std::string& line) {
        chunk += line;
        if (chunk.size() < kListingChunkBytes) return true;
        sent = sendAll(data_, chunk) >= 0;
        chunk.clear();
        return sent;
    };
    if (form == ListingForm::Facts) {
        (void)forEachDirectoryEntry(localPath, [&](const DirectoryEntry& entry) {
            FactType type = FactType::File;
            if (entry.name == ".")
                type = FactType::Cdir;
            else if (entry.name == "..")
                // SECURITY: no pdir line; in the home directory it would tell of a
                // directory outside the account's reach.
                return true;
            else if (entry.info.kind == EntryKind::Directory)
                type = FactType::Dir;
            else if (entry.info.kind != EntryKind::RegularFile)
                return true;  // left out as LIST leaves it out: FIFOs, devices, broken links
            const FactSubject subject{type, entry.info.size, static_cast<std::int64_t>(entry.info.lastWrite),
                                      entry.info.mode};
            return add(formatMlsdLine(subject, privileges_, entry.name));
        });
    } else {
        const std::time_t now = std::time(nullptr);
        (void)LocalFile(localPath).forEachListEntry([&](const ListEntry& entry) {
            if (form == ListingForm::Long) return add(formatListLine(entry, userName_, now));
            if (entry.name == "." || entry.name == "..") return true;
            return add(formatNameLine(entry));
        });
    }
    return sent && sendAll(data_, chunk) >= 0;
}

}  // namespace corvel
