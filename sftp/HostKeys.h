// The server's SSH host keys: an Ed25519 and an RSA-3072 key in the program
// directory, made on the first start with SFTP and never replaced afterwards, or the
// existing key files <sftphostkey> names, only ever read.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sftp/SshHandles.h"
#include "tls/SshKeys.h"

namespace corvel::sftp {

using corvel::kEd25519HostKeyFile;
using corvel::kRsaHostKeyFile;
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
// Loads the existing key file at path, of any kind a host key may be (Ed25519, RSA
// of at least kMinRsaKeyBits, ECDSA); the file is never written. nullopt, with
// *error saying why (missing, unreadable, encrypted, no key), otherwise.
std::optional<HostKey> loadHostKey(const std::string& path, std::string* error);
// The SHA-256 fingerprint of a key, "SHA256:" and its unpadded base64; "" on a failure.
std::string fingerprintOf(ssh_key key);

}  // namespace corvel::sftp
