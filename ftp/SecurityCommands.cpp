// AUTH, PBSZ and PROT (FTP over TLS, RFC 4217), FEAT, and the protection of data
// connections.
#include "common/AsciiText.h"
#include "ftp/FtpReplies.h"
#include "ftp/FtpSession.h"

namespace corvel {
void FtpSession::handleAuth(const std::string& argument) {
    if (controlProtected_) {
        reply(replies::kAlreadyProtected);
        return;
    }
    const std::string mechanism = asciiUpper(argument);
    if (mechanism != "TLS" && mechanism != "SSL" && mechanism != "TLS-C" && mechanism != "TLS-P") {
        reply(replies::kAuthMechanismUnknown);
        return;
    }
    reply(replies::kAuthProceed);
    // SECURITY: whatever arrived in clear text behind AUTH (injected by someone on
    // the path) is never executed once the connection is protected.
    commands_.clear();
    waitingCommands_.clear();
    protection_.token = newTlsSessionToken();
    if (!control_.isOpen() ||
        context_.tls->accept(control_, protection_.token, TlsRole::Control) != TlsAccept::Done) {
        control_.close();  // a failed or stalled handshake ends this session only
        return;
    }
    controlProtected_ = true;
    // A new security context wants a new login (RFC 4217, 4).
    loginState_ = LoginState::None;
    files_.revokeRights();
    userName_.clear();
    password_.clear();
    // The older forms ask for protected data as well.
    if (mechanism == "SSL" || mechanism == "TLS-P") {
        protectionBufferSizeSet_ = true;
        protection_.protectedData = true;
    }
}

void FtpSession::handlePbsz(const std::string&) {
    if (!controlProtected_) {
        reply(replies::kNeedsAuthFirst);
        return;
    }
    // TLS protects a stream, not blocks: the only size is 0, whatever was asked.
    protectionBufferSizeSet_ = true;
    reply(replies::kPbszZero);
}

void FtpSession::handleProt(const std::string& argument) {
    if (!controlProtected_) {
        reply(replies::kNeedsAuthFirst);
        return;
    }
    if (!protectionBufferSizeSet_) {
        reply(replies::kPbszFirst);
        return;
    }
    const std::string level = asciiUpper(argument);
    if (level == "P") {
        protection_.protectedData = true;
        reply(replies::kProtPrivate);
    } else if (level == "C") {
        if (context_.tlsMode == TlsMode::Required) {
            reply(replies::kProtClearRefused);
            return;
        }
        protection_.protectedData = false;
        reply(replies::kProtClear);
    } else if (level == "S" || level == "E") {
        reply(replies::kProtUnsupported);
    } else {
        reply(replies::kNotImplementedForParameter);
    }
}

void FtpSession::handleFeat(const std::string&) {
    std::vector<std::string> lines;
    if (featureEnabled(Feature::Tls)) {
        lines.emplace_back("AUTH TLS");
        lines.emplace_back("PBSZ");
        lines.emplace_back("PROT");
    }
    appendExtensionFeatures(lines);
    reply(replies::features(lines));
}

}  // namespace corvel
