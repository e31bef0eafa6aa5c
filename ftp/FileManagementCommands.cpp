// CWD, CDUP, PWD, MKD, RMD, DELE, RNFR and RNTO.
#include <utility>

#include "common/Permissions.h"
#include "ftp/FtpReplies.h"
#include "ftp/FtpSession.h"
#include "files/LocalFile.h"
#include "files/VirtualPath.h"

namespace corvel {

void FtpSession::handleCwd(const std::string& argument) {
    auto path = resolveOrReply(argument, '/', ":No such file or directory.");
    if (!path) return;
    if (LocalFile(path->localPath).isDirectory()) {
        currentDirectory_ = path->normalised;
        reply(replies::directoryChanged(dialect_, currentDirectory_));
    } else {
        reply(replies::pathRefused(path->normalised, ":No such directory."));
    }
}

void FtpSession::handleCdup(const std::string&) {
    VirtualPath current = VirtualPath::parse(currentDirectory_, '/');
    if (!current.popLast()) {
        reply(replies::kNoSuchDirectory);
        return;
    }
    currentDirectory_ = current.joined();
    reply(replies::directoryChanged(dialect_, currentDirectory_));
}

void FtpSession::handlePwd(const std::string&) {
    reply(replies::currentDirectory(dialect_, currentDirectory_));
}

void FtpSession::handleMkd(const std::string& argument) {
    if (!hasPrivilege(PERM_CREATE_DIR)) return;
    auto path = resolveOrReply(argument, '/', ":No such file or directory.");
    if (!path) return;
    LocalFile directory(path->localPath);
    if (directory.isDirectory())
        reply(replies::pathRefused(path->normalised, ":failed to create."));
    else if (!directory.makeDirectory())
        reply(replies::kPermissionDenied);
    else
        reply(replies::directoryCreated(dialect_, argument, path->normalised));
}

void FtpSession::handleRmd(const std::string& argument) {
    if (!hasPrivilege(PERM_REMOVE_DIR)) return;
    auto path = resolveOrReply(argument, '/', ":No such file or directory1.");
    if (!path) return;
    LocalFile directory(path->localPath);
    if (!directory.isDirectory())
        reply(replies::pathRefused(path->normalised, ":No such file or directory2."));
    else if (!directory.removeDirectory())
        reply(replies::kPermissionDenied);
    else
        reply(texts().fileActionDone);
}

void FtpSession::handleDele(const std::string& argument) {
    if (!hasPrivilege(PERM_REMOVE_FILE)) return;
    auto path = resolveOrReply(argument, '/', ":No such file or directory.");
    if (!path) return;
    LocalFile file(path->localPath);
    if (!file.isFile())
        reply(replies::pathRefused(path->normalised, ":No such file or directory."));
    else if (!file.removeFile())
        reply(replies::kPermissionDenied);
    else
        reply(texts().fileActionDone);
}

void FtpSession::handleRnfr(const std::string& argument) {
    if (!hasPrivilege(PERM_WRITE_FILE)) return;
    auto path = resolveOrReply(argument, '/', ":No such file or directory.1");
    if (!path) return;
    LocalFile source(path->localPath);
    if (source.isDirectory() || source.isFile()) {
        renameSource_ = argument;
        reply(replies::kReadyForDestination);
    } else {
        reply(replies::pathRefused(path->normalised, ":No such file or directory.2"));
    }
}

void FtpSession::handleRnto(const std::string& argument) {
    // RFC 959: RNTO completes the RNFR just before it. The standard dialect forgets
    // the source after one RNTO, whatever its outcome; the designed one keeps it.
    const std::string renameSource = standard() ? std::exchange(renameSource_, {}) : renameSource_;
    if (!hasPrivilege(PERM_WRITE_FILE)) return;
    if (renameSource.empty()) {
        reply(replies::kBadSequence);
        return;
    }
    ResolvedPath source = resolvePath(homeDirectory_, currentDirectory_, renameSource, '\\');
    if (source.status != PathStatus::Resolved) {
        reply(source.status == PathStatus::Escaped ? replies::kRenameFailedSourceEscapes
                                                    : replies::kNoSuchFile);
        return;
    }
    LocalFile from(source.localPath);
    if (!from.isFile() && !from.isDirectory()) {
        reply(replies::kRenameFailedNoSource);
        return;
    }
    ResolvedPath target = resolvePath(homeDirectory_, currentDirectory_, argument, '\\');
    if (target.status != PathStatus::Resolved) {
        reply(target.status == PathStatus::Escaped ? replies::kRenameFailedTargetEscapes
                                                    : replies::kNoSuchFile);
        return;
    }
    LocalFile to(target.localPath);
    if (to.isFile() || to.isDirectory()) {
        reply(replies::kRenameFailedTargetExists);
        return;
    }
    // renameTo never replaces, so a target created meanwhile by another client fails here.
    reply(from.renameTo(to) ? replies::kRenameSuccessful : replies::kRenameFailedSystem);
}

}  // namespace corvel
