// CWD, CDUP, PWD, MKD, RMD, DELE, RNFR and RNTO.
#include "common/Permissions.h"
#include "ftp/FtpSession.h"
#include "files/LocalFile.h"
#include "files/VirtualPath.h"

namespace corvel {

void FtpSession::handleCwd(const std::string& argument) {
    auto path = resolveOrReply(argument, '/', ":No such file or directory.");
    if (!path) return;
    if (LocalFile(path->localPath).isDirectory()) {
        currentDirectory_ = path->normalised;
        reply("250 Directory changed to " + currentDirectory_ + "\r\n");
    } else {
        reply("550 /" + path->normalised + ":No such directory.\r\n");
    }
}

void FtpSession::handleCdup(const std::string&) {
    VirtualPath current = VirtualPath::parse(currentDirectory_, '/');
    if (!current.popLast()) {
        reply("550 No such directory.\r\n");
        return;
    }
    currentDirectory_ = current.joined();
    reply("250 Directory changed to " + currentDirectory_ + "\r\n");
}

void FtpSession::handlePwd(const std::string&) {
    reply("257 \"" + currentDirectory_ + "/\" is current directory.\r\n");
}

void FtpSession::handleMkd(const std::string& argument) {
    if (!hasPrivilege(PERM_CREATE_DIR)) return;
    auto path = resolveOrReply(argument, '/', ":No such file or directory.");
    if (!path) return;
    LocalFile directory(path->localPath);
    if (directory.isDirectory())
        reply("550 /" + path->normalised + ":failed to create.\r\n");
    else if (!directory.makeDirectory())
        reply("550 Permission denied.\r\n");
    else
        reply("257 \"" + argument + "\" directory created.\r\n");
}

void FtpSession::handleRmd(const std::string& argument) {
    if (!hasPrivilege(PERM_REMOVE_DIR)) return;
    auto path = resolveOrReply(argument, '/', ":No such file or directory1.");
    if (!path) return;
    LocalFile directory(path->localPath);
    if (!directory.isDirectory())
        reply("550 /" + path->normalised + ":No such file or directory2.\r\n");
    else if (!directory.removeDirectory())
        reply("550 Permission denied.\r\n");
    else
        reply("250 command ok \r\n");
}

void FtpSession::handleDele(const std::string& argument) {
    if (!hasPrivilege(PERM_REMOVE_FILE)) return;
    auto path = resolveOrReply(argument, '/', ":No such file or directory.");
    if (!path) return;
    LocalFile file(path->localPath);
    if (!file.isFile())
        reply("550 /" + path->normalised + ":No such file or directory.\r\n");
    else if (!file.removeFile())
        reply("550 Permission denied.\r\n");
    else
        reply("250 command ok \r\n");
}

void FtpSession::handleRnfr(const std::string& argument) {
    if (!hasPrivilege(PERM_WRITE_FILE)) return;
    auto path = resolveOrReply(argument, '/', ":No such file or directory.1");
    if (!path) return;
    LocalFile source(path->localPath);
    if (source.isDirectory() || source.isFile()) {
        renameSource_ = argument;
        reply("350 File or directory exists, ready for destination name.\r\n");
    } else {
        reply("550 /" + path->normalised + ":No such file or directory.2\r\n");
    }
}

void FtpSession::handleRnto(const std::string& argument) {
    if (!hasPrivilege(PERM_WRITE_FILE)) return;
    if (renameSource_.empty()) {
        reply("503 Bad sequence of commands.\r\n");
        return;
    }
    ResolvedPath source = resolvePath(homeDirectory_, currentDirectory_, renameSource_, '\\');
    if (source.status != PathStatus::Resolved) {
        reply(source.status == PathStatus::Escaped ? "550 RNTO command failed.1\r\n"
                                                    : "550 No such file or directory\r\n");
        return;
    }
    LocalFile from(source.localPath);
    if (!from.isFile() && !from.isDirectory()) {
        reply("550 RNTO command failed.2\r\n");
        return;
    }
    ResolvedPath target = resolvePath(homeDirectory_, currentDirectory_, argument, '\\');
    if (target.status != PathStatus::Resolved) {
        reply(target.status == PathStatus::Escaped ? "550 RNTO command failed.3\r\n"
                                                    : "550 No such file or directory\r\n");
        return;
    }
    LocalFile to(target.localPath);
    if (to.isFile() || to.isDirectory()) {
        reply("550 RNTO command failed.5\r\n");
        return;
    }
    // renameTo never replaces, so a target created meanwhile by another client fails here.
    reply(from.renameTo(to) ? "250 RNTO command successful.\r\n" : "550 RNTO command failed.4\r\n");
}

}  // namespace corvel
