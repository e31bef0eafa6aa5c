// Where the certificate of a run with TLS on is and what the administration tools
// show of it: its SHA-256 fingerprint, or that the server makes it on its first start.
#pragma once

#include <optional>
#include <string>

namespace corvel {

// The file of <tlscert> or <tlskey>: configured is relative to the program directory
// unless absolute; an empty one names the made file (defaultName) there.
// programDirectory ends with '/'.
std::string tlsFilePath(const std::string& configured, const char* defaultName, const std::string& programDirectory);

struct CertificateStatus {
    std::string certificateFile;  // absolute, or as the program directory was given
    std::string keyFile;
    // Neither file is configured and neither exists: the server makes both (self-signed)
    // when it first starts with TLS on.
    bool madeOnFirstStart = false;
    std::optional<std::string> fingerprint;  // "AB:CD:..." when the certificate could be read
    std::string error;                       // why it could not, when it is neither made nor read
};

// What the server would find for these configured texts (empty: not configured).
CertificateStatus certificateStatus(const std::string& configuredCertificate, const std::string& configuredKey,
                                    const std::string& programDirectory);

}  // namespace corvel
