// File names and built-in default documents of the three XML files (and the
// name of the fourth, the web client's share links).
#pragma once

#include <string>

namespace corvel {

inline constexpr char kSettingsFileName[] = "ftpconfig.xml";
inline constexpr char kUsersFileName[] = "ftpusers.xml";
inline constexpr char kAccessFileName[] = "ftpaccess.xml";
// The web client's share links (<webapp>yes), beside the three designed files.
inline constexpr char kSharesFileName[] = "ftpshares.xml";
inline constexpr char kAnonymousDirectoryName[] = "anonymous";

inline constexpr char kDefaultSettingsDocument[] =
    "<config><listenip></listenip><ftpport>21</ftpport><httpport>8080</httpport><maxconn>32</maxconn>"
    "<pasvmode>yes</pasvmode><welcomemsg>Welcome to my ftp server</welcomemsg></config>";

inline constexpr char kDefaultAccessDocument[] =
    "<access>\r\n  <iptable type=\"REJECT\">\r\n  </iptable>\r\n</access>\r\n";

// The anonymous account's stored password: not a digest, so no typed password can
// match it; anonymous logs in without a password check while it is enabled.
inline constexpr char kAnonymousPasswordPlaceholder[] = "anonymous";

// The default users document for a program directory (ending in '/').
std::string defaultUsersDocument(const std::string& programDirectory);

}  // namespace corvel
