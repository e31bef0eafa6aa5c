// CWD, CDUP, PWD, MKD, RMD, DELE, RNFR and RNTO.
#include <utility>

#include "ftp/FtpReplies.h"
#include "ftp/FtpSession.h"

namespace corvel {

void FtpSession::handleCwd(const std::string& argument) {
    const auto result = files_.changeFolder({argument, '/'});
    if (replyIfRefused(result, ":No such file or directory.")) return;
    if (result.ok())
        reply(replies::directoryChanged(dialect_, files_.currentFolder()));
    else
        reply(replies::pathRefused(result.normalised, ":No such directory."));
}

void FtpSession::handleCdup(const std::string&) {
    if (!files_.changeToParent()) {
        reply(replies::kNoSuchDirectory);
        return;
    }
    reply(replies::directoryChanged(dialect_, files_.currentFolder()));
}

void FtpSession::handlePwd(const std::string&) {
    reply(replies::currentDirectory(dialect_, files_.currentFolder()));
}

void FtpSession::handleMkd(const std::string& argument) {
    const auto result = files_.makeFolder({argument, '/'});
    if (replyIfRefused(result, ":No such file or directory.")) return;
    if (result.status == FileStatus::Exists)
        reply(replies::pathRefused(result.normalised, ":failed to create."));
    else if (!result.ok())
        reply(replies::kPermissionDenied);
    else
        reply(replies::directoryCreated(dialect_, argument, result.normalised));
}

void FtpSession::handleRmd(const std::string& argument) {
    const auto result = files_.removeFolder({argument, '/'});
    if (replyIfRefused(result, ":No such file or directory1.")) return;
    if (result.status == FileStatus::NotFound)
        reply(replies::pathRefused(result.normalised, ":No such file or directory2."));
    else if (!result.ok())
        reply(replies::kPermissionDenied);
    else
        reply(texts().fileActionDone);
}

void FtpSession::handleDele(const std::string& argument) {
    const auto result = files_.removeFile({argument, '/'});
    if (replyIfRefused(result, ":No such file or directory.")) return;
    if (result.status == FileStatus::NotFound)
        reply(replies::pathRefused(result.normalised, ":No such file or directory."));
    else if (!result.ok())
        reply(replies::kPermissionDenied);
    else
        reply(texts().fileActionDone);
}

void FtpSession::handleRnfr(const std::string& argument) {
    const auto result = files_.checkRenameSource({argument, '/'});
    if (replyIfRefused(result, ":No such file or directory.1")) return;
    if (result.ok()) {
        renameSource_ = argument;
        reply(replies::kReadyForDestination);
    } else {
        reply(replies::pathRefused(result.normalised, ":No such file or directory.2"));
    }
}

void FtpSession::handleRnto(const std::string& argument) {
    // RFC 959: RNTO completes the RNFR just before it. The standard dialect forgets
    // the source after one RNTO, whatever its outcome; the designed one keeps it.
    const std::string renameSource = standard() ? std::exchange(renameSource_, {}) : renameSource_;
    if (!files_.mayWrite()) {
        reply(replies::kPermissionDenied);
        return;
    }
    if (renameSource.empty()) {
        reply(replies::kBadSequence);
        return;
    }
    const auto result = files_.rename({renameSource, '\\'}, {argument, '\\'});
    const bool source = result.value == RenameSide::Source;
    switch (result.status) {
        case FileStatus::Ok: reply(replies::kRenameSuccessful); return;
        case FileStatus::Escaped:
            reply(source ? replies::kRenameFailedSourceEscapes : replies::kRenameFailedTargetEscapes);
            return;
        case FileStatus::NotFound: reply(replies::kRenameFailedNoSource); return;
        case FileStatus::Exists: reply(replies::kRenameFailedTargetExists); return;
        case FileStatus::Refused: reply(replies::kRenameFailedSystem); return;
        case FileStatus::NoRight: reply(replies::kPermissionDenied); return;
        default: reply(replies::kNoSuchFile); return;
    }
}

}  // namespace corvel
