// The rights and path rules of one signed-in account's files, the same for every
// protocol: FTP's commands, the web's pages (and what comes after them) call these
// operations and turn the outcome into their own replies. Each operation checks the
// right it needs first, then that the path stays inside the home, and only then
// looks at the disk.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "files/ListEntry.h"
#include "files/LocalFile.h"
#include "files/PathResolution.h"
#include "files/VirtualPath.h"
#include "platform/DiskSpace.h"
#include "platform/FileSystem.h"

namespace corvel {

// What an operation found. The protocols map each to their own reply; the order of
// the checks (right, path, disk) is the service's, so all of them refuse alike.
enum class FileStatus {
    Ok,
    NoRight,      // the account lacks the right; nothing else was looked at
    InvalidPath,  // no usable path: too long, a NUL byte, or no usable home
    Escaped,      // climbs above the home; nothing on disk was looked at
    NotFound,     // nothing of the kind the operation needs is there
    WrongKind,    // something is there, but of the other kind
    Exists,       // what the operation would create is there already
    Refused,      // the system refused (permissions, a full disk, a folder not empty)
    BeyondEnd,    // a resume offset past the bytes that are there
};

// An operation's outcome: its status, and the path as the service resolved it
// (normalised: the names joined by the argument's separator, "" for the root),
// which the refusal texts of FTP quote. value is meaningful when ok().
template <typename T>
struct FileResult {
    FileStatus status = FileStatus::Ok;
    std::string normalised;
    T value{};

    bool ok() const { return status == FileStatus::Ok; }
};

struct Done {};

// A path as a protocol's client gave it: absolute ("/a/b") or relative to the
// current folder, with the separator the resolved text is joined with. A text longer
// than maxBytes is no usable path (SECURITY: refused, never cut to fit).
struct PathArgument {
    const std::string& text;
    char separator = '/';
    std::size_t maxBytes = kMaxPathTextBytes;
};

// A folder to list, once the right and the path are checked.
class FolderListing {
public:
    FolderListing() : folder_("/") {}
    explicit FolderListing(LocalFile folder, EntryKind kind) : folder_(std::move(folder)), kind_(kind) {}

    // What the path names (a listing of a file or of nothing lists nothing).
    EntryKind kind() const { return kind_; }
    // Directories first, then files, as LIST shows them.
    bool forEachListEntry(const std::function<bool(const ListEntry&)>& visit) const {
        return folder_.forEachListEntry(visit);
    }
    // Every entry in the system's order, with its details ("." and ".." included).
    bool forEachEntry(const std::function<bool(const DirectoryEntry&)>& visit) const {
        return forEachDirectoryEntry(folder_.path(), visit);
    }

private:
    LocalFile folder_;
    EntryKind kind_ = EntryKind::None;
};

// What a look for reading a file found: its kind, its size and, for a regular file,
// the open and share-locked handle. reopen tries again when it was held.
class ReadSource {
public:
    ReadSource() : file_("/") {}
    ReadSource(LocalFile file, SendSource source) : file_(std::move(file)), source_(std::move(source)) {}

    EntryKind kind() const { return source_.kind; }
    std::int64_t size() const { return source_.size; }
    bool isOpen() const { return source_.file.has_value(); }
    // The opened file; only when isOpen().
    TransferFile& transfer() { return *source_.file; }
    // Looks again, up to attempts tries, when the file was held by another transfer.
    void reopen(int attempts) { source_ = file_.openForSending(attempts); }
    // A folder found where a file was asked for, to list instead.
    FolderListing asFolder() const { return FolderListing(file_, source_.kind); }
    const std::string& localPath() const { return file_.path(); }

private:
    LocalFile file_;
    SendSource source_;
};

// Where an upload goes, once the right and the path are checked and the file made.
class WriteTarget {
public:
    WriteTarget() : file_("/") {}
    explicit WriteTarget(LocalFile file) : file_(std::move(file)) {}
    // Opens the file under the exclusive lock; nullopt when it cannot be had.
    std::optional<TransferFile> open(WriteMode mode) const { return file_.openForReceiving(mode); }
    const std::string& localPath() const { return file_.path(); }
    // A folder is there (an FTP STOR answers it when the open fails).
    bool isFolder() const { return file_.isDirectory(); }

private:
    LocalFile file_;
};

// One entry below a folder being walked, as forEachInTree hands it on.
struct TreeEntry {
    std::string relative;  // the names from the walked folder on, joined by "/"
    EntryKind kind = EntryKind::None;  // Directory or RegularFile
    std::time_t lastWrite = 0;
};

// Folders deeper than this below the walked one are not entered (a link that points
// back up would otherwise never end).
constexpr int kMaxTreeDepth = 32;

// What an open of a handle asks for (SFTP's open flags say it so).
struct HandleRequest {
    HandleAccess access = HandleAccess::Read;
    bool create = false;     // make the file when nothing is there (needs Create too)
    bool exclusive = false;  // with create: Exists when anything is there already
    bool truncate = false;   // empty an existing file once it is locked
    bool append = false;     // every write goes to the end
};

// Why a file's details are asked for, which decides the right that is needed.
// Writing is for a client that resumes an upload: it asks how much it sent already.
enum class StatPurpose { Listing, Reading, Writing };

// Which side of a rename a refusal is about.
enum class RenameSide { Source, Target };

// One account's view of its files: home, rights and current folder. Owned by one
// session's thread; a value otherwise (copying it copies the view).
class FileService {
public:
    FileService() = default;
    FileService(std::string home, std::uint32_t rights) : home_(std::move(home)), rights_(rights) {}

    // A new sign-in: the account's home and rights. The current folder stays where
    // it was, as a second login in one FTP session has always found it.
    void signIn(std::string home, std::uint32_t rights) {
        home_ = std::move(home);
        rights_ = rights;
    }
    // Takes every right away (a new security context, a reinitialised session).
    void revokeRights() { rights_ = 0; }
    std::uint32_t rights() const { return rights_; }
    bool permits(std::uint32_t right) const { return (rights_ & right) != 0; }
    // The rights of list and rename, for protocols that answer a missing right
    // before they look at anything else (FTP's data connection, RNTO's sequence).
    bool mayList() const;
    bool mayWrite() const;
    const std::string& home() const { return home_; }

    // The current folder as the client sees it ("/" at first, then names joined by
    // "/" with none in front).
    const std::string& currentFolder() const { return current_; }
    void resetCurrentFolder() { current_ = "/"; }
    // Makes the folder at path the current one. NotFound when no folder is there.
    FileResult<Done> changeFolder(PathArgument path);
    // One folder up; false at the root (nothing changes then).
    bool changeToParent();

    // Resolves path against the current folder inside the home; no right needed
    // and nothing on disk looked at. Ok, InvalidPath or Escaped.
    FileResult<ResolvedPath> resolve(PathArgument path) const;

    // The details of what path names (kind None when nothing is there).
    FileResult<EntryInfo> stat(PathArgument path, StatPurpose purpose) const;
    // The room on the file system of what path names (List right). NotFound when
    // nothing is there to ask about.
    FileResult<DiskSpace> space(PathArgument path) const;
    // A folder to list (List right); its kind tells what the path names.
    FileResult<FolderListing> list(PathArgument path) const;

    // Looks once and opens a regular file for reading (Read right), up to attempts
    // tries; the kind and the size come from that look.
    FileResult<ReadSource> openForReading(PathArgument path, int attempts) const;
    // Gets an upload's file ready (Write right, and Create to make a new file): a new
    // file is made empty; resumeAt > 0 wants existing bytes to resume after.
    // WrongKind when the path names neither file nor folder after that.
    FileResult<WriteTarget> prepareUpload(PathArgument path, std::int64_t resumeAt) const;
    // An upload's file opened under the exclusive lock to write from offset on, as
    // prepareUpload gets it ready: offset 0 starts it again (made new, or emptied
    // under the lock); a larger one needs existing bytes. BeyondEnd: the file holds
    // fewer than offset bytes, so the bytes between would be a hole; Refused: it
    // could not be opened.
    FileResult<std::optional<TransferFile>> openForWritingAt(PathArgument path, std::int64_t offset) const;

    // Walks the folder at path and everything below it, each folder before what it
    // holds, for a download of them all: List (to read folders) and Read (for the
    // files) are both needed, and checked before anything is looked at. visit gets
    // each folder and each regular file with the file opened and share-locked (null
    // when it could not be opened now), and stops the walk by returning false.
    // NotFound: no folder at path.
    FileResult<Done> forEachInTree(PathArgument path,
                                   const std::function<bool(const TreeEntry&, TransferFile*)>& visit) const;

    // Opens a regular file as a handle for reads at offsets (Read right), writes at
    // offsets (Write right; Create as well to make it), or both (Read and Write). value holds the handle
    // when ok(). NotFound: nothing there and nothing to create; WrongKind: a folder
    // or another kind; Refused: the system refused, or the lock stayed held.
    FileResult<std::optional<FileHandle>> openHandle(PathArgument path, HandleRequest request) const;

    FileResult<Done> makeFolder(PathArgument path) const;    // Exists: a folder is there
    FileResult<Done> removeFolder(PathArgument path) const;  // NotFound: no folder there
    FileResult<Done> removeFile(PathArgument path) const;    // NotFound: no file there
    // The source of a later rename (Write right): a file or folder must be there.
    FileResult<Done> checkRenameSource(PathArgument path) const;
    // Renames or moves (Write right); never replaces anything. value names the side
    // a refusal is about.
    FileResult<RenameSide> rename(PathArgument from, PathArgument to) const;
    // Moves the regular file at from to the name to, replacing a file there in one
    // step (Write right, for both names). The finished half of an upload written
    // beside its name goes there this way. NotFound: no file at from; WrongKind: a
    // folder at to.
    FileResult<RenameSide> replaceByRename(PathArgument from, PathArgument to) const;
    // Sets a regular file's modification time (Write right). WrongKind: a folder.
    FileResult<Done> setModificationTime(PathArgument path, std::time_t lastWrite) const;

private:
    // The right check and the resolution every operation starts with.
    template <typename T>
    FileResult<T> locate(PathArgument path, std::uint32_t right, ResolvedPath& resolved) const;
    // Removes the folder or regular file (kind) at path; NotFound when none is there.
    FileResult<Done> removeEntry(PathArgument path, std::uint32_t right, EntryKind kind) const;

    std::string home_;
    std::uint32_t rights_ = 0;
    std::string current_ = "/";
};

}  // namespace corvel
