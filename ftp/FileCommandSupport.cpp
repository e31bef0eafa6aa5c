// The refusals every file command shares.
#include "ftp/FtpReplies.h"
#include "ftp/FtpSession.h"

namespace corvel {

bool FtpSession::replyIfRefused(FileStatus status, const std::string& normalised, const char* escapedSuffix) {
    switch (status) {
        case FileStatus::NoRight: reply(replies::kPermissionDenied); return true;
        case FileStatus::InvalidPath: reply(replies::kNoSuchFile); return true;
        case FileStatus::Escaped: reply(replies::pathRefused(normalised, escapedSuffix)); return true;
        default: return false;
    }
}

}  // namespace corvel
