// Every reply the FTP session sends, in one place: the fixed texts as constants and
// the ones with a variable part as small functions that build them whole. Where the
// designed reply departs from the RFCs, both forms live here and the session's
// Dialect picks one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvel::replies {

// Which form of the replies a session speaks: the designed one, or (with <ftpext>yes)
// the one RFC 959, 2389, 2428, 3659 and 4217 give, which strict clients expect.
enum class Dialect { Designed, Standard };

// The fixed replies whose two forms differ.
struct DialectTexts {
    const char* typeAscii;           // TYPE A
    const char* typeBinary;          // TYPE I
    const char* fileActionDone;      // DELE and RMD done
    const char* tooManyConnections;  // maxconn or maxperip reached
    const char* abortIdle;           // ABOR with no transfer running
};
const DialectTexts& textsOf(Dialect dialect);

// Fixed replies.
inline constexpr char kCommandOkay[] = "200 Command okay\r\n";
inline constexpr char kPortSuccessful[] = "200 PORT Command successful.\r\n";
inline constexpr char kHelp[] = "214 help info\r\n";
inline constexpr char kSystem[] = "215 UNIX Type: L8\r\n";
inline constexpr char kBye[] = "221 bye\r\n";
inline constexpr char kTransferComplete[] = "226 Transfer complete.\r\n";
inline constexpr char kRenameSuccessful[] = "250 RNTO command successful.\r\n";
inline constexpr char kUserOkay[] = "331 User name okay, need password.\r\n";
inline constexpr char kReadyForDestination[] = "350 File or directory exists, ready for destination name.\r\n";
inline constexpr char kListingOpening[] = "150 Opening ASCII mode data connection\r\n";
inline constexpr char kNoDataConnection[] = "425 Can't open data connection.\r\n";
inline constexpr char kTransferAborted[] = "426 Connection closed; Transfer aborted\r\n";
// An ABOR that ended a running transfer, after that transfer's 426.
inline constexpr char kAbortDone[] = "226 ABOR command successful.\r\n";
inline constexpr char kSyntaxError[] = "501 Syntax error in parameters or arguments.\r\n";
inline constexpr char kBadSequence[] = "503 Bad sequence of commands.\r\n";
inline constexpr char kNotImplementedForParameter[] = "504 Command not implemented for that parameter.\r\n";
inline constexpr char kLoginIncorrect[] = "530 Login incorrect.\r\n";
inline constexpr char kNotLoggedIn[] = "530 Not logged in.\r\n";
inline constexpr char kPermissionDenied[] = "550 Permission denied.\r\n";
inline constexpr char kNoSuchFile[] = "550 No such file or directory\r\n";
inline constexpr char kNoSuchDirectory[] = "550 No such directory.\r\n";
// A connection that did not log in within the login deadline (RFC 959's 421).
inline constexpr char kLoginTimeout[] = "421 Login timeout, closing control connection.\r\n";
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
// The FEAT lines of <ftpext>, in this order after the TLS ones; mlstFacts is the
// MLST line's list of facts (the selected ones marked "*").
std::vector<std::string> extensionFeatures(std::string_view mlstFacts);
// "200 MLST OPTS" and the facts now selected (RFC 3659, 7.9).
std::string mlstOptions(std::string_view selectedFacts);

// The session rules of the standard dialect (RFC 959, 3659) that the designed one
// does not have.
inline constexpr char kModeStream[] = "200 Mode set to S.\r\n";
inline constexpr char kStructureFile[] = "200 Structure set to F.\r\n";
inline constexpr char kNoAllocationNeeded[] = "202 No storage allocation necessary.\r\n";
inline constexpr char kRestartBeyondEnd[] = "554 Restart offset beyond the end of the file.\r\n";
inline constexpr char kIdleTimeout[] = "421 Idle time-out: closing control connection.\r\n";

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
// Designed: the welcome text inserted unchanged after "220- ", and a last line "220 ".
// Standard: each line of the welcome after "220-", then "220 Service ready ...".
std::string greeting(Dialect dialect, std::string_view welcomeMessage);
// Designed: a "230- " line even for an empty welcome. Standard: one "230-" line for
// each line of the welcome (none for an empty one).
std::string loggedIn(Dialect dialect, std::string_view welcome, long long uptimeSeconds, std::string_view user);
std::string status(std::string_view user, std::string_view peerAddress);
std::string passiveMode(std::string_view address, std::uint16_t port);
// "229 Entering Extended Passive Mode (|||port|)".
std::string extendedPassiveMode(std::uint16_t port);
// 522, naming the protocol to use.
std::string networkProtocolNotSupported(std::string_view use);
std::string restarting(std::string_view argument);
std::string size(long long bytes);
// "150 Opening ASCII|BINARY mode data connection for " + argument, then the size when
// given: designed right after the argument ("a(12 bytes)"), standard after a blank.
std::string transferOpening(Dialect dialect, bool ascii, std::string_view argument,
                            std::optional<long long> size = std::nullopt);
// The directory as the session holds it (no "/" in front; "" or "/" for the root).
// Standard replies name it as an absolute path.
std::string directoryChanged(Dialect dialect, std::string_view directory);
// Designed: the directory between quotes with a "/" after it ("//" at login).
// Standard (RFC 959, appendix II): the absolute path, each '"' in it doubled.
std::string currentDirectory(Dialect dialect, std::string_view directory);
// Designed: the argument as given between quotes. Standard: the absolute path of the
// new directory (normalised: its joined text), quoted as PWD quotes it.
std::string directoryCreated(Dialect dialect, std::string_view argument, std::string_view normalised);
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
