// The file-system calls the FTP commands and the web browser need (entry queries,
// create, delete, rename, directories, locked opens for transfers, sendfile), behind
// our own types so no OS header leaks out of platform/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "platform/UniqueFd.h"

namespace corvel {

class Socket;

// What a path names once symlinks are followed. Other covers FIFOs, sockets and
// devices; None a missing path or a broken link.
enum class EntryKind { None, RegularFile, Directory, Other };

struct EntryInfo {
    EntryKind kind = EntryKind::None;
    std::int64_t size = 0;        // bytes, as the file system reports it
    std::time_t lastWrite = 0;    // modification time, seconds since the epoch
    std::uint32_t mode = 0;       // permission bits (07777) as the file system keeps them
};

// Every function below is thread-safe (plain system calls on the given path) and
// refuses a path that contains a NUL byte, so a name is never cut short silently.

// Looks the path up after following symlinks; kind None when it cannot be found.
EntryInfo queryEntry(const std::string& path);

enum class CreateResult { Created, AlreadyExists, Failed };
// Creates a new empty file, failing when anything (even a broken link) has that
// name; mode 0666 & umask. The file is closed again at once.
[[nodiscard]] CreateResult createNewFile(const std::string& path);

// unlink(2): removes a name that is not a directory.
[[nodiscard]] bool deleteFile(const std::string& path);

// Renames or moves from to to and never replaces an existing to, even when another
// process creates to at the same moment (renameat2 RENAME_NOREPLACE; where the file
// system lacks it, link+unlink for files and an exclusive placeholder directory for
// directories).
[[nodiscard]] bool renameNoReplace(const std::string& from, const std::string& to);

// The part of renameNoReplace used where the file system lacks RENAME_NOREPLACE;
// public so tests can run it on any file system. Same contract.
[[nodiscard]] bool renameNoReplaceFallback(const std::string& from, const std::string& to);

// Sets the modification time of what the path names (symlinks followed) to
// lastWrite, whole seconds; the access time stays. false when the system refuses.
[[nodiscard]] bool setModificationTime(const std::string& path, std::time_t lastWrite);

// mkdir(2) with mode 0777 & umask; rmdir(2) (the directory must be empty).
[[nodiscard]] bool createDirectory(const std::string& path);
[[nodiscard]] bool deleteDirectory(const std::string& path);

struct DirectoryEntry {
    std::string name;  // as the system returns it; "." and ".." included
    EntryInfo info;    // of the entry after following symlinks
};
// Calls visit for each entry of the directory in the system's enumeration order,
// one at a time (nothing is held but the current entry), until visit returns false.
// false when the path cannot be opened as a directory, reading it failed, or visit
// stopped early.
[[nodiscard]] bool forEachDirectoryEntry(const std::string& path,
                                         const std::function<bool(const DirectoryEntry&)>& visit);
// As forEachDirectoryEntry, visiting only the entries of kind wanted. Entries the
// directory itself already tells are of another kind are passed over without a look
// at their details, which halves the work of listing folders in two passes.
[[nodiscard]] bool forEachDirectoryEntryOfKind(const std::string& path, EntryKind wanted,
                                               const std::function<bool(const DirectoryEntry&)>& visit);
// Reads the whole directory in the system's enumeration order, appending to out.
// false (out unchanged) when the path cannot be opened as a directory.
[[nodiscard]] bool readDirectory(const std::string& path, std::vector<DirectoryEntry>& out);

// Why an open for a transfer failed.
enum class OpenStatus {
    Opened,
    Locked,          // another transfer holds a conflicting lock: worth another try
    NotRegularFile,  // a directory, FIFO, device or socket: never opened for transfers
    Failed,          // missing, access refused, out of descriptors, ...
};

struct OpenedFile {
    UniqueFd file;  // open only when status is Opened
    OpenStatus status = OpenStatus::Failed;
    // What the path named: for Opened, from the open descriptor itself (so a size
    // announced from it is the size of the file sent); otherwise as far as known
    // (kind None when nothing is there).
    EntryInfo info;
};

// Opens a regular file for sending and takes a shared advisory lock (flock), so
// readers run side by side while a writer excludes them. Never blocks, and never
// opens anything but a regular file: the path is looked at through an O_PATH
// descriptor first, so FIFOs and devices are refused without being opened.
[[nodiscard]] OpenedFile openFileForReading(const std::string& path);

enum class WriteMode { Truncate, Append, Overwrite };
// Opens an existing regular file for receiving under an exclusive advisory lock, so
// two uploads into one file never interleave and no reader sees it half written.
// Truncate empties the file only once the lock is held; Append writes at its end;
// Overwrite keeps the contents and writes from the start (or where seekFile moves).
[[nodiscard]] OpenedFile openFileForWriting(const std::string& path, WriteMode mode);
// As openFileForWriting, with the file open for reading as well (an SFTP handle
// opened for both).
[[nodiscard]] OpenedFile openFileForUpdating(const std::string& path, WriteMode mode);

// Moves the file's position to offset bytes from its start; false on an error.
[[nodiscard]] bool seekFile(const UniqueFd& file, std::int64_t offset);
// Cuts the file at its position, dropping every byte after it; false on an error.
[[nodiscard]] bool truncateAtPosition(const UniqueFd& file);

// Writes the whole buffer at the file's position; false on any error (disk full, ...).
[[nodiscard]] bool writeAll(const UniqueFd& file, const char* data, std::size_t length);
// Reads up to length bytes at the file's position: how many (0 at the end), or -1
// on an error.
[[nodiscard]] long readSome(const UniqueFd& file, char* data, std::size_t length);

// How a receive into a file through the kernel ended.
enum class KernelReceive { PeerClosed, Broken, DiskFailed, Unsupported, CountReached };
// Moves what the peer sends into the file at its position without passing it through
// this process (splice(2) through a pipe), until the peer closes, the connection
// breaks or stays idle for kIdleLimitSeconds waits of kWaitStepMs, or the disk
// refuses. Whatever was taken from the socket is in the file when it returns, except
// after DiskFailed. Unsupported: the kernel cannot do it for this socket or file (a
// stream layer, append mode, a file system without splice); what was already taken
// is in the file and the caller goes on reading the socket itself. The socket stays
// open and is switched to non-blocking mode. Given remaining, it takes at most that
// many bytes (what follows on the socket belongs to the next request), counts down
// what it moved, and returns CountReached when none are left.
[[nodiscard]] KernelReceive receiveIntoFile(Socket& socket, const UniqueFd& file, std::int64_t* remaining = nullptr);

// Sends the file from offset (a negative offset means 0) up to end (negative: to
// the end of the file, however long it is by then) on the socket with sendfile(2),
// waiting for writability in kWaitStepMs steps; kIdleLimitSeconds idle waits in a
// row end the transfer. size is the file's size when it was opened (negative:
// unknown); an offset at or past it sends nothing and succeeds. Returns true when
// everything asked for was sent (or the file ended before it). On failure the socket
// is closed, as sendAll does. A peer that is gone never raises SIGPIPE. The socket
// is switched to non-blocking mode.
[[nodiscard]] bool sendFileRange(const UniqueFd& file, Socket& socket, std::int64_t offset, std::int64_t size = -1,
                                 std::int64_t end = -1);

}  // namespace corvel
