// The certificate of a run with TLS on (<tls>, <webtls>): the configured files, or a
// self-signed certificate made on first start, loaded once and its fingerprint logged.
#pragma once

#include <memory>
#include <string>

#include "server/ServerSettings.h"

namespace corvel {

class LogSink;
class TlsServer;

// Where the certificate and key of these settings are: <tlscert> and <tlskey>,
// relative to the program directory unless absolute, else the default names there.
std::string certificatePathOf(const ServerSettings& settings, const std::string& programDirectory);
std::string keyPathOf(const ServerSettings& settings, const std::string& programDirectory);

// nullptr with an empty *error when neither FTP nor web TLS is on. Otherwise the
// loaded context; when neither file is configured and the default files do not
// exist, a self-signed certificate for hostName is made first. nullptr with *error
// for people when something cannot be read, made or does not match.
std::shared_ptr<TlsServer> prepareTls(const ServerSettings& settings, const std::string& programDirectory,
                                            const std::string& hostName, LogSink& log, std::string* error);

// Loads the pair of settings again into tls (for new connections; live ones keep
// theirs) and logs the new fingerprint, or refuses with the reason, logged and in
// *error, keeping the pair in use. Without TLS on (tls null) it is refused too.
bool reloadTls(TlsServer* tls, const ServerSettings& settings, const std::string& programDirectory, LogSink& log,
               std::string* error);

}  // namespace corvel
