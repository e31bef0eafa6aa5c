// Admission, command reading and dispatch of one FTP control connection.
#include "ftp/FtpReplies.h"
#include "ftp/FtpSession.h"

#include <algorithm>
#include <chrono>
#include <iterator>

#include "accounts/AccessPolicy.h"
#include "accounts/BanList.h"
#include "common/AddressShare.h"
#include "common/AsciiText.h"
#include "ftp/ControlWatch.h"
#include "ftp/ListArgument.h"
#include "ftp/SplitText.h"

namespace corvel {

struct FtpSession::Command {
    const char* verb;
    bool needsLogin;
    bool argumentRequired;
    void (FtpSession::*handler)(const std::string&);
    Feature feature = Feature::Designed;
};

namespace {

using S = FtpSession;

std::string trim(const std::string& text) {
    const char* blanks = " \t\r\n";
    auto first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return {};
    auto last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

}  // namespace

FtpSession::FtpSession(Socket control, const FtpContext& context, std::optional<std::string> clientAddress)
    : context_(context),
      dialect_(context.ftpExtensions ? replies::Dialect::Standard : replies::Dialect::Designed),
      live_(context.activeConnections),
      control_(std::move(control)),
      replies_(controlReplies_) {
    control_.setNonBlocking();
    (void)control_.keepUrgentDataInline();
    peerAddress_ = clientAddress ? std::move(*clientAddress) : control_.peerAddress();
    localAddress_ = control_.localAddress();
    admit();
}

FtpSession::FtpSession(ReplySink& replies, const FtpContext& context, std::string peerAddress)
    : context_(context),
      dialect_(context.ftpExtensions ? replies::Dialect::Standard : replies::Dialect::Designed),
      live_(context.activeConnections),
      replies_(replies),
      peerAddress_(std::move(peerAddress)) {
    admit();
}

void FtpSession::admit() {
    data_.setAddresses(peerAddress_, localAddress_);
    // SECURITY: a refused peer learns nothing; not even a greeting is sent. A banned
    // address is turned away the same way.
    if (!context_.policy.isAllowed(peerAddress_) || (context_.bans && context_.bans->isBanned(peerAddress_))) {
        control_.close();
        return;
    }
    // The sessions that ran before this one joined, so maxconn + 1 sessions may run at once.
    const auto running = static_cast<std::uint32_t>(live_.before());
    if (context_.sessions) {
        // SECURITY: one address can hold only so many sessions, and, once half of
        // maxconn is taken, only a few that have not logged in, so idle connections
        // of one address cannot shut others out.
        const std::uint32_t notLoggedIn = perAddressLimitInForce(
            context_.maxLoginPerAddress, running, std::uint64_t{context_.maxConnections} + 1);
        registration_ = context_.sessions->admit(
            peerAddress_, control_,
            AddressLimits{.sessions = context_.maxPerAddress, .notLoggedIn = notLoggedIn});
        if (!registration_) {
            reply(texts().tooManyConnections);
            control_.close();
            return;
        }
    }
    if (running > context_.maxConnections) {
        reply(texts().tooManyConnections);
        control_.close();
        return;
    }
    if (context_.liveSessions) listed_ = context_.liveSessions->join(SessionProtocol::Ftp, peerAddress_, control_);
    loginDeadline_ = std::chrono::steady_clock::now() + context_.loginDeadline;
    sendGreeting();
}

void FtpSession::reply(const std::string& text) { replies_.send(text); }

void FtpSession::ControlReplies::send(std::string_view text) {
    // A failed write closes the control socket; the next read then ends the session.
    sendAll(control_, text.data(), text.size());
}

bool FtpSession::fillBuffer() {
    char chunk[kReceiveChunkBytes];
    int idleSeconds = 0;
    for (;;) {
        // SECURITY: a connection that never logs in is not kept, however busy it is.
        int waitMs = kWaitStepMs;
        if (!everLoggedIn_) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                loginDeadline_ - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                reply(replies::kLoginTimeout);
                control_.close();
                return false;
            }
            waitMs = static_cast<int>(std::min<long long>(waitMs, left.count()));
        }
        const IoResult r = control_.receive(chunk, sizeof chunk);
        if (r.ok()) {
            commands_.append(std::string_view(chunk, r.bytes));
            return true;
        }
        if (r.state != IoState::WouldBlock) {  // peer closed or receive failed
            control_.close();
            return false;
        }
        WaitResult w = control_.waitReadable(waitMs);
        if (w == WaitResult::Failed) return false;
        if (w == WaitResult::TimedOut && ++idleSeconds > kIdleLimitSeconds) {
            // RFC 959: a server closing the control connection says 421 first.
            if (standard()) reply(replies::kIdleTimeout);
            control_.close();
            return false;
        }
    }
}

bool FtpSession::readCommand() {
    if (!control_.isOpen()) return false;
    for (;;) {
        if (std::optional<CommandLineEvent> event = nextCommandLine()) {
            if (event->kind == CommandLineEvent::Kind::Line) return dispatch(event->text);
            reply(replies::tooLong(event->text.substr(0, event->text.find(' '))));
            return true;
        }
        if (!fillBuffer()) return false;
    }
}

std::optional<CommandLineEvent> FtpSession::nextCommandLine() {
    if (waitingCommands_.empty()) return commands_.next();
    CommandLineEvent event = std::move(waitingCommands_.front());
    waitingCommands_.pop_front();
    return event;
}

bool FtpSession::transfersData(void (FtpSession::*handler)(const std::string&)) {
    return handler == &S::handleRetr || handler == &S::handleStor || handler == &S::handleAppe ||
           handler == &S::handleList || handler == &S::handleMlsd;
}

const FtpSession::Command* FtpSession::findCommand(const std::string& verb) const {
    static const Command kCommands[] = {
    {"USER", false, false, &S::handleUser}, {"PASS", false, false, &S::handlePass},
    {"SYST", false, false, &S::handleSyst}, {"TYPE", false, false, &S::handleType},
    {"SIZE", true, true, &S::handleSize},   {"REST", true, false, &S::handleRest},
    {"RETR", true, true, &S::handleRetr},   {"RNFR", true, true, &S::handleRnfr},
    {"RNTO", true, true, &S::handleRnto},   {"APPE", true, true, &S::handleAppe},
    {"STOR", true, true, &S::handleStor},   {"STAT", true, false, &S::handleStat},
    {"DELE", true, true, &S::handleDele},   {"RMD", true, true, &S::handleRmd},
    {"XRMD", true, true, &S::handleRmd},    {"MKD", true, true, &S::handleMkd},
    {"XMKD", true, true, &S::handleMkd},    {"ABOR", false, false, &S::handleAbor},
    {"LIST", true, false, &S::handleList},  {"NLST", true, false, &S::handleList},
    {"HELP", false, false, &S::handleHelp}, {"NOOP", false, false, &S::handleNoop},
    {"PASV", true, false, &S::handlePasv},  {"PORT", true, false, &S::handlePort},
    {"PWD", true, false, &S::handlePwd},    {"XPWD", true, false, &S::handlePwd},
    {"CWD", true, false, &S::handleCwd},    {"XCWD", true, false, &S::handleCwd},
    {"CDUP", true, false, &S::handleCdup},  {"XCUP", true, false, &S::handleCdup},
    {"REIN", false, false, &S::handleRein}, {"QUIT", false, false, &S::handleQuit},
};
    static_assert(std::size(kCommands) == 32);
    // The extensions' verbs exist only while ftpconfig.xml turns them on; otherwise
    // they get the not-understood reply, as without the extensions.
    static const Command kExtensionCommands[] = {
        {"AUTH", false, true, &S::handleAuth, Feature::Tls},
        {"PBSZ", false, true, &S::handlePbsz, Feature::Tls},
        {"PROT", false, true, &S::handleProt, Feature::Tls},
        {"FEAT", false, false, &S::handleFeat, Feature::Features},
        {"EPSV", true, false, &S::handleEpsv, Feature::Extensions},
        {"EPRT", true, true, &S::handleEprt, Feature::Extensions},
        {"OPTS", false, true, &S::handleOpts, Feature::Extensions},
        {"MDTM", true, true, &S::handleMdtm, Feature::Extensions},
        {"MFMT", true, true, &S::handleMfmt, Feature::Extensions},
        {"MLST", true, false, &S::handleMlst, Feature::Extensions},
        {"MLSD", true, false, &S::handleMlsd, Feature::Extensions},
        {"MODE", false, true, &S::handleMode, Feature::Extensions},
        {"STRU", false, true, &S::handleStru, Feature::Extensions},
        {"ALLO", true, false, &S::handleAllo, Feature::Extensions},
    };
    for (const Command& candidate : kCommands)
        if (equalsIgnoringAsciiCase(candidate.verb, verb)) return &candidate;
    for (const Command& candidate : kExtensionCommands)
        if (featureEnabled(candidate.feature) && equalsIgnoringAsciiCase(candidate.verb, verb)) return &candidate;
    return nullptr;
}

bool FtpSession::featureEnabled(Feature feature) const {
    switch (feature) {
        case Feature::Designed: return true;
        case Feature::Tls: return context_.tlsMode != TlsMode::Off && context_.tls;
        case Feature::Extensions: return context_.ftpExtensions;
        // FEAT tells what is on, so it is there as soon as anything is.
        case Feature::Features: return featureEnabled(Feature::Tls) || featureEnabled(Feature::Extensions);
    }
    return false;
}

std::string FtpSession::chooseListPath(const std::string& verb, const std::string& argument) const {
    std::vector<std::string> words;
    splitText(verb + " " + argument, " ", true, 3, words);
    // Four or more words select the last one, so "LIST -a -l dir" still lists dir.
    if (words.size() >= 4) return words.back();
    if (words.size() == 3) return words[2];
    if (words.size() == 2 && !(words[1].size() > 0 && words[1][0] == '-')) return words[1];
    return std::string();
}

bool FtpSession::dispatch(const std::string& received) {
    // Telnet commands before a command (Interrupt Process and Synch before an ABOR)
    // are no part of it.
    const std::string line(withoutTelnetCommands(received));
    auto space = line.find(' ');
    std::string verb = trim(line.substr(0, space));
    std::string argument = space == std::string::npos ? std::string() : trim(line.substr(space + 1));

    const Command* command = findCommand(verb);
    if (!command) {
        reply(replies::notUnderstood(verb));
        return true;
    }
    if (command->argumentRequired && argument.empty()) {
        reply(replies::kSyntaxError);
        return true;
    }
    if (command->needsLogin && loginState_ != LoginState::LoggedIn) {
        reply(replies::kNotLoggedIn);
        return true;
    }
    // SECURITY: where TLS is required, no name or password crosses in clear text.
    if (context_.tlsMode == TlsMode::Required && !controlProtected_ &&
        (command->handler == &S::handleUser || command->handler == &S::handlePass)) {
        reply(replies::kTlsRequired);
        return true;
    }
    // While data moves, an ABOR on the control connection ends the transfer (426 for
    // it, then 226 for the ABOR); other commands are answered after it, in order.
    std::optional<ControlWatch> watch;
    if (transfersData(command->handler) && control_.isOpen())
        watch.emplace(control_, data_.socket(), commands_, waitingCommands_);
    if (command->handler == &S::handleList && featureEnabled(Feature::Extensions)) {
        // With <ftpext> the argument is one path after the ls options, so names with
        // blanks work; NLST sends names only and LIST dates show the year as ls does.
        listOnData(equalsIgnoringAsciiCase("NLST", verb) ? ListingForm::Names : ListingForm::Long,
                   skipListOptions(argument));
    } else {
        if (command->handler == &S::handleList) argument = chooseListPath(verb, argument);
        (this->*command->handler)(argument);
    }
    if (watch && watch->aborted()) reply(replies::kAbortDone);
    return command->handler != &S::handleQuit;
}

}  // namespace corvel
