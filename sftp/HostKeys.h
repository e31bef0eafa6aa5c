// The server's SSH host keys: an Ed25519 and an RSA-3072 key in the program
// directory, made on the first start with SFTP and never replaced afterwards.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sftp/SshHandles.h"

namespace corvel::sftp {

inline constexpr char kEd25519HostKeyFile[] = "corveld-sftp-ed25519.key";
inline constexpr char kRsaHostKeyFile[] = "corveld-sftp-rsa.key";
constexpr int kRsaHostKeyBits = 3072;

struct HostKey {
    std::string path;
    std::string fingerprint;  // "SHA256:..." as OpenSSH's client shows it
    SshKey key;
    bool made = false;  // made by this call
};

// Loads the key at path, making it first (mode 0600, written atomically) when no
// file is there; an existing file is only ever read. nullopt, with *error, when it
// can be neither made nor read.
std::optional<HostKey> loadOrMakeHostKey(const std::string& path, enum ssh_keytypes_e type, int bits,
                                         std::string* error);
// The SHA-256 fingerprint of a key, "SHA256:" and its unpadded base64; "" on a failure.
std::string fingerprintOf(ssh_key key);

}  // namespace corvel::sftp
