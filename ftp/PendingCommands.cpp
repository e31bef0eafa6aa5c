// File commands not served yet: they answer 502 until their handlers land.
#include "ftp/FtpSession.h"

namespace corvel {

namespace {
constexpr char kNotImplemented[] = "502 Command not implemented.\r\n";
}

void FtpSession::handlePasv(const std::string&) { reply(kNotImplemented); }
void FtpSession::handlePort(const std::string&) { reply(kNotImplemented); }
void FtpSession::handleList(const std::string&) { reply(kNotImplemented); }
void FtpSession::handleRetr(const std::string&) { reply(kNotImplemented); }
void FtpSession::handleStor(const std::string&) { reply(kNotImplemented); }
void FtpSession::handleAppe(const std::string&) { reply(kNotImplemented); }
void FtpSession::handleRest(const std::string&) { reply(kNotImplemented); }
void FtpSession::handleSize(const std::string&) { reply(kNotImplemented); }
void FtpSession::handleAbor(const std::string&) { reply(kNotImplemented); }
void FtpSession::handleCwd(const std::string&) { reply(kNotImplemented); }
void FtpSession::handleCdup(const std::string&) { reply(kNotImplemented); }
void FtpSession::handlePwd(const std::string&) { reply(kNotImplemented); }
void FtpSession::handleMkd(const std::string&) { reply(kNotImplemented); }
void FtpSession::handleRmd(const std::string&) { reply(kNotImplemented); }
void FtpSession::handleDele(const std::string&) { reply(kNotImplemented); }
void FtpSession::handleRnfr(const std::string&) { reply(kNotImplemented); }
void FtpSession::handleRnto(const std::string&) { reply(kNotImplemented); }

}  // namespace corvel
