#include "sftp/SshConnection.h"

#include <memory>
#include <string_view>

#include "accounts/AccessPolicy.h"
#include "accounts/BanList.h"
#include "accounts/LoginGuard.h"
#include "accounts/UserTable.h"
#include "files/FileService.h"
#include "ftp/SessionAdmission.h"
#include "platform/SystemLog.h"
#include "sftp/HostKeys.h"
#include "sftp/SftpHandler.h"
#include "tls/SshKeys.h"

namespace corvel::sftp {
namespace {

using Clock = std::chrono::steady_clock;

// Bytes taken from the channel at once: a client's largest write request and more.
constexpr std::size_t kChannelReadBytes = 64 * 1024;
// How long libssh waits for a signed-in client (a window to send in, a request).
constexpr long kSignedInWaitSeconds = 120;
// How long one wait for the client's next bytes lasts before it is checked again.
constexpr int kChannelWaitMs = 1000;

struct SignedIn {
    std::string user;
};

// What the client asked for that this server does not offer, for the log.
std::string_view requestName(int subtype) {
    switch (subtype) {
        case SSH_CHANNEL_REQUEST_PTY:
            return "a terminal";
        case SSH_CHANNEL_REQUEST_EXEC:
            return "a command";
        case SSH_CHANNEL_REQUEST_SHELL:
            return "a shell";
        case SSH_CHANNEL_REQUEST_X11:
            return "X11 forwarding";
        case SSH_CHANNEL_REQUEST_SUBSYSTEM:
            return "a subsystem other than sftp";
        default:
            return "a channel request";
    }
}

std::string_view channelName(int subtype) {
    switch (subtype) {
        case SSH_CHANNEL_DIRECT_TCPIP:
        case SSH_CHANNEL_FORWARDED_TCPIP:
            return "port forwarding";
        case SSH_CHANNEL_X11:
            return "X11 forwarding";
        case SSH_CHANNEL_AUTH_AGENT:
            return "agent forwarding";
        default:
            return "a second channel";
    }
}

// libssh 0.10 marks the message form of the password deprecated in favour of its
// callback interface; this server reads its messages in order on its own thread,
// which the callbacks would turn inside out, so it keeps the message form here.
const char* passwordOf(ssh_message message) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return ssh_message_auth_password(message);
#pragma GCC diagnostic pop
}

// The key a public-key request offers, and whether it came signed (the client proved
// it holds the private key) or only asks whether the key would do. Deprecated like
// the password's form, for the same reason.
ssh_key offeredKeyOf(ssh_message message) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return ssh_message_auth_pubkey(message);
#pragma GCC diagnostic pop
}

enum ssh_publickey_state_e offeredKeyStateOf(ssh_message message) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return ssh_message_auth_publickey_state(message);
#pragma GCC diagnostic pop
}

// Whether key is one of the account's keys (authorized_keys lines).
bool isAuthorizedKey(ssh_key key, const std::vector<std::string>& lines) {
    if (!key) return false;
    for (const std::string& line : lines) {
        std::string why;
        const std::optional<SshPublicKey> stored = parseAuthorizedKey(line, &why);
        if (!stored) continue;  // a line the tools would not have written is no key
        const std::string encoded = stored->base64();
        ssh_key imported = nullptr;
        if (ssh_pki_import_pubkey_base64(encoded.c_str(), ssh_key_type_from_name(stored->type.c_str()), &imported) !=
            SSH_OK)
            continue;
        SshKey owned(imported);
        if (ssh_key_cmp(owned.get(), key, SSH_KEY_CMP_PUBLIC) == 0) return true;
    }
    return false;
}

// The methods a client is offered: keys always, passwords too.
constexpr int kSignInMethods = SSH_AUTH_METHOD_PASSWORD | SSH_AUTH_METHOD_PUBLICKEY;

bool isSftp(const char* subsystem) { return subsystem && std::string_view(subsystem) == "sftp"; }

class SshConnection {
public:
    SshConnection(ssh_session session, const SftpContext& context, const std::string& peer, SessionPlace* place,
                  LiveSessions::Entry* listed)
        : session_(session), context_(context), peer_(peer), place_(place), listed_(listed) {}

    void run() {
        // SECURITY: the time to sign in runs from the connection's start, and every
        // wait of libssh's before it ends with it.
        const Clock::time_point deadline = Clock::now() + kSignInTime;
        if (!waitAtMostUntil(deadline)) return;
        if (ssh_handle_key_exchange(session_) != SSH_OK) return;  // a scanner or a client that gave up
        std::optional<SignedIn> account = signIn(deadline);
        if (!account) return;
        // Signed in, a wait lasts as long as a transfer's idle limit.
        long idle = kSignedInWaitSeconds;
        if (ssh_options_set(session_, SSH_OPTIONS_TIMEOUT, &idle) != SSH_OK) return;
        // A client may open its session again on the same connection, and closes the
        // connection itself once done (Go's SSH, as rclone uses it, reports an error
        // when the server closes first): the connection lasts until the client
        // leaves, or stays silent for kSignedInWaitSeconds.
        for (;;) {
            SshChannel channel = openSftpChannel(account->user);
            if (!channel) return;
            serveSftp(channel.get(), account->user);
            // As sshd's internal-sftp ends: status 0 (scp exits 1 on none at all).
            ssh_channel_request_send_exit_status(channel.get(), 0);
            ssh_channel_send_eof(channel.get());
            ssh_channel_close(channel.get());
            // Messages go to ssh_message_get again, not to the late-request callback.
            ssh_set_message_callback(session_, nullptr, nullptr);
        }
    }

    void refused(std::string_view what, const std::string& user) const {
        context_.log.write(LogSeverity::Warning, "sftp: refused " + std::string(what) + " to user \"" + user +
                                                     "\" from " + peer_ + ": this server offers SFTP only");
    }

private:
    // Makes libssh's waits end by deadline; false when it has passed.
    bool waitAtMostUntil(Clock::time_point deadline) const {
        const auto left = std::chrono::duration_cast<std::chrono::seconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        long seconds = static_cast<long>(left);
        return ssh_options_set(session_, SSH_OPTIONS_TIMEOUT, &seconds) == SSH_OK;
    }

    std::optional<SignedIn> signIn(Clock::time_point deadline) {
        ssh_set_auth_methods(session_, kSignInMethods);
        int attempts = 0;
        while (waitAtMostUntil(deadline)) {
            SshMessage message(ssh_message_get(session_));
            if (!message) return std::nullopt;  // the client left, or kept silent past the session timeout
            if (ssh_message_type(message.get()) != SSH_REQUEST_AUTH) {
                ssh_message_reply_default(message.get());
                continue;
            }
            const int method = ssh_message_subtype(message.get());
            const char* userText = ssh_message_auth_user(message.get());
            const std::string user = userText ? userText : "";
            Outcome outcome = Outcome::Refused;
            if (method == SSH_AUTH_METHOD_PASSWORD) {
                const char* passwordText = passwordOf(message.get());
                outcome = context_.users.authenticate(user, passwordText ? passwordText : "") ? Outcome::SignedIn
                                                                                             : Outcome::Failed;
            } else if (method == SSH_AUTH_METHOD_PUBLICKEY) {
                outcome = keySignIn(message.get(), user);
                if (outcome == Outcome::Asked) continue;  // answered: the client signs next
            } else if (method == SSH_AUTH_METHOD_NONE) {
                // "none" only asks which methods there are.
                outcome = Outcome::Asked;
            }
            if (outcome == Outcome::SignedIn) {
                context_.logins.succeeded(LoginService::Sftp, peer_, user);
                if (place_) place_->markLoggedIn();
                if (listed_) listed_->setUser(user);
                ssh_message_auth_reply_success(message.get(), 0);
                return SignedIn{user};
            }
            if (outcome == Outcome::Failed) {
                // SECURITY: the answer waits, and the failure counts towards a ban, as on FTP.
                context_.logins.failed(LoginService::Sftp, peer_, user);
                if (context_.bans && context_.bans->isBanned(peer_)) return std::nullopt;
            }
            // SECURITY: every attempt but "none" counts, also a key that was only offered.
            if (outcome != Outcome::Asked && ++attempts >= kMaxSignInAttempts) return std::nullopt;
            ssh_message_auth_set_methods(message.get(), kSignInMethods);
            ssh_message_reply_default(message.get());
        }
        return std::nullopt;
    }

    enum class Outcome {
        SignedIn,
        Failed,   // a wrong password, or a signed key that is not the account's: a failed login
        Refused,  // a key only offered that is not the account's, or a method not offered
        Asked,    // answered already (a key that would do), or only the methods asked for
    };

    // A public-key request. Clients first ask whether a key would do (answered here
    // when it would), then sign with it; a signed request with a key of the account
    // signs in. SECURITY: libssh has checked the signature before the message comes
    // (state VALID); a disabled account has no keys.
    Outcome keySignIn(ssh_message message, const std::string& user) {
        ssh_key offered = offeredKeyOf(message);  // the message's own
        const enum ssh_publickey_state_e state = offeredKeyStateOf(message);
        const bool authorized = isAuthorizedKey(offered, context_.users.sshKeysOf(user));
        if (state == SSH_PUBLICKEY_STATE_NONE) {
            if (!authorized) {
                context_.log.write(LogSeverity::Information, "sftp: the key " + keyFingerprint(offered) +
                                                                 " offered for user " + quotedForLog(user) +
                                                                 " from " + peer_ + " is not one of the account's");
                return Outcome::Refused;
            }
            return ssh_message_auth_reply_pk_ok_simple(message) == SSH_OK ? Outcome::Asked : Outcome::Refused;
        }
        if (state == SSH_PUBLICKEY_STATE_VALID && authorized) {
            context_.log.write(LogSeverity::Information, "sftp: user " + quotedForLog(user) + " from " + peer_ +
                                                             " signed in with the key " + keyFingerprint(offered));
            return Outcome::SignedIn;
        }
        return Outcome::Failed;
    }

    static std::string keyFingerprint(ssh_key key) {
        const std::string text = key ? fingerprintOf(key) : std::string();
        return text.empty() ? std::string("(unreadable)") : text;
    }

    // The session channel and its sftp subsystem; nothing else is granted.
    SshChannel openSftpChannel(const std::string& user) {
        SshChannel channel;
        for (;;) {
            SshMessage message(ssh_message_get(session_));
            if (!message) return nullptr;
            const int type = ssh_message_type(message.get());
            const int subtype = ssh_message_subtype(message.get());
            if (type == SSH_REQUEST_CHANNEL_OPEN && subtype == SSH_CHANNEL_SESSION && !channel) {
                channel.reset(ssh_message_channel_request_open_reply_accept(message.get()));
                if (!channel) return nullptr;
                continue;
            }
            if (type == SSH_REQUEST_CHANNEL_OPEN) {
                refused(channelName(subtype), user);
            } else if (type == SSH_REQUEST_CHANNEL && channel) {
                if (subtype == SSH_CHANNEL_REQUEST_SUBSYSTEM &&
                    isSftp(ssh_message_channel_request_subsystem(message.get()))) {
                    ssh_message_channel_request_reply_success(message.get());
                    return channel;
                }
                // The client's environment is simply not taken; anything else is said.
                if (subtype != SSH_CHANNEL_REQUEST_ENV) {
                    refused(requestName(subtype), user);
                    constexpr std::string_view kOnly = "This server offers SFTP only.\r\n";
                    ssh_channel_write_stderr(channel.get(), kOnly.data(), static_cast<std::uint32_t>(kOnly.size()));
                }
            } else if (type == SSH_REQUEST_GLOBAL) {
                refused("port forwarding", user);
            }
            ssh_message_reply_default(message.get());
        }
    }

    void serveSftp(ssh_channel channel, const std::string& user) {
        // Requests that come once the subsystem runs are refused by libssh's default
        // answer; they are logged here.
        ssh_set_message_callback(session_, &SshConnection::lateRequest, this);
        lateUser_ = user;
        std::string home;
        context_.users.homeDirectoryOf(user, home);
        SftpHandler handler(FileService(std::move(home), context_.users.privilegesOf(user)),
                            SftpTransferLog{.log = context_.transferLog,
                                            .peer = peer_,
                                            .user = user,
                                            .anonymous = context_.users.logsInWithoutPassword(user)});
        PacketFramer framer;
        auto buffer = std::make_unique_for_overwrite<char[]>(kChannelReadBytes);
        for (;;) {
            const int got = ssh_channel_read_timeout(channel, buffer.get(), kChannelReadBytes, 0, kChannelWaitMs);
            if (got == SSH_ERROR) return;
            if (got == 0) {
                if (ssh_channel_is_eof(channel) || !ssh_channel_is_open(channel)) return;
                continue;
            }
            framer.append(std::string_view(buffer.get(), static_cast<std::size_t>(got)));
            while (std::optional<std::string> packet = framer.next()) {
                const std::string reply = handler.handle(*packet);
                if (ssh_channel_write(channel, reply.data(), static_cast<std::uint32_t>(reply.size())) == SSH_ERROR)
                    return;
            }
            if (framer.broken()) return;  // a length no client sends: the stream cannot be trusted
        }
    }

    static int lateRequest(ssh_session, ssh_message message, void* self) {
        const auto* connection = static_cast<const SshConnection*>(self);
        const int type = ssh_message_type(message);
        if (type == SSH_REQUEST_CHANNEL_OPEN)
            connection->refused(channelName(ssh_message_subtype(message)), connection->lateUser_);
        else if (type == SSH_REQUEST_CHANNEL && ssh_message_subtype(message) != SSH_CHANNEL_REQUEST_ENV)
            connection->refused(requestName(ssh_message_subtype(message)), connection->lateUser_);
        else if (type == SSH_REQUEST_GLOBAL)
            connection->refused("port forwarding", connection->lateUser_);
        return 1;  // not handled: libssh sends its refusal
    }

    ssh_session session_;
    const SftpContext& context_;
    const std::string& peer_;
    SessionPlace* place_;
    LiveSessions::Entry* listed_;
    std::string lateUser_;
};

}  // namespace

void runSshConnection(ssh_session session, const SftpContext& context, const std::string& peer, SessionPlace* place,
                      LiveSessions::Entry* listed) {
    SshConnection(session, context, peer, place, listed).run();
}

}  // namespace corvel::sftp
