// Every reply the FTP session sends, in one place: the fixed texts as constants and
// the ones with a variable part as small functions that build them whole.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvel::replies {

// Fixed replies.
inline constexpr char kCommandOkay[] = "200 Command okay\r\n";
inline constexpr char kPortSuccessful[] = "200 PORT Command successful.\r\n";
inline constexpr char kHelp[] = "214 help info\r\n";
inline constexpr char kSystem[] = "215 UNIX Type: L8\r\n";
inline constexpr char kTypeAscii[] = "220 Type set to A\r\n";
inline constexpr char kTypeBinary[] = "220 Type set to I\r\n";
inline constexpr char kBye[] = "221 bye\r\n";
inline constexpr char kTransferComplete[] = "226 Transfer complete.\r\n";
inline constexpr char kCommandOk[] = "250 command ok \r\n";  // the blank before CR LF is part of it
inline constexpr char kRenameSuccessful[] = "250 RNTO command successful.\r\n";
inline constexpr char kUserOkay[] = "331 User name okay, need password.\r\n";
inline constexpr char kReadyForDestination[] = "350 File or directory exists, ready for destination name.\r\n";
inline constexpr char kListingOpening[] = "150 Opening ASCII mode data connection\r\n";
inline constexpr char kNoDataConnection[] = "425 Can't open data connection.\r\n";
inline constexpr char kTransferAborted[] = "426 Connection closed; Transfer aborted\r\n";
inline constexpr char kSyntaxError[] = "501 Syntax error in parameters or arguments.\r\n";
inline constexpr char kBadSequence[] = "503 Bad sequence of commands.\r\n";
inline constexpr char kNotImplementedForParameter[] = "504 Command not implemented for that parameter.\r\n";
inline constexpr char kLoginIncorrect[] = "530 Login incorrect.\r\n";
inline constexpr char kNotLoggedIn[] = "530 Not logged in.\r\n";
inline constexpr char kPermissionDenied[] = "550 Permission denied.\r\n";
inline constexpr char kNoSuchFile[] = "550 No such file or directory\r\n";
inline constexpr char kNoSuchDirectory[] = "550 No such directory.\r\n";
inline constexpr char kTooManyConnections[] = "550 Too Many Connection\r\n";
// RNTO's numbered failures, by the step that failed.
inline constexpr char kRenameFailedSourceEscapes[] = "550 RNTO command failed.1\r\n";
inline constexpr char kRenameFailedNoSource[] = "550 RNTO command failed.2\r\n";
inline constexpr char kRenameFailedTargetEscapes[] = "550 RNTO command failed.3\r\n";
inline constexpr char kRenameFailedSystem[] = "550 RNTO command failed.4\r\n";
inline constexpr char kRenameFailedTargetExists[] = "550 RNTO command failed.5\r\n";

// Extended data connections (RFC 2428).
inline constexpr char kEpsvAll[] = "200 EPSV ALL ok.\r\n";
inline constexpr char kEprtSuccessful[] = "200 EPRT command successful.\r\n";

// TLS (RFC 4217).
inline constexpr char kAuthProceed[] = "234 Proceed with negotiation.\r\n";
inline constexpr char kAlreadyProtected[] = "503 The control connection is protected already.\r\n";
inline constexpr char kAuthMechanismUnknown[] = "504 Security mechanism not understood.\r\n";
inline constexpr char kNeedsAuthFirst[] = "503 Send AUTH TLS first.\r\n";
inline constexpr char kPbszFirst[] = "503 Send PBSZ first.\r\n";
inline constexpr char kPbszZero[] = "200 PBSZ=0\r\n";
inline constexpr char kProtPrivate[] = "200 Protection level set to Private.\r\n";
inline constexpr char kProtClear[] = "200 Protection level set to Clear.\r\n";
inline constexpr char kProtClearRefused[] = "534 Clear data connections are refused here; use PROT P.\r\n";
inline constexpr char kProtUnsupported[] = "536 Protection level not supported.\r\n";
inline constexpr char kTlsRequired[] = "530 This server requires TLS: use AUTH TLS first.\r\n";
inline constexpr char kDataMustBeProtected[] = "521 Data connections must be protected: use PROT P.\r\n";
inline constexpr char kDataTlsFailed[] = "522 TLS negotiation on the data connection failed.\r\n";
inline constexpr char kDataSessionNotResumed[] =
    "522 SSL connection failed: session reuse required (the data connection must resume the control "
    "connection's TLS session).\r\n";

// The <ftpext> commands (RFC 2389, 2640, 3659 and MFMT).
inline constexpr char kUtf8On[] = "200 UTF8 set to on\r\n";
inline constexpr char kOptionNotUnderstood[] = "501 Option not understood.\r\n";
inline constexpr char kBadTimeValue[] = "501 The time must be YYYYMMDDHHMMSS (UTC).\r\n";
inline constexpr char kTimeNotShown[] = "550 The modification time cannot be given as YYYYMMDDHHMMSS.\r\n";
inline constexpr char kModifyTimeFailed[] = "550 Could not change the modification time.\r\n";
// The FEAT lines of <ftpext>, in this order after the TLS ones. EPRT and EPSV are
// handled by the data connection commands.
inline constexpr const char* kExtensionFeatures[] = {
    "EPRT", "EPSV", "MDTM", "MFMT", "MLST type*;size*;modify*;perm*;unix.mode*;", "SIZE", "TVFS",
    "UTF8"};

// What follows "550 /" + the normalised path in a command's path refusal.
inline constexpr char kNoSuchFileSuffix[] = ":No such file or directory.";
inline constexpr char kNoSuchDirectorySuffix[] = ":No such directory.";
inline constexpr char kFailedToCreateSuffix[] = ":failed to create.";
inline constexpr char kNotPlainFileSuffix[] = ":Not a plain file.";
inline constexpr char kRmdEscapedSuffix[] = ":No such file or directory1.";
inline constexpr char kRmdMissingSuffix[] = ":No such file or directory2.";
inline constexpr char kRnfrEscapedSuffix[] = ":No such file or directory.1";
inline constexpr char kRnfrMissingSuffix[] = ":No such file or directory.2";

// The server's name in the greeting.
inline constexpr char kBanner[] = "CorvelFtp Server powered by Tessaly";

// Replies with a variable part.
std::string pathRefused(std::string_view normalised, std::string_view suffix);  // "550 /" + path + suffix
std::string notUnderstood(std::string_view verb);
std::string tooLong(std::string_view firstWord);
std::string greeting(std::string_view welcomeMessage);
std::string loggedIn(std::string_view welcome, long long uptimeSeconds, std::string_view user);
std::string status(std::string_view user, std::string_view peerAddress);
std::string passiveMode(std::string_view address, std::uint16_t port);
// "229 Entering Extended Passive Mode (|||port|)".
std::string extendedPassiveMode(std::uint16_t port);
// 522, naming the protocol to use.
std::string networkProtocolNotSupported(std::string_view use);
std::string restarting(std::string_view argument);
std::string size(long long bytes);
// "150 Opening ASCII|BINARY mode data connection for " + argument, without the line end.
std::string transferOpening(bool ascii, std::string_view argument);
std::string directoryChanged(std::string_view directory);
std::string currentDirectory(std::string_view directory);
std::string directoryCreated(std::string_view argument);
// "213 " + the time of MDTM.
std::string modificationTime(std::string_view machineTime);
// "213 Modify=" + time + "; " + path: MFMT done.
std::string modificationTimeSet(std::string_view machineTime, std::string_view path);
// MLST: "250-Listing " + name, the entry line (a blank, the facts, a blank, name),
// "250 End".
std::string machineListing(std::string_view name, std::string_view facts);
// The FEAT reply (RFC 2389): one feature per line, each after a blank.
std::string features(const std::vector<std::string>& lines);

}  // namespace corvel::replies
