#include "sftp/SftpEndpoint.h"

#include "accounts/AccessPolicy.h"
#include "accounts/BanList.h"
#include "common/AddressShare.h"
#include "common/LiveCount.h"
#include "common/ThreadSafety.h"
#include "ftp/SessionAdmission.h"
#include "platform/SystemLog.h"
#include "sftp/HostKeys.h"
#include "sftp/SshConnection.h"
#include "sftp/SshHandles.h"

namespace corvel {
namespace {

// SECURITY: modern algorithms only: no SHA-1, no CBC, no small groups.
constexpr char kKeyExchanges[] =
    "curve25519-sha256,curve25519-sha256@libssh.org,ecdh-sha2-nistp256,ecdh-sha2-nistp384,ecdh-sha2-nistp521,"
    "diffie-hellman-group16-sha512,diffie-hellman-group18-sha512";
constexpr char kCiphers[] =
    "chacha20-poly1305@openssh.com,aes256-gcm@openssh.com,aes128-gcm@openssh.com,aes256-ctr,aes192-ctr,aes128-ctr";
constexpr char kMacs[] = "hmac-sha2-256-etm@openssh.com,hmac-sha2-512-etm@openssh.com,hmac-sha2-256,hmac-sha2-512";
constexpr char kHostKeyAlgorithms[] = "ssh-ed25519,rsa-sha2-512,rsa-sha2-256";

}  // namespace

struct SftpEndpoint::State {
    sftp::SshBind bind;
    // ssh_bind_accept_fd copies the bind's options and keys into the session; one
    // connection at a time does that.
    mutable Mutex acceptMutex;
};

SftpEndpoint::SftpEndpoint() = default;
SftpEndpoint::~SftpEndpoint() = default;

bool SftpEndpoint::prepare(const std::string& programDirectory, LogSink& log, std::string* error) {
    auto state = std::make_unique<State>();
    state->bind.reset(ssh_bind_new());
    if (!state->bind) {
        *error = "cannot set up SSH";
        return false;
    }
    ssh_bind bind = state->bind.get();
    // The system's libssh configuration files are not read: the server's own
    // choices hold wherever it runs.
    bool noConfig = false;
    bool set = ssh_bind_options_set(bind, SSH_BIND_OPTIONS_PROCESS_CONFIG, &noConfig) == SSH_OK &&
               ssh_bind_options_set(bind, SSH_BIND_OPTIONS_KEY_EXCHANGE, kKeyExchanges) == SSH_OK &&
               ssh_bind_options_set(bind, SSH_BIND_OPTIONS_CIPHERS_C_S, kCiphers) == SSH_OK &&
               ssh_bind_options_set(bind, SSH_BIND_OPTIONS_CIPHERS_S_C, kCiphers) == SSH_OK &&
               ssh_bind_options_set(bind, SSH_BIND_OPTIONS_HMAC_C_S, kMacs) == SSH_OK &&
               ssh_bind_options_set(bind, SSH_BIND_OPTIONS_HMAC_S_C, kMacs) == SSH_OK &&
               ssh_bind_options_set(bind, SSH_BIND_OPTIONS_HOSTKEY_ALGORITHMS, kHostKeyAlgorithms) == SSH_OK;
    if (!set) {
        *error = "cannot choose the SSH algorithms";
        return false;
    }
    struct Wanted {
        const char* file;
        enum ssh_keytypes_e type;
        int bits;
        const char* name;
    };
    for (const Wanted& wanted : {Wanted{sftp::kEd25519HostKeyFile, SSH_KEYTYPE_ED25519, 0, "ssh-ed25519"},
                                 Wanted{sftp::kRsaHostKeyFile, SSH_KEYTYPE_RSA, sftp::kRsaHostKeyBits, "ssh-rsa"}}) {
        std::optional<sftp::HostKey> key =
            sftp::loadOrMakeHostKey(programDirectory + wanted.file, wanted.type, wanted.bits, error);
        if (!key) return false;
        if (key->made) log.write(LogSeverity::Information, "made the SSH host key " + key->path);
        log.write(LogSeverity::Information, std::string("SSH host key ") + key->path + " (" + wanted.name +
                                                "), SHA-256 fingerprint " + key->fingerprint);
        fingerprints_.push_back(std::string(wanted.name) + " " + key->fingerprint);
        // The bind takes the key over and frees it with itself.
        if (ssh_bind_options_set(bind, SSH_BIND_OPTIONS_IMPORT_KEY, key->key.get()) != SSH_OK) {
            *error = "cannot use the host key " + key->path;
            return false;
        }
        (void)key->key.release();
    }
    state_ = std::move(state);
    return true;
}

void SftpEndpoint::serve(Socket socket, const SftpContext& context) const {
    const std::string peer = socket.peerAddress();
    // SECURITY: a refused or banned address learns nothing, not even the SSH banner.
    if (!state_ || !context.policy.isAllowed(peer) || (context.bans && context.bans->isBanned(peer))) return;
    LiveCount live(context.activeConnections);
    const auto running = static_cast<std::uint32_t>(live.before());
    std::unique_ptr<SessionPlace> place;
    if (context.sessions) {
        const std::uint32_t notLoggedIn =
            perAddressLimitInForce(context.maxLoginPerAddress, running, std::uint64_t{context.maxConnections} + 1);
        place = context.sessions->admit(peer, socket,
                                        AddressLimits{.sessions = context.maxPerAddress, .notLoggedIn = notLoggedIn});
        if (!place) return;
    }
    if (running > context.maxConnections) return;

    sftp::SshSession session(ssh_new());
    if (!session) return;
    {
        MutexLock lock(state_->acceptMutex);
        // libssh owns the descriptor from here and closes it with the session.
        if (ssh_bind_accept_fd(state_->bind.get(), session.get(), socket.release()) != SSH_OK) return;
    }
    sftp::runSshConnection(session.get(), context, peer, place.get());
    ssh_disconnect(session.get());
}

}  // namespace corvel
