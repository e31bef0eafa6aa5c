#include "tls/CertificateStatus.h"

#include "platform/AtomicFile.h"
#include "tls/Certificate.h"

namespace corvel {

std::string tlsFilePath(const std::string& configured, const char* defaultName, const std::string& programDirectory) {
    const std::string name = configured.empty() ? std::string(defaultName) : configured;
    return name.front() == '/' ? name : programDirectory + name;
}

CertificateStatus certificateStatus(const std::string& configuredCertificate, const std::string& configuredKey,
                                    const std::string& programDirectory) {
    CertificateStatus status;
    status.certificateFile = tlsFilePath(configuredCertificate, kDefaultCertificateFile, programDirectory);
    status.keyFile = tlsFilePath(configuredKey, kDefaultKeyFile, programDirectory);
    // The rule of the server's start: it makes the pair only when neither is configured nor there.
    const bool configured = !configuredCertificate.empty() || !configuredKey.empty();
    if (!configured && !pathExists(status.certificateFile) && !pathExists(status.keyFile)) {
        status.madeOnFirstStart = true;
        return status;
    }
    status.fingerprint = certificateFingerprint(status.certificateFile, &status.error);
    return status;
}

}  // namespace corvel
