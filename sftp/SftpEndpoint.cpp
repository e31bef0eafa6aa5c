#include "sftp/SftpEndpoint.h"

#include "accounts/AccessPolicy.h"
#include "accounts/BanList.h"
#include "accounts/LiveSessions.h"
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
// The signature algorithms a host key of each kind signs with, best first.
const char* algorithmsOf(enum ssh_keytypes_e type) {
    switch (type) {
        case SSH_KEYTYPE_ED25519: return "ssh-ed25519";
        case SSH_KEYTYPE_RSA: return "rsa-sha2-512,rsa-sha2-256";
        case SSH_KEYTYPE_ECDSA_P256: return "ecdsa-sha2-nistp256";
        case SSH_KEYTYPE_ECDSA_P384: return "ecdsa-sha2-nistp384";
        case SSH_KEYTYPE_ECDSA_P521: return "ecdsa-sha2-nistp521";
        default: return nullptr;
    }
}

// libssh holds one key of each family (Ed25519, RSA, ECDSA) in a bind.
int familyOf(enum ssh_keytypes_e type) {
    switch (type) {
        case SSH_KEYTYPE_ED25519: return 0;
        case SSH_KEYTYPE_RSA: return 1;
        default: return 2;
    }
}

}  // namespace

struct SftpEndpoint::State {
    sftp::SshBind bind;
    // ssh_bind_accept_fd copies the bind's options and keys into the session; one
    // connection at a time does that.
    mutable Mutex acceptMutex;
};

SftpEndpoint::SftpEndpoint() = default;
SftpEndpoint::~SftpEndpoint() = default;

bool SftpEndpoint::prepare(const std::string& programDirectory, const std::vector<std::string>& hostKeyFiles,
                           LogSink& log, std::string* error) {
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
               ssh_bind_options_set(bind, SSH_BIND_OPTIONS_HMAC_S_C, kMacs) == SSH_OK;
    if (!set) {
        *error = "cannot choose the SSH algorithms";
        return false;
    }
    std::vector<sftp::HostKey> keys;
    if (hostKeyFiles.empty()) {
        struct Wanted {
            const char* file;
            enum ssh_keytypes_e type;
            int bits;
        };
        for (const Wanted& wanted : {Wanted{sftp::kEd25519HostKeyFile, SSH_KEYTYPE_ED25519, 0},
                                     Wanted{sftp::kRsaHostKeyFile, SSH_KEYTYPE_RSA, sftp::kRsaHostKeyBits}}) {
            std::optional<sftp::HostKey> key =
                sftp::loadOrMakeHostKey(programDirectory + wanted.file, wanted.type, wanted.bits, error);
            if (!key) return false;
            if (key->made) log.write(LogSeverity::Information, "made the SSH host key " + key->path);
            keys.push_back(std::move(*key));
        }
    } else {
        // SECURITY: named keys are the administrator's: a missing or unreadable one
        // stops the start, and none is ever made or written in its place.
        for (const std::string& file : hostKeyFiles) {
            const std::string path = file.front() == '/' ? file : programDirectory + file;
            std::optional<sftp::HostKey> key = sftp::loadHostKey(path, error);
            if (!key) {
                *error = "<sftphostkey>: " + *error;
                return false;
            }
            keys.push_back(std::move(*key));
        }
    }
    std::string algorithms;
    const sftp::HostKey* family[3] = {nullptr, nullptr, nullptr};
    for (sftp::HostKey& key : keys) {
        const enum ssh_keytypes_e type = ssh_key_type(key.key.get());
        const sftp::HostKey*& held = family[familyOf(type)];
        if (held) {
            *error = "<sftphostkey>: " + held->path + " and " + key.path +
                     " are keys of one kind; name at most one Ed25519, one RSA and one ECDSA key";
            return false;
        }
        held = &key;
        const std::string name = ssh_key_type_to_char(type);
        log.write(LogSeverity::Information, "SSH host key " + key.path + " (" + name + "), SHA-256 fingerprint " +
                                                key.fingerprint);
        fingerprints_.push_back(name + " " + key.fingerprint);
        algorithms += (algorithms.empty() ? "" : ",") + std::string(algorithmsOf(type));
        // The bind takes the key over and frees it with itself.
        if (ssh_bind_options_set(bind, SSH_BIND_OPTIONS_IMPORT_KEY, key.key.get()) != SSH_OK) {
            *error = "cannot use the host key " + key.path;
            return false;
        }
        (void)key.key.release();
    }
    if (ssh_bind_options_set(bind, SSH_BIND_OPTIONS_HOSTKEY_ALGORITHMS, algorithms.c_str()) != SSH_OK) {
        *error = "cannot choose the SSH host key algorithms";
        return false;
    }
    state_ = std::move(state);
    return true;
}

void SftpEndpoint::serve(Socket socket, const SftpContext& context, std::optional<std::string> client) const {
    const std::string peer = client ? std::move(*client) : socket.peerAddress();
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

    // Listed with a second descriptor of the socket, which a kick shuts down.
    const std::unique_ptr<LiveSessions::Entry> listed =
        context.liveSessions ? context.liveSessions->join(SessionProtocol::Sftp, peer, socket) : nullptr;
    sftp::SshSession session(ssh_new());
    if (!session) return;
    {
        MutexLock lock(state_->acceptMutex);
        // libssh owns the descriptor from here and closes it with the session.
        if (ssh_bind_accept_fd(state_->bind.get(), session.get(), socket.release()) != SSH_OK) return;
    }
    sftp::runSshConnection(session.get(), context, peer, place.get(), listed.get());
    ssh_disconnect(session.get());
}

}  // namespace corvel
