#include "web/ZipStream.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>

#include "files/LocalFile.h"
#include "platform/Socket.h"

namespace corvel {

namespace {

struct EntryFree {
    void operator()(archive_entry* entry) const { archive_entry_free(entry); }
};
using Entry = std::unique_ptr<archive_entry, EntryFree>;

la_ssize_t writeToSocket(struct archive*, void* context, const void* buffer, size_t length) {
    Socket& socket = *static_cast<Socket*>(context);
    return sendAll(socket, static_cast<const char*>(buffer), length) >= 0 ? static_cast<la_ssize_t>(length) : -1;
}

Entry entryOf(const std::string& name, std::time_t lastWrite, mode_t type, mode_t permissions, std::int64_t size) {
    Entry entry(archive_entry_new());
    if (!entry) return entry;
    archive_entry_set_pathname_utf8(entry.get(), name.c_str());
    archive_entry_set_filetype(entry.get(), type);
    archive_entry_set_perm(entry.get(), permissions);
    archive_entry_set_size(entry.get(), size);
    archive_entry_set_mtime(entry.get(), lastWrite, 0);
    return entry;
}

// A warning is a name that was not valid UTF-8: written as its bytes, the entry is whole.
bool headerWritten(int status) { return status == ARCHIVE_OK || status == ARCHIVE_WARN; }

}  // namespace

void ZipStream::ArchiveFree::operator()(archive* a) const { archive_write_free(a); }

ZipStream::ZipStream(Socket& socket) : socket_(socket), archive_(archive_write_new()) {
    archive* a = archive_.get();
    good_ = a != nullptr && archive_write_set_format_zip(a) == ARCHIVE_OK &&
            archive_write_set_format_option(a, "zip", "compression", "store") == ARCHIVE_OK &&
            // Always ZIP64: sizes are known before each entry, but the archive's
            // offsets pass 4 GiB in a large folder whatever its files' sizes.
            archive_write_set_format_option(a, "zip", "zip64", "1") == ARCHIVE_OK &&
            // Names as the disk holds them, flagged UTF-8 for the unpacking side.
            archive_write_set_format_option(a, "zip", "hdrcharset", "UTF-8") == ARCHIVE_OK &&
            // No blocking: every write goes to the socket as it comes, without a
            // copy into a block of libarchive's own first.
            archive_write_set_bytes_per_block(a, 0) == ARCHIVE_OK &&
            archive_write_open2(a, &socket_, nullptr, writeToSocket, nullptr, nullptr) == ARCHIVE_OK;
}

ZipStream::~ZipStream() {
    // An archive left unfinished (a refused write) is closed without its directory.
    if (archive_ && !finished_) (void)archive_write_fail(archive_.get());
}

bool ZipStream::addFolder(const std::string& name, std::time_t lastWrite) {
    if (!good_) return false;
    Entry entry = entryOf(name + "/", lastWrite, AE_IFDIR, 0755, 0);
    good_ = entry && headerWritten(archive_write_header(archive_.get(), entry.get()));
    return good_;
}

bool ZipStream::addFile(const std::string& name, std::time_t lastWrite, TransferFile& file) {
    if (!good_) return false;
    const std::int64_t size = file.size();
    Entry entry = entryOf(name, lastWrite, AE_IFREG, 0644, size);
    good_ = entry && headerWritten(archive_write_header(archive_.get(), entry.get()));
    if (!good_) return false;
    // On the heap: connection threads run on bounded stacks.
    if (!buffer_) buffer_ = std::make_unique_for_overwrite<char[]>(kZipReadBytes);
    std::int64_t left = size;
    while (left > 0 && good_) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(left, kZipReadBytes));
        long n = file.read(buffer_.get(), want);
        if (n <= 0) {
            // Shrunk, or unreadable now: zeros keep the entry as long as its header says.
            std::fill_n(buffer_.get(), want, '\0');
            n = static_cast<long>(want);
        }
        good_ = archive_write_data(archive_.get(), buffer_.get(), static_cast<std::size_t>(n)) == n;
        left -= n;
    }
    if (good_) good_ = archive_write_finish_entry(archive_.get()) == ARCHIVE_OK;
    return good_;
}

bool ZipStream::finish() {
    if (!good_) return false;
    finished_ = true;
    good_ = archive_write_close(archive_.get()) == ARCHIVE_OK;
    return good_;
}

}  // namespace corvel
