#include "files/FileService.h"

#include "common/Permissions.h"

namespace corvel {

namespace {

std::uint32_t rightFor(StatPurpose purpose) {
    switch (purpose) {
        case StatPurpose::Listing: return PERM_LIST;
        case StatPurpose::Reading: return PERM_READ_FILE;
        case StatPurpose::Writing: return PERM_WRITE_FILE;
    }
    return PERM_LIST;
}

}  // namespace

bool FileService::mayList() const { return permits(PERM_LIST); }
bool FileService::mayWrite() const { return permits(PERM_WRITE_FILE); }

FileResult<ResolvedPath> FileService::resolve(PathArgument path) const {
    FileResult<ResolvedPath> result;
    if (path.text.size() > path.maxBytes) {
        result.status = FileStatus::InvalidPath;
        return result;
    }
    result.value = resolvePath(home_, current_, path.text, path.separator);
    result.normalised = result.value.normalised;
    switch (result.value.status) {
        case PathStatus::Invalid: result.status = FileStatus::InvalidPath; break;
        // SECURITY: a path that climbs above the root touches nothing on disk.
        case PathStatus::Escaped: result.status = FileStatus::Escaped; break;
        case PathStatus::Resolved: result.status = FileStatus::Ok; break;
    }
    return result;
}

template <typename T>
FileResult<T> FileService::locate(PathArgument path, std::uint32_t right, ResolvedPath& resolved) const {
    FileResult<T> result;
    // The right comes first, so an account without it learns nothing of the path.
    if (right != 0 && !permits(right)) {
        result.status = FileStatus::NoRight;
        return result;
    }
    FileResult<ResolvedPath> found = resolve(path);
    result.status = found.status;
    result.normalised = std::move(found.normalised);
    resolved = std::move(found.value);
    return result;
}

FileResult<Done> FileService::changeFolder(PathArgument path) {
    ResolvedPath resolved;
    auto result = locate<Done>(path, 0, resolved);
    if (!result.ok()) return result;
    if (!LocalFile(resolved.localPath).isDirectory())
        result.status = FileStatus::NotFound;
    else
        current_ = result.normalised;
    return result;
}

bool FileService::changeToParent() {
    VirtualPath current = VirtualPath::parse(current_, '/');
    if (!current.popLast()) return false;
    current_ = current.joined();
    return true;
}

FileResult<EntryInfo> FileService::stat(PathArgument path, StatPurpose purpose) const {
    ResolvedPath resolved;
    auto result = locate<EntryInfo>(path, rightFor(purpose), resolved);
    if (result.ok()) result.value = LocalFile(resolved.localPath).info();
    return result;
}

FileResult<DiskSpace> FileService::space(PathArgument path) const {
    ResolvedPath resolved;
    auto result = locate<DiskSpace>(path, PERM_LIST, resolved);
    if (!result.ok()) return result;
    if (std::optional<DiskSpace> found = queryDiskSpace(resolved.localPath))
        result.value = *found;
    else
        result.status = FileStatus::NotFound;
    return result;
}

FileResult<FolderListing> FileService::list(PathArgument path) const {
    ResolvedPath resolved;
    auto result = locate<FolderListing>(path, PERM_LIST, resolved);
    if (!result.ok()) return result;
    LocalFile folder(resolved.localPath);
    const EntryKind kind = folder.info().kind;
    result.value = FolderListing(std::move(folder), kind);
    return result;
}

FileResult<ReadSource> FileService::openForReading(PathArgument path, int attempts) const {
    ResolvedPath resolved;
    auto result = locate<ReadSource>(path, PERM_READ_FILE, resolved);
    if (!result.ok()) return result;
    LocalFile file(resolved.localPath);
    SendSource source = file.openForSending(attempts);
    if (source.kind != EntryKind::RegularFile && source.kind != EntryKind::Directory)
        result.status = FileStatus::NotFound;
    result.value = ReadSource(std::move(file), std::move(source));
    return result;
}

FileResult<WriteTarget> FileService::prepareUpload(PathArgument path, std::int64_t resumeAt) const {
    ResolvedPath resolved;
    auto result = locate<WriteTarget>(path, PERM_WRITE_FILE, resolved);
    if (!result.ok()) return result;
    LocalFile file(resolved.localPath);
    if (resumeAt > 0 && file.info().kind == EntryKind::None) {
        result.status = FileStatus::BeyondEnd;  // no bytes there to resume after
        return result;
    }
    if (!file.isFile()) {
        if (!permits(PERM_CREATE_FILE)) {
            result.status = FileStatus::NoRight;
            return result;
        }
        (void)file.createEmpty();  // a failure shows in the look below
    }
    const EntryKind kind = file.info().kind;
    if (kind != EntryKind::RegularFile && kind != EntryKind::Directory) {
        result.status = FileStatus::WrongKind;
        return result;
    }
    result.value = WriteTarget(std::move(file));
    return result;
}

FileResult<std::optional<TransferFile>> FileService::openForWritingAt(PathArgument path, std::int64_t offset) const {
    FileResult<std::optional<TransferFile>> result;
    if (offset < 0) {
        result.status = FileStatus::BeyondEnd;
        return result;
    }
    auto target = prepareUpload(path, offset);
    result.status = target.status;
    result.normalised = std::move(target.normalised);
    if (!result.ok()) return result;
    if (target.value.isFolder()) {
        result.status = FileStatus::WrongKind;
        return result;
    }
    result.value = target.value.open(offset == 0 ? WriteMode::Truncate : WriteMode::Overwrite);
    if (!result.value)
        result.status = FileStatus::Refused;
    else if (result.value->size() < offset)
        result.status = FileStatus::BeyondEnd;
    if (!result.ok()) result.value.reset();  // the lock goes with the handle
    return result;
}

namespace {

// One folder of a walk; false when visit stopped it.
bool walkFolder(const std::string& localPath, const std::string& relative, int depth,
                const std::function<bool(const TreeEntry&, TransferFile*)>& visit) {
    return forEachDirectoryEntry(localPath, [&](const DirectoryEntry& entry) {
        if (entry.name == "." || entry.name == "..") return true;
        const std::string child = relative.empty() ? entry.name : relative + "/" + entry.name;
        const std::string childPath = localPath + "/" + entry.name;
        if (entry.info.kind == EntryKind::Directory) {
            if (!visit(TreeEntry{child, EntryKind::Directory, entry.info.lastWrite}, nullptr)) return false;
            return depth >= kMaxTreeDepth || walkFolder(childPath, child, depth + 1, visit);
        }
        if (entry.info.kind != EntryKind::RegularFile) return true;  // FIFOs, devices, broken links
        SendSource source = LocalFile(childPath).openForSending(1);
        TransferFile* file = source.file ? &*source.file : nullptr;
        return visit(TreeEntry{child, EntryKind::RegularFile, entry.info.lastWrite}, file);
    });
}

}  // namespace

FileResult<Done> FileService::forEachInTree(PathArgument path,
                                            const std::function<bool(const TreeEntry&, TransferFile*)>& visit) const {
    // Both rights before the path, so an account lacking one learns nothing of it.
    ResolvedPath resolved;
    auto result = locate<Done>(path, permits(PERM_READ_FILE) ? PERM_LIST : PERM_READ_FILE, resolved);
    if (!result.ok()) return result;
    if (!LocalFile(resolved.localPath).isDirectory()) {
        result.status = FileStatus::NotFound;
        return result;
    }
    (void)walkFolder(LocalFile(resolved.localPath).path(), std::string(), 1, visit);
    return result;
}

FileResult<std::optional<FileHandle>> FileService::openHandle(PathArgument path, HandleRequest request) const {
    const bool writing = request.access != HandleAccess::Read;
    // SECURITY: a handle for both needs both rights, each checked before the path.
    if (request.access == HandleAccess::ReadWrite && !permits(PERM_READ_FILE))
        return {.status = FileStatus::NoRight, .normalised = {}, .value = {}};
    ResolvedPath resolved;
    auto result = locate<std::optional<FileHandle>>(path, writing ? PERM_WRITE_FILE : PERM_READ_FILE, resolved);
    if (!result.ok()) return result;
    LocalFile file(resolved.localPath);
    EntryKind kind = file.info().kind;
    if (kind == EntryKind::None) {
        if (!writing || !request.create) {
            result.status = FileStatus::NotFound;
            return result;
        }
        if (!permits(PERM_CREATE_FILE)) {
            result.status = FileStatus::NoRight;
            return result;
        }
        if (!file.createEmpty()) {
            result.status = FileStatus::Refused;
            return result;
        }
        kind = EntryKind::RegularFile;
    } else if (writing && request.create && request.exclusive) {
        result.status = FileStatus::Exists;
        return result;
    }
    if (kind != EntryKind::RegularFile) {
        result.status = FileStatus::WrongKind;
        return result;
    }
    const WriteMode mode =
        request.truncate ? WriteMode::Truncate : (request.append ? WriteMode::Append : WriteMode::Overwrite);
    result.value = file.openHandle(request.access, mode);
    if (!result.value) result.status = FileStatus::Refused;
    return result;
}

FileResult<Done> FileService::makeFolder(PathArgument path) const {
    ResolvedPath resolved;
    auto result = locate<Done>(path, PERM_CREATE_DIR, resolved);
    if (!result.ok()) return result;
    LocalFile folder(resolved.localPath);
    if (folder.isDirectory())
        result.status = FileStatus::Exists;
    else if (!folder.makeDirectory())
        result.status = FileStatus::Refused;
    return result;
}

FileResult<Done> FileService::removeEntry(PathArgument path, std::uint32_t right, EntryKind kind) const {
    ResolvedPath resolved;
    auto result = locate<Done>(path, right, resolved);
    if (!result.ok()) return result;
    LocalFile entry(resolved.localPath);
    const bool folder = kind == EntryKind::Directory;
    if (!(folder ? entry.isDirectory() : entry.isFile()))
        result.status = FileStatus::NotFound;
    else if (!(folder ? entry.removeDirectory() : entry.removeFile()))
        result.status = FileStatus::Refused;
    return result;
}

FileResult<Done> FileService::removeFolder(PathArgument path) const {
    return removeEntry(path, PERM_REMOVE_DIR, EntryKind::Directory);
}

FileResult<Done> FileService::removeFile(PathArgument path) const {
    return removeEntry(path, PERM_REMOVE_FILE, EntryKind::RegularFile);
}

FileResult<Done> FileService::checkRenameSource(PathArgument path) const {
    ResolvedPath resolved;
    auto result = locate<Done>(path, PERM_WRITE_FILE, resolved);
    if (!result.ok()) return result;
    LocalFile source(resolved.localPath);
    if (!source.isDirectory() && !source.isFile()) result.status = FileStatus::NotFound;
    return result;
}

FileResult<RenameSide> FileService::rename(PathArgument from, PathArgument to) const {
    ResolvedPath source;
    auto result = locate<RenameSide>(from, PERM_WRITE_FILE, source);
    result.value = RenameSide::Source;
    if (!result.ok()) return result;
    LocalFile origin(source.localPath);
    if (!origin.isFile() && !origin.isDirectory()) {
        result.status = FileStatus::NotFound;
        return result;
    }
    ResolvedPath target;
    auto targetResult = locate<RenameSide>(to, 0, target);
    targetResult.value = RenameSide::Target;
    if (!targetResult.ok()) return targetResult;
    LocalFile destination(target.localPath);
    if (destination.isFile() || destination.isDirectory()) {
        targetResult.status = FileStatus::Exists;
        return targetResult;
    }
    // renameTo never replaces, so a target made meanwhile by another client fails here.
    if (!origin.renameTo(destination)) targetResult.status = FileStatus::Refused;
    return targetResult;
}

FileResult<RenameSide> FileService::replaceByRename(PathArgument from, PathArgument to) const {
    ResolvedPath source;
    auto result = locate<RenameSide>(from, PERM_WRITE_FILE, source);
    result.value = RenameSide::Source;
    if (!result.ok()) return result;
    LocalFile origin(source.localPath);
    if (!origin.isFile()) {
        result.status = FileStatus::NotFound;
        return result;
    }
    ResolvedPath target;
    auto targetResult = locate<RenameSide>(to, PERM_WRITE_FILE, target);
    targetResult.value = RenameSide::Target;
    if (!targetResult.ok()) return targetResult;
    LocalFile destination(target.localPath);
    const EntryKind kind = destination.info().kind;
    if (kind != EntryKind::None && kind != EntryKind::RegularFile)
        targetResult.status = FileStatus::WrongKind;
    else if (!origin.renameReplacing(destination))
        targetResult.status = FileStatus::Refused;
    return targetResult;
}

FileResult<Done> FileService::setModificationTime(PathArgument path, std::time_t lastWrite) const {
    ResolvedPath resolved;
    auto result = locate<Done>(path, PERM_WRITE_FILE, resolved);
    if (!result.ok()) return result;
    const EntryKind kind = LocalFile(resolved.localPath).info().kind;
    if (kind != EntryKind::RegularFile)
        result.status = kind == EntryKind::None ? FileStatus::NotFound : FileStatus::WrongKind;
    else if (!corvel::setModificationTime(resolved.localPath, lastWrite))
        result.status = FileStatus::Refused;
    return result;
}

}  // namespace corvel
