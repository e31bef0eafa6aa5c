#include "tls/Certificate.h"

#include <cstdio>
#include <memory>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include "platform/AtomicFile.h"

namespace corvel {
namespace {

struct X509Free {
    void operator()(X509* x) const { X509_free(x); }
};
struct KeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct FileClose {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
struct ExtensionFree {
    void operator()(X509_EXTENSION* e) const { X509_EXTENSION_free(e); }
};

bool fail(std::string* error, const std::string& text) {
    if (error) {
        *error = text;
        if (unsigned long code = ERR_get_error()) {
            char detail[256];
            ERR_error_string_n(code, detail, sizeof detail);
            *error += std::string(": ") + detail;
        }
    }
    ERR_clear_error();
    return false;
}

}  // namespace

std::optional<std::string> certificateFingerprint(const std::string& pemFile, std::string* error) {
    std::unique_ptr<std::FILE, FileClose> file(std::fopen(pemFile.c_str(), "r"));
    if (!file) {
        fail(error, "cannot open " + pemFile);
        return std::nullopt;
    }
    std::unique_ptr<X509, X509Free> certificate(PEM_read_X509(file.get(), nullptr, nullptr, nullptr));
    if (!certificate) {
        fail(error, pemFile + " holds no certificate");
        return std::nullopt;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(certificate.get(), EVP_sha256(), digest, &length) != 1) {
        fail(error, "cannot compute the fingerprint of " + pemFile);
        return std::nullopt;
    }
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, i ? ":%02X" : "%02X", digest[i]);
        text += pair;
    }
    return text;
}

bool createSelfSignedCertificate(const std::string& certificateFile, const std::string& keyFile,
                                 const std::string& hostName, std::string* error) {
    ERR_clear_error();
    std::unique_ptr<EVP_PKEY, KeyFree> key(EVP_EC_gen("P-256"));
    if (!key) return fail(error, "cannot make a key");
    std::unique_ptr<X509, X509Free> certificate(X509_new());
    if (!certificate) return fail(error, "cannot make a certificate");
    X509* x = certificate.get();
    X509_set_version(x, 2);  // X.509 v3, for the extensions
    unsigned char serial[16];
    if (RAND_bytes(serial, sizeof serial) != 1) return fail(error, "cannot make a serial number");
    serial[0] &= 0x7f;  // positive
    BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
    if (!number || !BN_to_ASN1_INTEGER(number, X509_get_serialNumber(x))) {
        BN_free(number);
        return fail(error, "cannot set the serial number");
    }
    BN_free(number);
    X509_gmtime_adj(X509_getm_notBefore(x), 0);
    X509_gmtime_adj(X509_getm_notAfter(x), kSelfSignedValidityDays * 24L * 3600L);
    X509_set_pubkey(x, key.get());
    const std::string name = hostName.empty() ? std::string("localhost") : hostName;
    X509_NAME* subject = X509_get_subject_name(x);
    X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(name.c_str()), -1,
                               -1, 0);
    X509_set_issuer_name(x, subject);
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, x, x, nullptr, nullptr, 0);
    const std::string alternatives = "DNS:" + name + (name == "localhost" ? "" : ",DNS:localhost") + ",IP:127.0.0.1";
    for (const auto& [nid, value] : {std::pair<int, std::string>{NID_subject_alt_name, alternatives},
                                    std::pair<int, std::string>{NID_basic_constraints, "critical,CA:FALSE"},
                                    std::pair<int, std::string>{NID_ext_key_usage, "serverAuth"}}) {
        std::unique_ptr<X509_EXTENSION, ExtensionFree> extension(
            X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str()));
        if (!extension || X509_add_ext(x, extension.get(), -1) != 1) return fail(error, "cannot add " + value);
    }
    if (X509_sign(x, key.get(), EVP_sha256()) == 0) return fail(error, "cannot sign the certificate");

    // The key first and private: a certificate without its key is of no use.
    if (!replaceFileAtomically(
            keyFile,
            [&](std::FILE* file) { return PEM_write_PrivateKey(file, key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1; },
            {}, kPrivateFileMode))
        return fail(error, "cannot write " + keyFile);
    if (!replaceFileAtomically(
            certificateFile, [&](std::FILE* file) { return PEM_write_X509(file, x) == 1; }, {}, kPublicFileMode))
        return fail(error, "cannot write " + certificateFile);
    return true;
}

}  // namespace corvel
