// The listings of the <ftpext> extension on the data connection: LIST with ls
// dates, NLST with names only, and MLSD (RFC 3659), streamed as they are read.
#include <ctime>

#include "ftp/FtpReplies.h"
#include "ftp/FtpSession.h"
#include "ftp/ListLine.h"
#include "ftp/ListingWriter.h"
#include "ftp/MlsxFacts.h"
#include "platform/Socket.h"

namespace corvel {

void FtpSession::handleMlsd(const std::string& argument) { listOnData(ListingForm::Facts, argument); }

void FtpSession::listOnData(ListingForm form, const std::string& path) {
    // LIST's own refusals, word for word.
    const auto folder = listingOrReply(path);
    if (!folder) return;
    // RFC 3659: MLSD lists a directory and nothing else.
    const EntryKind kind = folder->value.kind();
    if (form == ListingForm::Facts && kind != EntryKind::Directory) {
        closeData();
        reply(replies::pathRefused(folder->normalised, replies::kNoSuchDirectorySuffix));
        return;
    }
    // RFC 959: a listing of nothing is refused (550), not sent empty as if it were an
    // empty folder; the designed LIST sends it empty.
    if (kind == EntryKind::None && standard()) {
        closeData();
        reply(replies::pathRefused(folder->normalised, replies::kNoSuchFileSuffix));
        return;
    }
    if (!data_.mayTransfer()) return;
    data_.transfer(replies::kListingOpening, [&](Socket& data) { return streamListing(data, form, folder->value); });
}

bool FtpSession::streamListing(Socket& data, ListingForm form, const FolderListing& folder) {
    ListingWriter writer(data);
    auto add = [&](const std::string& line) { return writer.add(line); };
    if (form == ListingForm::Facts) {
        (void)folder.forEachEntry([&](const DirectoryEntry& entry) {
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
            return add(formatMlsdLine(subject, files_.rights(), entry.name, factSelection_));
        });
    } else {
        const std::time_t now = std::time(nullptr);
        (void)folder.forEachListEntry([&](const ListEntry& entry) {
            if (form == ListingForm::Long) return add(formatListLine(entry, userName_, now));
            if (entry.name == "." || entry.name == "..") return true;
            return add(formatNameLine(entry));
        });
    }
    return writer.finish();
}

}  // namespace corvel
