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
#include "sftp/SftpHandler.h"

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

bool isSftp(const char* subsystem) { return subsystem && std::string_view(subsystem) == "sftp"; }

class SshConnection {
public:
    SshConnection(ssh_session session, const SftpContext& context, const std::string& peer, SessionPlace* place)
        : session_(session), context_(context), peer_(peer), place_(place) {}

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
        SshChannel channel = openSftpChannel(account->user);
        if (!channel) return;
        serveSftp(channel.get(), account->user);
        ssh_channel_send_eof(channel.get());
        ssh_channel_close(channel.get());
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
        // SECURITY: password sign-in only until keys per account exist; a client is
        // told so on every other attempt.
        ssh_set_auth_methods(session_, SSH_AUTH_METHOD_PASSWORD);
        int attempts = 0;
        while (waitAtMostUntil(deadline)) {
            SshMessage message(ssh_message_get(session_));
            if (!message) return std::nullopt;  // the client left, or kept silent past the session timeout
            if (ssh_message_type(message.get()) != SSH_REQUEST_AUTH) {
                ssh_message_reply_default(message.get());
                continue;
            }
            const int method = ssh_message_subtype(message.get());
            if (method != SSH_AUTH_METHOD_PASSWORD) {
                // "none" only asks which methods there are; any other method is an attempt.
                if (method != SSH_AUTH_METHOD_NONE && ++attempts >= kMaxSignInAttempts) return std::nullopt;
                ssh_message_auth_set_methods(message.get(), SSH_AUTH_METHOD_PASSWORD);
                ssh_message_reply_default(message.get());
                continue;
            }
            const char* userText = ssh_message_auth_user(message.get());
            const char* passwordText = passwordOf(message.get());
            const std::string user = userText ? userText : "";
            const std::string password = passwordText ? passwordText : "";
            if (context_.users.authenticate(user, password)) {
                context_.logins.succeeded(LoginService::Sftp, peer_, user);
                if (place_) place_->markLoggedIn();
                ssh_message_auth_reply_success(message.get(), 0);
                return SignedIn{user};
            }
            // SECURITY: the answer waits, and the failure counts towards a ban, as on FTP.
            context_.logins.failed(LoginService::Sftp, peer_, user);
            if (++attempts >= kMaxSignInAttempts) return std::nullopt;
            if (context_.bans && context_.bans->isBanned(peer_)) return std::nullopt;
            ssh_message_auth_set_methods(message.get(), SSH_AUTH_METHOD_PASSWORD);
            ssh_message_reply_default(message.get());
        }
        return std::nullopt;
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
        SftpHandler handler(FileService(std::move(home), context_.users.privilegesOf(user)));
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
    std::string lateUser_;
};

}  // namespace

void runSshConnection(ssh_session session, const SftpContext& context, const std::string& peer, SessionPlace* place) {
    SshConnection(session, context, peer, place).run();
}

}  // namespace corvel::sftp
