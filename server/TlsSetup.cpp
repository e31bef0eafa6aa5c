#include "server/TlsSetup.h"

#include "platform/AtomicFile.h"
#include "platform/SystemLog.h"
#include "tls/Certificate.h"
#include "tls/CertificateStatus.h"
#include "tls/TlsServer.h"

namespace corvel {

std::string certificatePathOf(const ServerSettings& settings, const std::string& programDirectory) {
    return tlsFilePath(settings.tlsCertificate, kDefaultCertificateFile, programDirectory);
}

std::string keyPathOf(const ServerSettings& settings, const std::string& programDirectory) {
    return tlsFilePath(settings.tlsKey, kDefaultKeyFile, programDirectory);
}

std::shared_ptr<TlsServer> prepareTls(const ServerSettings& settings, const std::string& programDirectory,
                                            const std::string& hostName, LogSink& log, std::string* error) {
    error->clear();
    if (settings.tls == TlsMode::Off && !settings.webTls) return nullptr;
    const std::string certificate = certificatePathOf(settings, programDirectory);
    const std::string key = keyPathOf(settings, programDirectory);
    const bool configured = !settings.tlsCertificate.empty() || !settings.tlsKey.empty();
    if (!configured && !pathExists(certificate) && !pathExists(key)) {
        if (!createSelfSignedCertificate(certificate, key, hostName, error)) return nullptr;
        log.write(LogSeverity::Information, "made a self-signed TLS certificate for " + hostName + ": " + certificate +
                                                " (key " + key + ")");
    }
    std::optional<TlsServer> server = TlsServer::load(certificate, key, error);
    if (!server) return nullptr;
    std::optional<std::string> fingerprint = certificateFingerprint(certificate);
    log.write(LogSeverity::Information,
              "TLS certificate " + certificate + ", SHA-256 fingerprint " + fingerprint.value_or("unknown"));
    return std::make_shared<TlsServer>(std::move(*server));
}

bool reloadTls(TlsServer* tls, const ServerSettings& settings, const std::string& programDirectory, LogSink& log,
               std::string* error) {
    if (!tls) {
        *error = "TLS is off (<tls> and <webtls>), so there is no certificate to reload";
    } else {
        const std::string certificate = certificatePathOf(settings, programDirectory);
        if (tls->replacePair(certificate, keyPathOf(settings, programDirectory), error)) {
            log.write(LogSeverity::Information, "TLS certificate reloaded for new connections: " + certificate +
                                                    ", SHA-256 fingerprint " +
                                                    certificateFingerprint(certificate).value_or("unknown"));
            return true;
        }
    }
    log.write(LogSeverity::Error, "TLS certificate reload refused: " + *error + "; the certificate in use stays");
    return false;
}

}  // namespace corvel
