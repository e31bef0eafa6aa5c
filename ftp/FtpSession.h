// One FTP control connection: admission, greeting, command reading and dispatch,
// and the state the command handlers share.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "accounts/LiveSessions.h"
#include "common/LiveCount.h"
#include "ftp/CommandLineAssembler.h"
#include "ftp/DataChannel.h"
#include "ftp/FtpContext.h"
#include "ftp/FtpReplies.h"
#include "ftp/MlsxFacts.h"
#include "ftp/ReplySink.h"
#include "ftp/SessionAdmission.h"
#include "files/FileService.h"
#include "platform/Socket.h"

namespace corvel {

// Owned and driven by its connection's thread alone; touches shared state only
// through the thread-safe tables and the atomic count in FtpContext.
class FtpSession {
public:
    // Checks the access policy, the bans, the limits per address and the connection
    // limit, then greets. A refused
    // session closes its socket; its first readCommand then returns false.
    // clientAddress, when given, is the client's address as a load balancer's PROXY
    // header told it; it then stands for the peer in every check and reply.
    FtpSession(Socket control, const FtpContext& context, std::optional<std::string> clientAddress = std::nullopt);
    // A session without a connection: its replies go to replies (which must outlive
    // it), its commands come through dispatch, and peerAddress stands for the peer.
    // Data connections cannot be made; everything else behaves as on a socket.
    FtpSession(ReplySink& replies, const FtpContext& context, std::string peerAddress);
    virtual ~FtpSession() = default;
    FtpSession(const FtpSession&) = delete;
    FtpSession& operator=(const FtpSession&) = delete;

    // Reads one command line and dispatches it; false ends the session.
    bool readCommand();
    // Splits and routes one received line; false only after QUIT.
    bool dispatch(const std::string& line);

    bool isOpen() const { return control_.isOpen(); }

    // Bytes asked of one receive on the control connection.
    static constexpr std::size_t kReceiveChunkBytes = 4096;
    // A session that fails this many logins is disconnected.
    static constexpr unsigned kMaxFailedLogins = 9;

private:
    struct Command;
    // The control connection as a reply sink.
    class ControlReplies final : public ReplySink {
    public:
        explicit ControlReplies(Socket& control) : control_(control) {}
        void send(std::string_view text) override;

    private:
        Socket& control_;
    };
    // The checks before the greeting (policy, bans, limits), then the greeting.
    void admit();

    // Designed: the 32 verbs. The others belong to an extension and exist only while
    // it is on: Tls (AUTH, PBSZ, PROT), Extensions (<ftpext>), Features (FEAT, with either).
    enum class Feature { Designed, Tls, Extensions, Features };
    const Command* findCommand(const std::string& verb) const;
    bool featureEnabled(Feature feature) const;

    void reply(const std::string& text);
    // The standard dialect (<ftpext>yes): RFC replies and session rules.
    bool standard() const { return dialect_ == replies::Dialect::Standard; }
    const replies::DialectTexts& texts() const { return replies::textsOf(dialect_); }
    void sendGreeting();
    // Receives more bytes into the command lines; false ends the session.
    bool fillBuffer();
    // The next complete line: one that waited out a transfer, else a new one.
    std::optional<CommandLineEvent> nextCommandLine();
    // Whether the handler moves data, so an ABOR must be watched for while it runs.
    static bool transfersData(void (FtpSession::*handler)(const std::string&));
    std::string chooseListPath(const std::string& verb, const std::string& argument) const;

    // The refusals every file command shares: a missing right, a path that is not
    // valid, one that climbs above the root (escapedSuffix follows "550 /" + the
    // normalised path). Replies and returns true for those; false for the others,
    // which each command answers in its own words.
    template <typename T>
    bool replyIfRefused(const FileResult<T>& result, const char* escapedSuffix) {
        return replyIfRefused(result.status, result.normalised, escapedSuffix);
    }
    bool replyIfRefused(FileStatus status, const std::string& normalised, const char* escapedSuffix);
    // The 150 reply of a transfer, with the size of a file sent when given.
    std::string transferOpening(const std::string& argument, std::optional<long long> size = std::nullopt) const;
    // Sends the listing of a directory on the data connection; false when it broke.
    bool sendListing(Socket& data, const FolderListing& folder);
    // The folder a listing names, with the List right and a data connection; replies
    // to a missing one, or to a refused path (closing the data connection then), and
    // returns nullopt.
    std::optional<FileResult<FolderListing>> listingOrReply(const std::string& path);
    void closeData() { data_.close(); }
    void storeFile(const std::string& argument, bool append);
    // The transfer's line in <xferlog> (nothing without it), once data_ is closed. For
    // a download expected is what a complete one sends; for an upload, where in the
    // file it started.
    void recordTransfer(const std::string& localPath, std::chrono::steady_clock::time_point started, bool outgoing,
                        bool complete, std::int64_t expected);
    // A transfer on data_ begins now: its bytes count in the session's row, and a kick
    // closes it too. The time it began.
    std::chrono::steady_clock::time_point transferStarting();

    // Login and session commands.
    void handleUser(const std::string& argument);
    void handlePass(const std::string& argument);
    void handleSyst(const std::string& argument);
    void handleType(const std::string& argument);
    void handleNoop(const std::string& argument);
    void handleHelp(const std::string& argument);
    void handleStat(const std::string& argument);
    void handleRein(const std::string& argument);
    void handleQuit(const std::string& argument);
    // RFC 959's minimum that the designed verbs lack (<ftpext>): MODE S, STRU F, ALLO.
    void handleMode(const std::string& argument);
    void handleStru(const std::string& argument);
    void handleAllo(const std::string& argument);
    // Data connections.
    void handlePasv(const std::string& argument);
    void handlePort(const std::string& argument);
    void handleEpsv(const std::string& argument);
    void handleEprt(const std::string& argument);
    bool isIpv6Peer() const;
    // Listing and transfers.
    void handleList(const std::string& path);
    void handleRetr(const std::string& argument);
    void handleStor(const std::string& argument);
    void handleAppe(const std::string& argument);
    void handleRest(const std::string& argument);
    void handleSize(const std::string& argument);
    void handleAbor(const std::string& argument);
    // The offset a RETR, STOR or APPE starts from. The standard dialect clears it, so
    // it applies to that one transfer (RFC 959, 4.1.3); the designed one keeps it.
    std::int64_t takeRestartOffset();
    // TLS (RFC 4217) and the feature list (RFC 2389).
    void handleAuth(const std::string& argument);
    void handlePbsz(const std::string& argument);
    void handleProt(const std::string& argument);
    void handleFeat(const std::string& argument);
    // The FEAT lines of <ftpext>'s commands (none while it is off).
    void appendExtensionFeatures(std::vector<std::string>& lines) const;
    // <ftpext>: OPTS UTF8 (RFC 2389, 2640), MDTM, MLST and MLSD (RFC 3659), MFMT.
    void handleOpts(const std::string& argument);
    void handleMdtm(const std::string& argument);
    void handleMfmt(const std::string& argument);
    void handleMlst(const std::string& argument);
    void handleMlsd(const std::string& argument);
    // The listings on the data connection with <ftpext>: LIST's lines with ls
    // dates, NLST's names, MLSD's facts.
    enum class ListingForm { Long, Names, Facts };
    // The steps of LIST (List right, 425, the same path refusals, the TLS hooks,
    // 150/226/426) for path taken whole; Facts also wants a directory (550).
    void listOnData(ListingForm form, const std::string& path);
    // Streams the listing in chunks; false when the data connection broke.
    bool streamListing(Socket& data, ListingForm form, const FolderListing& folder);
    // File management.
    void handleCwd(const std::string& argument);
    void handleCdup(const std::string& argument);
    void handlePwd(const std::string& argument);
    void handleMkd(const std::string& argument);
    void handleRmd(const std::string& argument);
    void handleDele(const std::string& argument);
    void handleRnfr(const std::string& argument);
    void handleRnto(const std::string& argument);

    const FtpContext& context_;
    const replies::Dialect dialect_;
    LiveCount live_;  // this session among the live ones, the refused ones as well
    Socket control_;
    ControlReplies controlReplies_{control_};
    ReplySink& replies_;
    std::int64_t restartOffset_ = 0;  // 64-bit so files past 2 GiB resume correctly
    // The signed-in account's home, rights and current folder.
    FileService files_;
    std::string peerAddress_;
    std::string localAddress_;
    std::string userName_;
    std::string password_;
    std::string renameSource_;
    enum class LoginState { None, UserGiven, LoggedIn };
    // Only the wording of the transfer replies depends on it; bytes are never converted.
    enum class TransferType { Ascii, Binary };
    LoginState loginState_ = LoginState::None;
    TransferType transferType_ = TransferType::Binary;
    unsigned failedLogins_ = 0;
    // Until the first login the session must log in by loginDeadline_ (greeting +
    // the context's login deadline).
    bool everLoggedIn_ = false;
    std::chrono::steady_clock::time_point loginDeadline_{};

    CommandLineAssembler commands_;
    // Lines that arrived while a transfer ran, answered after it in order.
    std::deque<CommandLineEvent> waitingCommands_;
    // In the registry while the session lives (declared after control_, so it leaves
    // before the connection is closed at the end).
    std::unique_ptr<SessionPlace> registration_;
    // The session's row among the live sessions (corvelctl sessions, kick).
    std::unique_ptr<LiveSessions::Entry> listed_;

    // TLS of this session (extension <tls>).
    bool controlProtected_ = false;
    bool protectionBufferSizeSet_ = false;  // PBSZ came (it must before PROT)
    DataProtection protection_;              // PROT P, and the control session's token
    DataChannel data_{context_, protection_, replies_};
    bool extendedPassiveOnly_ = false;       // after EPSV ALL: PASV, PORT and EPRT are refused
    FactSelection factSelection_;            // the facts of MLST and MLSD (OPTS MLST)
};

}  // namespace corvel
