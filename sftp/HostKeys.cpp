#include "sftp/HostKeys.h"

#include "platform/AtomicFile.h"

namespace corvel::sftp {

std::string fingerprintOf(ssh_key key) {
    unsigned char* raw = nullptr;
    std::size_t length = 0;
    if (ssh_get_publickey_hash(key, SSH_PUBLICKEY_HASH_SHA256, &raw, &length) != SSH_OK) return {};
    SshHash hash(raw);
    SshText text(ssh_get_fingerprint_hash(SSH_PUBLICKEY_HASH_SHA256, hash.get(), length));
    return text ? std::string(text.get()) : std::string();
}

std::optional<HostKey> loadOrMakeHostKey(const std::string& path, enum ssh_keytypes_e type, int bits,
                                         std::string* error) {
    HostKey result;
    result.path = path;
    if (!pathExists(path)) {
        ssh_key made = nullptr;
        if (ssh_pki_generate(type, bits, &made) != SSH_OK) {
            *error = "cannot make the host key " + path;
            return std::nullopt;
        }
        SshKey owned(made);
        char* encoded = nullptr;
        if (ssh_pki_export_privkey_base64(owned.get(), nullptr, nullptr, nullptr, &encoded) != SSH_OK) {
            *error = "cannot encode the host key " + path;
            return std::nullopt;
        }
        SshText text(encoded);
        const std::string pem(text.get());
        // SECURITY: the owner alone may read a private key, from its first byte on.
        if (!replaceFileAtomically(
                path, [&pem](std::FILE* file) { return std::fwrite(pem.data(), 1, pem.size(), file) == pem.size(); },
                {}, kPrivateFileMode)) {
            *error = "cannot write the host key " + path;
            return std::nullopt;
        }
        result.made = true;
    }
    ssh_key loaded = nullptr;
    if (ssh_pki_import_privkey_file(path.c_str(), nullptr, nullptr, nullptr, &loaded) != SSH_OK) {
        *error = "cannot read the host key " + path;
        return std::nullopt;
    }
    result.key.reset(loaded);
    if (ssh_key_type(result.key.get()) != type) {
        *error = "the host key " + path + " is not of the kind its name says";
        return std::nullopt;
    }
    result.fingerprint = fingerprintOf(result.key.get());
    return result;
}

std::optional<HostKey> loadHostKey(const std::string& path, std::string* error) {
    // The key reader says why a file will not do (missing, unreadable, encrypted, a
    // short RSA key), where the SSH library would only say that it failed.
    if (!publicKeyOfKeyFile(path, error)) return std::nullopt;
    HostKey result;
    result.path = path;
    ssh_key loaded = nullptr;
    if (ssh_pki_import_privkey_file(path.c_str(), nullptr, nullptr, nullptr, &loaded) != SSH_OK) {
        *error = "cannot read the host key " + path;
        return std::nullopt;
    }
    result.key.reset(loaded);
    switch (ssh_key_type(result.key.get())) {
        case SSH_KEYTYPE_RSA:
        case SSH_KEYTYPE_ED25519:
        case SSH_KEYTYPE_ECDSA_P256:
        case SSH_KEYTYPE_ECDSA_P384:
        case SSH_KEYTYPE_ECDSA_P521:
            break;
        default:
            *error = "the host key " + path + " is of a kind this server does not use (Ed25519, RSA or ECDSA)";
            return std::nullopt;
    }
    result.fingerprint = fingerprintOf(result.key.get());
    return result;
}

}  // namespace corvel::sftp
