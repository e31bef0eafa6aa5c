// The SFTP version 3 requests of one signed-in session, answered through the file
// service, so the home, the rights and the path rules are the ones FTP and the web
// apply. Knows nothing of SSH: it takes one packet and gives its reply.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "files/FileService.h"
#include "sftp/SftpWire.h"

namespace corvel::sftp {

// Handles one session may hold open at once, and the bytes one read returns at most.
constexpr std::size_t kMaxOpenHandles = 256;
constexpr std::uint32_t kMaxReadBytes = 256 * 1024 - 1024;
// The data one write carries at most, so its packet stays within the framer's limit.
constexpr std::uint32_t kMaxWriteBytes = 256 * 1024 - 1024;
// Names one READDIR reply carries at most.
constexpr std::size_t kNamesPerReply = 100;

// Owned by one session's thread.
class SftpHandler {
public:
    explicit SftpHandler(FileService files) : files_(std::move(files)) {}

    // The reply (with its length in front) to one packet (without its length).
    std::string handle(std::string_view packet);

private:
    struct OpenHandle {
        std::string path;                   // as the client named it, for fsetstat
        std::optional<FileHandle> file;     // a file's handle
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
    std::string setstat(std::uint32_t id, const std::string& path, const Attributes& attributes);
    std::string realpath(std::uint32_t id, WireReader& in);
    std::string rename(std::uint32_t id, WireReader& in);
    std::string extended(std::uint32_t id, WireReader& in);

    // A handle the client named, or nullptr.
    OpenHandle* find(std::string_view handle);
    std::string newHandle(std::uint32_t id, OpenHandle handle);

    FileService files_;
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
