// One local path below an account's home directory with the queries and operations
// the FTP commands and the web browser run on it: tests, size, create, delete,
// rename, directories, listing, and the byte transfers to and from a socket.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "files/FileHandle.h"
#include "files/ListEntry.h"
#include "platform/FileSystem.h"
#include "platform/UniqueFd.h"

namespace corvel {

class Socket;

// How a transfer ended; the caller maps it to a reply: OpenFailed before any
// 150 ("550 Permission denied."), Broken after it ("426 ..."), Completed ("226 ...").
enum class TransferResult { Completed, OpenFailed, Broken };

// Attempts to open a file for a transfer, and the pause between them.
constexpr int kTransferOpenAttempts = 10;
constexpr std::chrono::milliseconds kTransferOpenRetryDelay{200};
// Attempts of createEmpty, and the pause between them.
constexpr int kCreateAttempts = 5;
constexpr std::chrono::milliseconds kCreateRetryDelay{200};
// Bytes an upload gathers before writing them to disk (heap, one per transfer). As
// much as loopback hands over in one segment: the bytes go to the page cache while
// they are still in the CPU's cache. A 256 KiB buffer made STOR nearly three times
// slower on a virtual machine, where the copy out of a cold buffer costs most.
constexpr std::size_t kReceiveBufferBytes = 64u << 10;

// A file opened and locked for one transfer: shared lock for sending, exclusive
// lock for receiving (released when the handle goes). Movable, not copyable; owned
// by one thread. Lets the caller answer 550 when the open fails and only then 150.
class TransferFile {
public:
    TransferFile(TransferFile&&) noexcept = default;
    TransferFile& operator=(TransferFile&&) noexcept = default;
    TransferFile(const TransferFile&) = delete;
    TransferFile& operator=(const TransferFile&) = delete;

    // The file's size when it was opened and locked (from its own descriptor).
    std::int64_t size() const { return size_; }

    // Sends from offset (negative = the start) to the end of the file: Completed,
    // or Broken when the socket failed or stayed unwritable kIdleLimitSeconds (the
    // socket is closed then). Only for a handle from openForSending.
    TransferResult sendTo(Socket& socket, std::int64_t offset);
    // The same, but never past the size it was opened with, so a file that grows
    // meanwhile still sends exactly the length that was announced.
    TransferResult sendOpenedLength(Socket& socket);
    // The bytes from offset up to end (exclusive), never past the size it was opened
    // with; the same results.
    TransferResult sendRange(Socket& socket, std::int64_t offset, std::int64_t end);

    // Receives until the peer closes the connection (Completed). Broken when the
    // connection fails, stays silent kIdleLimitSeconds (F4: every byte received is
    // written first) or the disk refuses a write. The socket is closed at the end.
    // Only for a handle from openForReceiving.
    TransferResult receiveFrom(Socket& socket);
    // Resumes an upload: receives as receiveFrom does, writing from offset on (a
    // handle opened with WriteMode::Overwrite). When it completes, the file ends
    // where the received bytes end; when it breaks, the bytes of the old file past
    // them stay, so nothing the client did not replace is lost.
    TransferResult receiveAt(Socket& socket, std::int64_t offset);
    // Writes exactly count bytes from offset on: first those of alreadyRead (what
    // the caller read past a request's head; bytes beyond count are ignored), then
    // the socket's, through a buffer of kReceiveBufferBytes. Completed once all are
    // written; Broken when the peer closed or failed first, stayed silent
    // kIdleLimitSeconds, or the disk refused (what arrived before is written). The
    // file is never cut, and the socket stays open, so the caller can still answer.
    TransferResult receiveExactly(Socket& socket, std::string_view alreadyRead, std::int64_t offset,
                                  std::int64_t count);
    // Writes bytes at the file's position (after an open, its start) and moves it on;
    // false when the disk refused. For bodies whose bytes come wrapped (a form's
    // file part), which the caller takes out of the socket itself.
    [[nodiscard]] bool write(std::string_view bytes);
    // Reads up to length bytes at the file's position (after an open, its start):
    // how many, 0 at the end, -1 on an error. For bytes that go out wrapped (an
    // archive's entry) rather than straight to a socket.
    [[nodiscard]] long read(char* buffer, std::size_t length);

private:
    friend class LocalFile;
    TransferFile(UniqueFd file, std::int64_t size) : file_(std::move(file)), size_(size) {}
    UniqueFd file_;
    std::int64_t size_ = 0;
};

// What openForSending found at the path, looked at once.
struct SendSource {
    EntryKind kind = EntryKind::None;  // None: nothing there; Other: neither file nor directory
    std::int64_t size = 0;             // the opened file's size (0 for anything else)
    std::optional<TransferFile> file;  // opened and share-locked when kind is RegularFile
};

// Wraps one local path; the operations use it as given at construction. Holds no
// descriptor between calls. A value; thread-safe as any value.
class LocalFile {
public:
    // Copies path and removes every "/" and "\" at its end; a path that becomes
    // empty is the root "/".
    explicit LocalFile(std::string path);

    const std::string& path() const { return path_; }

    // A regular file once symlinks are followed.
    bool isFile() const;
    bool isDirectory() const;
    // What the path names once symlinks are followed (one look).
    EntryInfo info() const;

    // Creates a new empty file; fails when the name exists. A failure that waiting
    // may cure is retried kCreateAttempts times, kCreateRetryDelay apart.
    [[nodiscard]] bool createEmpty() const;
    [[nodiscard]] bool removeFile() const;
    // Renames or moves this file or directory to target; never replaces anything.
    [[nodiscard]] bool renameTo(const LocalFile& target) const;
    // Renames this file to target, replacing a file there in one step, so a reader
    // sees the old file or the new one, never neither.
    [[nodiscard]] bool renameReplacing(const LocalFile& target) const;
    [[nodiscard]] bool makeDirectory() const;
    [[nodiscard]] bool removeDirectory() const;

    // Appends the entries of this directory: all directories first ("." and ".."
    // included where the system returns them), then all regular files, each group
    // in the system's order. Entries that are neither (FIFOs, sockets, devices,
    // broken links) are left out. A missing path or a file appends nothing.
    void list(std::vector<ListEntry>& listing) const;
    // The same entries in the same order, handed to visit one at a time, so a
    // listing of any size needs the memory of one entry: the directory is read
    // twice, once for the directories and once for the files. Stops when visit
    // returns false. false when the path is no directory or visit stopped.
    bool forEachListEntry(const std::function<bool(const ListEntry&)>& visit) const;

    // Looks at the path once and, for a regular file, opens and share-locks it, up to
    // attempts tries kTransferOpenRetryDelay apart (nothing there, or no regular file,
    // fails at once). The kind and size come from that one look, the size of an
    // opened file from its own descriptor: announce those, then send from file.
    SendSource openForSending(int attempts = kTransferOpenAttempts) const;
    // Opens an existing regular file for a transfer under the exclusive lock, with
    // the same attempts. nullopt: answer 550.
    std::optional<TransferFile> openForReceiving(WriteMode mode) const;

    // Opens an existing regular file as a handle for reads or writes at offsets,
    // under the shared or exclusive lock, with the attempts of the transfers; mode
    // says what a write handle does to the file (Truncate empties it once locked).
    // nullopt: nothing there, no regular file, or the lock stayed held.
    std::optional<FileHandle> openHandle(HandleAccess access, WriteMode mode = WriteMode::Overwrite) const;

    // One-call forms: open, then transfer (OpenFailed when the open failed).
    TransferResult sendTo(Socket& socket, std::int64_t offset) const;
    TransferResult receiveInto(Socket& socket) const;  // replaces the contents
    TransferResult appendFrom(Socket& socket) const;   // adds at the end

private:
    std::string path_;
};

}  // namespace corvel
