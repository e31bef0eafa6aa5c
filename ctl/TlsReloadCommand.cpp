#include "ctl/TlsReloadCommand.h"

#include "config/ExtensionSettings.h"
#include "config/SettingsFile.h"
#include "admin/TlsReloadRequest.h"
#include "common/XmlFiles.h"
#include "tls/Certificate.h"
#include "tls/CertificateStatus.h"
#include "tls/TlsServer.h"

namespace corvel {

int reloadTlsPair(const CommandContext& context) {
    // The files as ftpconfig.xml names them, as the server started with them.
    const SettingsFile settings = SettingsFile::read(context.path(kSettingsFileName));
    const std::string certificate =
        tlsFilePath(settings.text("tlscert").value_or(""), kDefaultCertificateFile, context.programDirectory);
    const std::string key =
        tlsFilePath(settings.text("tlskey").value_or(""), kDefaultKeyFile, context.programDirectory);
    switch (requestTlsReload()) {
        case TlsReloadOutcome::Reloaded:
            context.io.out << "The running server serves " << certificate << " (SHA-256 fingerprint "
                           << certificateFingerprint(certificate).value_or("unknown")
                           << ") to new connections; live ones keep theirs.\n";
            return kExitDone;
        case TlsReloadOutcome::Refused: {
            // The block has room for the answer, not for its reason: the same check
            // here names it, unless this account cannot read what the server can.
            std::string why;
            if (!tlsIsOn(settings))
                why = "TLS is off (<tls>, <webtls>), so there is no certificate to reload";
            else if (TlsServer::load(certificate, key, &why))
                why = "it could not load the pair (its reason is in the system log)";
            return context.refuse("the running server refused the certificate: " + why + "; it keeps the one in use");
        }
        case TlsReloadOutcome::NoAnswer:
            return context.refuse("the running server did not answer within " +
                                  std::to_string(kTlsReloadAnswerWait.count() / 1000) + " seconds");
        case TlsReloadOutcome::NoServer:
            return context.refuse("no server is running");
        case TlsReloadOutcome::TimedOut:
            break;
    }
    return context.refuse("the running server's control block stayed locked for " +
                          std::to_string(kBlockMutexWaitMs / 1000) + " seconds; nothing was requested");
}

}  // namespace corvel
