// The steps every file command shares: privilege check and path resolution.
#include "ftp/FtpReplies.h"
#include "ftp/FtpSession.h"

namespace corvel {

bool FtpSession::hasPrivilege(std::uint32_t bit) {
    if (privileges_ & bit) return true;
    reply(replies::kPermissionDenied);
    return false;
}

std::optional<ResolvedPath> FtpSession::resolveOrReply(const std::string& argument, char separator,
                                                        const char* escapedSuffix) {
    ResolvedPath resolved = resolvePath(homeDirectory_, currentDirectory_, argument, separator);
    switch (resolved.status) {
        case PathStatus::Invalid:
            reply(replies::kNoSuchFile);
            return std::nullopt;
        case PathStatus::Escaped:
            // SECURITY: a path that climbs above the root touches nothing on disk.
            reply(replies::pathRefused(resolved.normalised, escapedSuffix));
            return std::nullopt;
        case PathStatus::Resolved:
            break;
    }
    return resolved;
}

}  // namespace corvel
