// SSH public keys as OpenSSH writes them, read with OpenSSL alone so the SSH library
// stays in sftp/: the authorized_keys lines that sign accounts in, the public half
// of host key files, and their SHA-256 fingerprints as OpenSSH's tools show them.
// Thread-safe (pure functions).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvel {

// The host key files the server makes beside the certificate when <sftphostkey>
// names none.
inline constexpr char kEd25519HostKeyFile[] = "corveld-sftp-ed25519.key";
inline constexpr char kRsaHostKeyFile[] = "corveld-sftp-rsa.key";

// SECURITY: RSA keys shorter than this are refused, for accounts and as host keys.
constexpr int kMinRsaKeyBits = 2048;
// Longest authorized_keys line taken (an RSA-16384 key's line is about 2,800 bytes).
constexpr std::size_t kMaxAuthorizedKeyBytes = 8192;

struct SshPublicKey {
    std::string type;     // "ssh-ed25519", "ssh-rsa", "ecdsa-sha2-nistp256", ...
    std::string blob;     // the key's wire form (the base64 of the line, decoded)
    std::string comment;  // what follows the key on its line; may be empty

    // "TYPE BASE64" and " COMMENT" when there is one: the line as it is stored.
    std::string line() const;
    // The blob's base64, as the line holds it.
    std::string base64() const;
    // "SHA256:" and the unpadded base64 of the blob's SHA-256, as ssh-keygen -l shows it.
    std::string fingerprint() const;
};

// One authorized_keys line: "TYPE BASE64 [COMMENT]". Key types: ssh-ed25519,
// ssh-rsa (at least kMinRsaKeyBits), ecdsa-sha2-nistp256/384/521. Options in front
// of the key (from="...", no-pty) are not taken. nullopt, with *why, for anything else.
std::optional<SshPublicKey> parseAuthorizedKey(std::string_view line, std::string* why);

// The SHA-256 fingerprint of a key's wire form.
std::string sshFingerprint(std::string_view blob);

// The public half of an unencrypted private key file: OpenSSH's own format
// ("BEGIN OPENSSH PRIVATE KEY") or PEM (RSA, EC or Ed25519, PKCS#1, SEC1 or PKCS#8).
// nullopt, with *why, when the file cannot be read or holds no such key.
std::optional<SshPublicKey> publicKeyOfKeyFile(const std::string& path, std::string* why);

// What the administration tools show of one host key the server would use.
struct SshHostKeyStatus {
    std::string file;               // absolute, or as the program directory was given
    bool madeOnFirstStart = false;  // a made key that is not there yet
    std::optional<SshPublicKey> key;
    std::string error;  // why it cannot be read, when it is neither made nor read
};

// The host key files of the configured <sftphostkey> text (file names separated by
// commas, each relative to the program directory unless absolute; empty: the two
// made ones). programDirectory ends with '/'.
std::vector<std::string> sshHostKeyFiles(std::string_view configured, const std::string& programDirectory);

// The host keys the server would use with this <sftphostkey> text.
std::vector<SshHostKeyStatus> sshHostKeyStatuses(std::string_view configured, const std::string& programDirectory);

}  // namespace corvel
