#include "sftp/SftpHandler.h"

#include <cstdio>
#include <ctime>
#include <memory>
#include <utility>

#include "files/ListEntry.h"
#include "sftp/SftpStatus.h"

namespace corvel::sftp {
namespace {

constexpr std::uint32_t kProtocolVersion = 3;
constexpr std::uint32_t kTypeFile = 0100000;
constexpr std::uint32_t kTypeFolder = 0040000;
constexpr std::pair<const char*, const char*> kExtensions[] = {{"posix-rename@openssh.com", "1"},
                                                               {"statvfs@openssh.com", "2"},
                                                               {"fsync@openssh.com", "1"},
                                                               {"limits@openssh.com", "1"}};

std::string handleText(std::uint32_t number) {
    std::string text(4, '\0');
    putU32(text, 0, number);
    return text;
}

std::string modeText(const EntryInfo& info) {
    std::string text = info.kind == EntryKind::Directory ? "d" : "-";
    const char* letters = "rwxrwxrwx";
    for (int bit = 0; bit < 9; ++bit) text += (info.mode & (0400u >> bit)) ? letters[bit] : '-';
    return text;
}

}  // namespace

std::string statusReply(std::uint32_t id, StatusCode code, std::string_view text) {
    return WireWriter(kStatus)
        .u32(id)
        .u32(static_cast<std::uint32_t>(code))
        .string(text.empty() ? textOf(code) : text)
        .string("")
        .finish();
}

std::string statusReply(std::uint32_t id, FileStatus status) { return statusReply(id, statusOf(status)); }

Attributes attributesOf(const EntryInfo& info) {
    Attributes attributes;
    attributes.flags = kAttrSize | kAttrPermissions | kAttrTimes;
    attributes.size = info.kind == EntryKind::RegularFile ? static_cast<std::uint64_t>(info.size) : 0;
    attributes.permissions = (info.mode & 0777) | (info.kind == EntryKind::Directory     ? kTypeFolder
                                                   : info.kind == EntryKind::RegularFile ? kTypeFile
                                                                                         : 0);
    attributes.accessTime = attributes.modificationTime = static_cast<std::uint32_t>(info.lastWrite);
    return attributes;
}

std::string longNameOf(const std::string& name, const EntryInfo& info, std::time_t now) {
    // The owner is the account, whoever owns the file on disk; as FTP's LIST says it.
    char line[96];
    std::snprintf(line, sizeof line, "%s    1 ftp      ftp      %12lld %s ", modeText(info).c_str(),
                  static_cast<long long>(info.kind == EntryKind::RegularFile ? info.size : 0),
                  formatListDateAsLs(info.lastWrite, now).c_str());
    return line + name;
}

SftpHandler::SftpHandler(SftpHandler&& other) noexcept
    : files_(std::move(other.files_)),
      transfers_(std::move(other.transfers_)),
      handles_(std::exchange(other.handles_, {})),
      nextHandle_(other.nextHandle_) {}

SftpHandler::~SftpHandler() {
    for (const auto& [number, handle] : handles_) record(handle, false);
}

void SftpHandler::record(const OpenHandle& handle, bool complete) const {
    if (!handle.file || !transfers_.log || !transfers_.log->enabled()) return;
    TransferRecord line;
    line.finished = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    line.seconds = std::chrono::round<std::chrono::seconds>(std::chrono::steady_clock::now() - handle.opened).count();
    line.remoteHost = transfers_.peer;
    // A handle written to is an upload, even when it was read as well.
    line.outgoing = !handle.file->writable() || (handle.bytesWritten == 0 && handle.bytesRead > 0);
    line.bytes = line.outgoing ? handle.bytesRead : handle.bytesWritten;
    line.fileName = handle.localPath;
    line.anonymous = transfers_.anonymous;
    line.user = transfers_.user;
    line.service = TransferService::Sftp;
    line.complete = complete;
    transfers_.log->record(line);
}

std::string SftpHandler::handle(std::string_view packet) {
    WireReader in(packet);
    const std::uint8_t type = in.byte();
    if (type == kInit) {
        // Version 3 whatever the client offers: it is the one every client speaks.
        WireWriter version(kVersion);
        version.u32(kProtocolVersion);
        // Each with the version OpenSSH's client checks for (statvfs's is 2).
        for (const auto& [extension, revision] : kExtensions) version.string(extension).string(revision);
        return version.finish();
    }
    const std::uint32_t id = in.u32();
    if (!in.ok()) return statusReply(0, StatusCode::BadMessage);
    return dispatch(type, id, in);
}

std::string SftpHandler::dispatch(std::uint8_t type, std::uint32_t id, WireReader& in) {
    switch (type) {
        case kOpen:
            return open(id, in);
        case kClose: {
            const std::string_view handle = in.string();
            if (!in.ok()) return statusReply(id, StatusCode::BadMessage);
            const OpenHandle* open = find(handle);
            if (!open) return statusReply(id, StatusCode::Failure, "No such handle");
            record(*open, true);
            handles_.erase(WireReader(handle).u32());
            return statusReply(id, StatusCode::Ok);
        }
        case kRead:
            return read(id, in);
        case kWrite:
            return write(id, in);
        case kStat:
        case kLstat:
            return stat(id, in);
        case kFstat:
            return fstat(id, in);
        case kSetstat: {
            const std::string path(in.string());
            const Attributes attributes = in.attributes();
            if (!in.ok()) return statusReply(id, StatusCode::BadMessage);
            return setstat(id, path, attributes);
        }
        case kFsetstat: {
            const std::string_view handle = in.string();
            const Attributes attributes = in.attributes();
            if (!in.ok()) return statusReply(id, StatusCode::BadMessage);
            OpenHandle* open = find(handle);
            if (!open) return statusReply(id, StatusCode::Failure, "No such handle");
            return setstat(id, open->path, attributes, open);
        }
        case kOpendir:
            return openFolder(id, in);
        case kReaddir: {
            OpenHandle* open = find(in.string());
            if (!in.ok()) return statusReply(id, StatusCode::BadMessage);
            if (!open || open->file) return statusReply(id, StatusCode::Failure, "No such handle");
            return readFolder(id, *open);
        }
        case kRemove: {
            const std::string path(in.string());
            if (!in.ok()) return statusReply(id, StatusCode::BadMessage);
            return statusReply(id, files_.removeFile({path}).status);
        }
        case kMkdir: {
            const std::string path(in.string());
            (void)in.attributes();  // the mode is the system's, as for FTP's MKD
            if (!in.ok()) return statusReply(id, StatusCode::BadMessage);
            return statusReply(id, files_.makeFolder({path}).status);
        }
        case kRmdir: {
            const std::string path(in.string());
            if (!in.ok()) return statusReply(id, StatusCode::BadMessage);
            return statusReply(id, files_.removeFolder({path}).status);
        }
        case kRealpath:
            return realpath(id, in);
        case kRename:
            return rename(id, in);
        // SECURITY: a link made by a client could point anywhere on the machine.
        case kSymlink:
            return statusReply(id, StatusCode::OpUnsupported, "Links are not made on this server");
        case kReadlink:
            return statusReply(id, StatusCode::OpUnsupported, "Links are not read on this server");
        case kExtended:
            return extended(id, in);
        default:
            return statusReply(id, StatusCode::OpUnsupported);
    }
}

SftpHandler::OpenHandle* SftpHandler::find(std::string_view handle) {
    if (handle.size() != 4) return nullptr;
    auto found = handles_.find(WireReader(handle).u32());
    return found == handles_.end() ? nullptr : &found->second;
}

std::string SftpHandler::newHandle(std::uint32_t id, OpenHandle handle) {
    // SECURITY: a client cannot hold every descriptor of the process.
    if (handles_.size() >= kMaxOpenHandles) return statusReply(id, StatusCode::Failure, "Too many open handles");
    const std::uint32_t number = nextHandle_++;
    handles_.emplace(number, std::move(handle));
    return WireWriter(kHandle).u32(id).string(handleText(number)).finish();
}

std::string SftpHandler::open(std::uint32_t id, WireReader& in) {
    const std::string path(in.string());
    const std::uint32_t flags = in.u32();
    (void)in.attributes();  // the mode of a new file is the system's, as for FTP's STOR
    if (!in.ok()) return statusReply(id, StatusCode::BadMessage);
    HandleRequest request;
    request.access = !(flags & kOpenWrite)  ? HandleAccess::Read
                     : (flags & kOpenRead) ? HandleAccess::ReadWrite
                                           : HandleAccess::Write;
    request.create = (flags & kOpenCreate) != 0;
    request.exclusive = (flags & kOpenExclusive) != 0;
    request.truncate = (flags & kOpenTruncate) != 0;
    request.append = (flags & kOpenAppend) != 0;
    if (handles_.size() >= kMaxOpenHandles) return statusReply(id, StatusCode::Failure, "Too many open handles");
    FileResult<std::optional<FileHandle>> opened = files_.openHandle({path}, request);
    if (!opened.ok()) return statusReply(id, opened.status);
    OpenHandle handle;
    handle.path = path;
    handle.file = std::move(opened.value);
    handle.opened = std::chrono::steady_clock::now();
    if (transfers_.log) {
        FileResult<ResolvedPath> resolved = files_.resolve({path});
        handle.localPath = resolved.ok() ? resolved.value.localPath : path;
    }
    return newHandle(id, std::move(handle));
}

std::string SftpHandler::openFolder(std::uint32_t id, WireReader& in) {
    const std::string path(in.string());
    if (!in.ok()) return statusReply(id, StatusCode::BadMessage);
    if (handles_.size() >= kMaxOpenHandles) return statusReply(id, StatusCode::Failure, "Too many open handles");
    FileResult<FolderListing> listing = files_.list({path});
    if (!listing.ok()) return statusReply(id, listing.status);
    if (listing.value.kind() != EntryKind::Directory)
        return listing.value.kind() == EntryKind::None ? statusReply(id, StatusCode::NoSuchFile)
                                                       : statusReply(id, StatusCode::Failure, "Not a directory");
    OpenHandle handle;
    handle.path = path;
    // "." and ".." are left out: at the home's root ".." would show what is above it.
    (void)listing.value.forEachEntry([&handle](const DirectoryEntry& entry) {
        if (entry.name != "." && entry.name != ".." && entry.info.kind != EntryKind::None)
            handle.names.push_back(entry);
        return true;
    });
    return newHandle(id, std::move(handle));
}

std::string SftpHandler::readFolder(std::uint32_t id, OpenHandle& handle) {
    if (handle.next >= handle.names.size()) return statusReply(id, StatusCode::Eof);
    const std::size_t end = std::min(handle.names.size(), handle.next + kNamesPerReply);
    const std::time_t now = std::time(nullptr);
    WireWriter reply(kName);
    reply.u32(id).u32(static_cast<std::uint32_t>(end - handle.next));
    for (; handle.next < end; ++handle.next) {
        const DirectoryEntry& entry = handle.names[handle.next];
        reply.string(entry.name).string(longNameOf(entry.name, entry.info, now)).attributes(attributesOf(entry.info));
    }
    return reply.finish();
}

std::string SftpHandler::read(std::uint32_t id, WireReader& in) {
    OpenHandle* handle = find(in.string());
    const std::uint64_t offset = in.u64();
    const std::uint32_t length = std::min(in.u32(), kMaxReadBytes);
    if (!in.ok()) return statusReply(id, StatusCode::BadMessage);
    if (!handle || !handle->file) return statusReply(id, StatusCode::Failure, "No such handle");
    if (offset > static_cast<std::uint64_t>(INT64_MAX)) return statusReply(id, StatusCode::Eof);
    // The data is read straight into the reply, behind its header: length, type, id
    // and the data's length, written once the count is known.
    constexpr std::size_t kHeader = 4 + 1 + 4 + 4;
    std::string packet(kHeader + length, '\0');
    const std::optional<std::size_t> got =
        handle->file->read(packet.data() + kHeader, length, static_cast<std::int64_t>(offset));
    if (!got) return statusReply(id, StatusCode::Failure);
    if (*got == 0) return statusReply(id, StatusCode::Eof);
    handle->bytesRead += *got;
    packet.resize(kHeader + *got);
    putU32(packet, 0, static_cast<std::uint32_t>(packet.size() - 4));
    packet[4] = static_cast<char>(kData);
    putU32(packet, 5, id);
    putU32(packet, 9, static_cast<std::uint32_t>(*got));
    return packet;
}

std::string SftpHandler::write(std::uint32_t id, WireReader& in) {
    OpenHandle* handle = find(in.string());
    const std::uint64_t offset = in.u64();
    const std::string_view data = in.string();
    if (!in.ok()) return statusReply(id, StatusCode::BadMessage);
    if (!handle || !handle->file) return statusReply(id, StatusCode::Failure, "No such handle");
    if (!handle->file->writable()) return statusReply(id, StatusCode::PermissionDenied, "Opened for reading");
    if (offset > static_cast<std::uint64_t>(INT64_MAX) - data.size()) return statusReply(id, StatusCode::Failure);
    const bool written = handle->file->write(data.data(), data.size(), static_cast<std::int64_t>(offset));
    if (written) handle->bytesWritten += data.size();
    return statusReply(id, written ? StatusCode::Ok : StatusCode::Failure);
}

std::string SftpHandler::stat(std::uint32_t id, WireReader& in) {
    const std::string path(in.string());
    if (!in.ok()) return statusReply(id, StatusCode::BadMessage);
    FileResult<EntryInfo> found = files_.stat({path}, StatPurpose::Listing);
    if (!found.ok()) return statusReply(id, found.status);
    if (found.value.kind == EntryKind::None) return statusReply(id, StatusCode::NoSuchFile);
    return WireWriter(kAttrs).u32(id).attributes(attributesOf(found.value)).finish();
}

std::string SftpHandler::fstat(std::uint32_t id, WireReader& in) {
    OpenHandle* handle = find(in.string());
    if (!in.ok()) return statusReply(id, StatusCode::BadMessage);
    if (!handle || !handle->file) return statusReply(id, StatusCode::Failure, "No such handle");
    const std::optional<EntryInfo> info = handle->file->info();
    if (!info) return statusReply(id, StatusCode::Failure);
    return WireWriter(kAttrs).u32(id).attributes(attributesOf(*info)).finish();
}

std::string SftpHandler::setstat(std::uint32_t id, const std::string& path, const Attributes& attributes,
                                 const OpenHandle* handle) {
    // The size and the time are the client's to set (OpenSSH's scp cuts a file it
    // wrote in place to its length at the end); the mode and the owner are the
    // system's, as for FTP.
    if (attributes.flags & kAttrSize) {
        if (attributes.size > static_cast<std::uint64_t>(INT64_MAX)) return statusReply(id, StatusCode::Failure);
        const auto size = static_cast<std::int64_t>(attributes.size);
        if (handle && handle->file) {
            if (!handle->file->writable()) return statusReply(id, StatusCode::PermissionDenied, "Opened for reading");
            if (!handle->file->resize(size)) return statusReply(id, StatusCode::Failure);
        } else {
            // By name: as an open for writing would (the Write right, the exclusive lock).
            HandleRequest request;
            request.access = HandleAccess::Write;
            FileResult<std::optional<FileHandle>> opened = files_.openHandle({path}, request);
            if (!opened.ok()) return statusReply(id, opened.status);
            if (!opened.value->resize(size)) return statusReply(id, StatusCode::Failure);
        }
    }
    if (attributes.flags & kAttrTimes) {
        const auto set = files_.setModificationTime({path}, static_cast<std::time_t>(attributes.modificationTime));
        return statusReply(id, set.status);
    }
    return statusReply(id, StatusCode::Ok);
}

std::string SftpHandler::realpath(std::uint32_t id, WireReader& in) {
    const std::string path(in.string());
    if (!in.ok()) return statusReply(id, StatusCode::BadMessage);
    FileResult<ResolvedPath> resolved = files_.resolve({path});
    if (!resolved.ok()) return statusReply(id, resolved.status);
    const std::string absolute = "/" + resolved.normalised;
    return WireWriter(kName).u32(id).u32(1).string(absolute).string(absolute).u32(0).finish();
}

std::string SftpHandler::rename(std::uint32_t id, WireReader& in) {
    const std::string from(in.string());
    const std::string to(in.string());
    if (!in.ok()) return statusReply(id, StatusCode::BadMessage);
    return statusReply(id, files_.rename({from}, {to}).status);
}

std::string SftpHandler::extended(std::uint32_t id, WireReader& in) {
    const std::string_view name = in.string();
    if (!in.ok()) return statusReply(id, StatusCode::BadMessage);
    // The file service never replaces a file by a rename, so neither does this one.
    if (name == "posix-rename@openssh.com") return rename(id, in);
    if (name == "limits@openssh.com") {
        // What a client may send and ask for: OpenSSH's client sizes its requests by it.
        return WireWriter(kExtendedReply)
            .u32(id)
            .u64(PacketFramer::kMaxPacketBytes)
            .u64(kMaxReadBytes)
            .u64(kMaxWriteBytes)
            .u64(kMaxOpenHandles)
            .finish();
    }
    if (name == "statvfs@openssh.com") {
        const std::string path(in.string());
        if (!in.ok()) return statusReply(id, StatusCode::BadMessage);
        FileResult<DiskSpace> found = files_.space({path});
        if (!found.ok()) return statusReply(id, found.status);
        const DiskSpace& space = found.value;
        return WireWriter(kExtendedReply)
            .u32(id)
            .u64(space.blockSize)
            .u64(space.fragmentSize)
            .u64(space.blocks)
            .u64(space.freeBlocks)
            .u64(space.availableBlocks)
            .u64(space.files)
            .u64(space.freeFiles)
            .u64(space.availableFiles)
            .u64(space.systemId)
            .u64(space.flags)
            .u64(space.nameMax)
            .finish();
    }
    if (name == "fsync@openssh.com") {
        OpenHandle* handle = find(in.string());
        if (!in.ok()) return statusReply(id, StatusCode::BadMessage);
        if (!handle || !handle->file) return statusReply(id, StatusCode::Failure, "No such handle");
        return statusReply(id, handle->file->sync() ? StatusCode::Ok : StatusCode::Failure);
    }
    if (name == "hardlink@openssh.com")
        return statusReply(id, StatusCode::OpUnsupported, "Links are not made on this server");
    return statusReply(id, StatusCode::OpUnsupported);
}

}  // namespace corvel::sftp
