// The SFTP version 3 requests of one signed-in session, answered through the file
// service, so the home, the rights and the path rules are the ones FTP and the web
// apply. Knows nothing of SSH: it takes one packet and gives its reply.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "files/FileService.h"
#include "files/TransferLog.h"
#include "sftp/SftpWire.h"

namespace corvel::sftp {

// Handles one session may hold open at once, and the bytes one read returns at most.
constexpr std::size_t kMaxOpenHandles = 256;
constexpr std::uint32_t kMaxReadBytes = 256 * 1024 - 1024;
// The data one write carries at most, so its packet stays within the framer's limit.
constexpr std::uint32_t kMaxWriteBytes = 256 * 1024 - 1024;
// Names one READDIR reply carries at most.
constexpr std::size_t kNamesPerReply = 100;

// Who a session is, for its lines in the transfer log (<xferlog>).
struct SftpTransferLog {
    TransferLog* log = nullptr;  // nothing is recorded without one
    std::string peer;            // the client's address
    std::string user;
    bool anonymous = false;
};

// Owned by one session's thread. Each file handle closed is one line of the
// transfer log: complete when the client closed it, broken off when the session
// ended with it open.
class SftpHandler {
public:
    explicit SftpHandler(FileService files, SftpTransferLog transfers = {})
        : files_(std::move(files)), transfers_(std::move(transfers)) {}
    SftpHandler(SftpHandler&& other) noexcept;
    SftpHandler& operator=(SftpHandler&&) = delete;
    ~SftpHandler();

    // The reply (with its length in front) to one packet (without its length).
    std::string handle(std::string_view packet);

private:
    struct OpenHandle {
        std::string path;                   // as the client named it, for fsetstat
        std::optional<FileHandle> file;     // a file's handle
        std::string localPath;              // a file's, for the transfer log
        std::chrono::steady_clock::time_point opened{};
        std::uint64_t bytesRead = 0;
        std::uint64_t bytesWritten = 0;
        std::vector<DirectoryEntry> names;  // a folder's entries still to send
        std::size_t next = 0;
    };

    std::string dispatch(std::uint8_t type, std::uint32_t id, WireReader& in);
    std::string open(std::uint32_t id, WireReader& in);
    std::string openFolder(std::uint32_t id, WireReader& in);
    std::string readFolder(std::uint32_t id, OpenHandle& handle);
    std::string read(std::uint32_t id, WireReader& in);
    std::string write(std::uint32_t id, WireReader& in);
    std::string stat(std::uint32_t id, WireReader& in);
    std::string fstat(std::uint32_t id, WireReader& in);
    // The attributes of path, or of handle's file when given (fsetstat).
    std::string setstat(std::uint32_t id, const std::string& path, const Attributes& attributes,
                        const OpenHandle* handle = nullptr);
    std::string realpath(std::uint32_t id, WireReader& in);
    std::string rename(std::uint32_t id, WireReader& in);
    std::string extended(std::uint32_t id, WireReader& in);

    // A handle the client named, or nullptr.
    OpenHandle* find(std::string_view handle);
    std::string newHandle(std::uint32_t id, OpenHandle handle);
    // The transfer log's line for a file handle that closes.
    void record(const OpenHandle& handle, bool complete) const;

    FileService files_;
    SftpTransferLog transfers_;
    std::map<std::uint32_t, OpenHandle> handles_;
    std::uint32_t nextHandle_ = 1;
};

// The reply packets every request may end in.
std::string statusReply(std::uint32_t id, StatusCode code, std::string_view text = {});
std::string statusReply(std::uint32_t id, FileStatus status);

// The attributes SFTP shows for what the file service found.
Attributes attributesOf(const EntryInfo& info);
// The line "ls -l" prints for an entry, which OpenSSH's client shows as it is.
std::string longNameOf(const std::string& name, const EntryInfo& info, std::time_t now);

}  // namespace corvel::sftp
