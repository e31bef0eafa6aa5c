// LocalFile operations and the transfer loops.
#include "files/LocalFile.h"

#include <algorithm>
#include <memory>
#include <thread>

#include "platform/AtomicFile.h"
#include "platform/Socket.h"

namespace corvel {

namespace {

// Tries open up to attempts times. Nothing there, or a path that is not a regular
// file, will not change by waiting, so it fails at once.
template <typename Open>
OpenedFile openWithRetries(Open open, int attempts) {
    for (int attempt = 1;; ++attempt) {
        OpenedFile opened = open();
        if (opened.status == OpenStatus::Opened || opened.status == OpenStatus::NotRegularFile ||
            opened.info.kind == EntryKind::None || attempt >= attempts)
            return opened;
        std::this_thread::sleep_for(kTransferOpenRetryDelay);
    }
}

}  // namespace

// ---- TransferFile ----

TransferResult TransferFile::sendTo(Socket& socket, std::int64_t offset) {
    return sendFileRange(file_, socket, offset, size_) ? TransferResult::Completed : TransferResult::Broken;
}

TransferResult TransferFile::sendOpenedLength(Socket& socket) {
    return sendFileRange(file_, socket, 0, size_, size_) ? TransferResult::Completed : TransferResult::Broken;
}

TransferResult TransferFile::sendRange(Socket& socket, std::int64_t offset, std::int64_t end) {
    return sendFileRange(file_, socket, offset, size_, std::min(end, size_)) ? TransferResult::Completed
                                                                             : TransferResult::Broken;
}

TransferResult TransferFile::receiveFrom(Socket& socket) {
    switch (receiveIntoFile(socket, file_)) {
        case KernelReceive::PeerClosed:
        case KernelReceive::CountReached: socket.close(); return TransferResult::Completed;
        case KernelReceive::Broken:
        case KernelReceive::DiskFailed: socket.close(); return TransferResult::Broken;
        case KernelReceive::Unsupported: break;  // read here, as through TLS
    }
    if (!socket.isOpen() || !socket.setNonBlocking()) {
        socket.close();
        return TransferResult::Broken;
    }
    // On the heap: connection threads run on bounded stacks.
    auto buffer = std::make_unique_for_overwrite<char[]>(kReceiveBufferBytes);
    std::size_t filled = 0;
    bool diskFailed = false;
    auto flush = [&] {
        if (filled > 0 && !diskFailed && !writeAll(file_, buffer.get(), filled)) diskFailed = true;
        filled = 0;
        return !diskFailed;
    };
    auto finish = [&](bool peerDone) {
        socket.close();
        bool written = flush();  // F4: what arrived is kept, however the transfer ended
        return peerDone && written ? TransferResult::Completed : TransferResult::Broken;
    };

    int idleSeconds = 0;
    for (;;) {
        const IoResult r = socket.receive(buffer.get() + filled, kReceiveBufferBytes - filled);
        if (r.ok()) {
            filled += r.bytes;
            idleSeconds = 0;
            if (filled == kReceiveBufferBytes && !flush()) return finish(false);
            continue;
        }
        if (r.state == IoState::Closed) return finish(true);  // the peer closed: the upload is complete
        if (r.state == IoState::Failed) return finish(false);  // the connection broke
        WaitResult w = socket.waitReadable(kWaitStepMs);
        if (w == WaitResult::Ready) continue;
        if (w == WaitResult::Failed) return finish(false);
        // An idle second: put what we hold on disk, so a stalled upload is there.
        if (!flush()) return finish(false);
        if (++idleSeconds > kIdleLimitSeconds) return finish(false);
    }
}

TransferResult TransferFile::receiveAt(Socket& socket, std::int64_t offset) {
    if (!seekFile(file_, offset)) {
        socket.close();
        return TransferResult::Broken;
    }
    const TransferResult result = receiveFrom(socket);
    if (result == TransferResult::Completed && !truncateAtPosition(file_)) return TransferResult::Broken;
    return result;
}

TransferResult TransferFile::receiveExactly(Socket& socket, std::string_view alreadyRead, std::int64_t offset,
                                            std::int64_t count) {
    if (offset < 0 || count < 0 || !seekFile(file_, offset)) return TransferResult::Broken;
    const std::size_t early = static_cast<std::size_t>(std::min<std::int64_t>(count, alreadyRead.size()));
    if (early > 0 && !writeAll(file_, alreadyRead.data(), early)) return TransferResult::Broken;
    std::int64_t left = count - static_cast<std::int64_t>(early);
    if (left == 0) return TransferResult::Completed;
    if (!socket.isOpen() || !socket.setNonBlocking()) return TransferResult::Broken;
    // Spliced like an FTP upload where the kernel can; whatever it took is in the file,
    // so a broken chunk resumes after it.
    switch (receiveIntoFile(socket, file_, &left)) {
        case KernelReceive::CountReached: return TransferResult::Completed;
        case KernelReceive::PeerClosed:
        case KernelReceive::Broken:
        case KernelReceive::DiskFailed: return TransferResult::Broken;
        case KernelReceive::Unsupported: break;  // read here, as through TLS
    }
    // On the heap: connection threads run on bounded stacks.
    auto buffer = std::make_unique_for_overwrite<char[]>(kReceiveBufferBytes);
    std::size_t filled = 0;
    auto flush = [&] {
        const bool written = filled == 0 || writeAll(file_, buffer.get(), filled);
        filled = 0;
        return written;
    };
    int idleSeconds = 0;
    while (left > 0) {
        // Never asks for more than the count: what follows belongs to nobody.
        const std::size_t room =
            static_cast<std::size_t>(std::min<std::int64_t>(left, kReceiveBufferBytes - filled));
        const IoResult r = socket.receive(buffer.get() + filled, room);
        if (r.ok()) {
            filled += r.bytes;
            left -= static_cast<std::int64_t>(r.bytes);
            idleSeconds = 0;
            if ((filled == kReceiveBufferBytes || left == 0) && !flush()) return TransferResult::Broken;
            continue;
        }
        if (r.state != IoState::WouldBlock) break;  // the peer closed early, or the connection broke
        WaitResult w = socket.waitReadable(kWaitStepMs);
        if (w == WaitResult::Ready) continue;
        if (w == WaitResult::Failed) break;
        // An idle second: put what we hold on disk, so a resumed upload finds it.
        if (!flush() || ++idleSeconds > kIdleLimitSeconds) return TransferResult::Broken;
    }
    // What arrived is kept, so the client resumes after it.
    const bool written = flush();
    return left == 0 && written ? TransferResult::Completed : TransferResult::Broken;
}

bool TransferFile::write(std::string_view bytes) {
    return bytes.empty() || writeAll(file_, bytes.data(), bytes.size());
}

long TransferFile::read(char* buffer, std::size_t length) { return readSome(file_, buffer, length); }

// ---- LocalFile ----

LocalFile::LocalFile(std::string path) : path_(std::move(path)) {
    while (!path_.empty() && (path_.back() == '/' || path_.back() == '\\')) path_.pop_back();
    if (path_.empty()) path_.push_back('/');
}

bool LocalFile::isFile() const { return queryEntry(path_).kind == EntryKind::RegularFile; }

bool LocalFile::isDirectory() const { return queryEntry(path_).kind == EntryKind::Directory; }

EntryInfo LocalFile::info() const { return queryEntry(path_); }

bool LocalFile::createEmpty() const {
    for (int attempt = 1;; ++attempt) {
        CreateResult result = createNewFile(path_);
        if (result == CreateResult::Created) return true;
        // A name that exists will not go away by waiting; fail at once.
        if (result == CreateResult::AlreadyExists || attempt >= kCreateAttempts) return false;
        std::this_thread::sleep_for(kCreateRetryDelay);
    }
}

bool LocalFile::removeFile() const { return deleteFile(path_); }

bool LocalFile::renameTo(const LocalFile& target) const { return renameNoReplace(path_, target.path_); }

bool LocalFile::renameReplacing(const LocalFile& target) const { return renamePath(path_, target.path_); }

bool LocalFile::makeDirectory() const { return createDirectory(path_); }

bool LocalFile::removeDirectory() const { return deleteDirectory(path_); }

void LocalFile::list(std::vector<ListEntry>& listing) const {
    (void)forEachListEntry([&listing](const ListEntry& entry) {
        listing.push_back(entry);
        return true;
    });
}

bool LocalFile::forEachListEntry(const std::function<bool(const ListEntry&)>& visit) const {
    // Two reads of the directory: directories first, then files, each in the system's order.
    for (EntryKind wanted : {EntryKind::Directory, EntryKind::RegularFile}) {
        const ListEntryType type = wanted == EntryKind::Directory ? ListEntryType::Directory : ListEntryType::File;
        if (!forEachDirectoryEntryOfKind(path_, wanted, [&](const DirectoryEntry& entry) {
                const std::int64_t size = wanted == EntryKind::Directory ? 0 : entry.info.size;
                return visit(ListEntry::make(type, size, entry.info.lastWrite, entry.name));
            }))
            return false;
    }
    return true;
}

SendSource LocalFile::openForSending(int attempts) const {
    OpenedFile opened = openWithRetries([&] { return openFileForReading(path_); }, attempts);
    SendSource source;
    source.kind = opened.info.kind;
    if (opened.status == OpenStatus::Opened) {
        source.size = opened.info.size;
        source.file = TransferFile(std::move(opened.file), opened.info.size);
    }
    return source;
}

std::optional<TransferFile> LocalFile::openForReceiving(WriteMode mode) const {
    OpenedFile opened = openWithRetries([&] { return openFileForWriting(path_, mode); }, kTransferOpenAttempts);
    if (opened.status != OpenStatus::Opened) return std::nullopt;
    return TransferFile(std::move(opened.file), opened.info.size);
}

std::optional<FileHandle> LocalFile::openHandle(HandleAccess access, WriteMode mode) const {
    OpenedFile opened = openWithRetries(
        [&] {
            switch (access) {
                case HandleAccess::Read: return openFileForReading(path_);
                case HandleAccess::Write: return openFileForWriting(path_, mode);
                case HandleAccess::ReadWrite: break;
            }
            return openFileForUpdating(path_, mode);
        },
        kTransferOpenAttempts);
    if (opened.status != OpenStatus::Opened) return std::nullopt;
    return FileHandle(std::move(opened.file), access);
}

TransferResult LocalFile::sendTo(Socket& socket, std::int64_t offset) const {
    SendSource source = openForSending();
    return source.file ? source.file->sendTo(socket, offset) : TransferResult::OpenFailed;
}

TransferResult LocalFile::receiveInto(Socket& socket) const {
    std::optional<TransferFile> file = openForReceiving(WriteMode::Truncate);
    return file ? file->receiveFrom(socket) : TransferResult::OpenFailed;
}

TransferResult LocalFile::appendFrom(Socket& socket) const {
    std::optional<TransferFile> file = openForReceiving(WriteMode::Append);
    return file ? file->receiveFrom(socket) : TransferResult::OpenFailed;
}

}  // namespace corvel
