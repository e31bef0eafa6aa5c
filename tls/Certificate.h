// The server's certificate files: a self-signed certificate made on first start when
// none is configured, and the fingerprint people compare with what clients show.
#pragma once

#include <optional>
#include <string>

namespace corvel {

// Default names of the made certificate and its key, in the program directory.
inline constexpr char kDefaultCertificateFile[] = "corveld-cert.pem";
inline constexpr char kDefaultKeyFile[] = "corveld-key.pem";
// Validity of a made certificate.
constexpr long kSelfSignedValidityDays = 3650;

// The SHA-256 fingerprint of the first certificate in a PEM file, as clients show it
// ("AB:CD:...", 32 pairs); nullopt, with *error, when it cannot be read.
std::optional<std::string> certificateFingerprint(const std::string& pemFile, std::string* error = nullptr);

// Makes a key (EC P-256) and a self-signed certificate for hostName (subject CN and
// subjectAltName DNS, plus "localhost"), and writes them: the key 0600, the
// certificate 0644, each atomically. false, with *error, when anything fails (then
// neither file was replaced).
bool createSelfSignedCertificate(const std::string& certificateFile, const std::string& keyFile,
                                 const std::string& hostName, std::string* error = nullptr);

}  // namespace corvel
