// The commands of the <ftpext> extension.
#include "ftp/FtpReplies.h"
#include "ftp/FtpSession.h"

namespace corvel {

void FtpSession::appendExtensionFeatures(std::vector<std::string>&) const {
    if (!featureEnabled(Feature::Extensions)) return;
}

}  // namespace corvel
