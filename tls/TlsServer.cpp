#include "tls/TlsServer.h"

#include <algorithm>
#include <cstring>

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include "platform/Socket.h"
#include "platform/StreamLayer.h"
#include "common/ThreadSafety.h"

namespace corvel {
namespace {

using Clock = std::chrono::steady_clock;

// Where an SSL keeps a pointer to the token its tickets carry.
int tokenIndex() {
    static int index = -1;
    static std::once_flag once;
    std::call_once(once, [] { index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr); });
    return index;
}

std::string libraryError(const char* what) {
    std::string text = what;
    if (unsigned long code = ERR_get_error()) {
        char detail[256];
        ERR_error_string_n(code, detail, sizeof detail);
        text += ": ";
        text += detail;
    }
    ERR_clear_error();
    return text;
}

// Every ticket issued carries the token of the connection it was issued on.
int generateTicket(SSL* ssl, void*) {
    const auto* token = static_cast<const TlsSessionToken*>(SSL_get_ex_data(ssl, tokenIndex()));
    if (!token) return 1;
    return SSL_SESSION_set1_ticket_appdata(SSL_get0_session(ssl), token->data(), token->size());
}

SSL_TICKET_RETURN decryptTicket(SSL*, SSL_SESSION*, const unsigned char*, size_t, SSL_TICKET_STATUS status, void*) {
    switch (status) {
        case SSL_TICKET_SUCCESS: return SSL_TICKET_RETURN_USE;
        case SSL_TICKET_SUCCESS_RENEW: return SSL_TICKET_RETURN_USE_RENEW;
        case SSL_TICKET_EMPTY:
        case SSL_TICKET_NO_DECRYPT: return SSL_TICKET_RETURN_IGNORE_RENEW;
        default: return SSL_TICKET_RETURN_ABORT;
    }
}

// The TLS layer of one socket; used by that socket's thread alone.
class TlsLayer : public StreamLayer {
public:
    TlsLayer(SSL* ssl, const TlsSessionToken& token) : ssl_(ssl), token_(token) {
        SSL_set_ex_data(ssl_, tokenIndex(), &token_);
    }
    ~TlsLayer() override { SSL_free(ssl_); }
    TlsLayer(const TlsLayer&) = delete;
    TlsLayer& operator=(const TlsLayer&) = delete;

    SSL* ssl() const { return ssl_; }

    IoResult receive(int, void* buffer, std::size_t length) override {
        ERR_clear_error();
        const int n = SSL_read(ssl_, buffer, static_cast<int>(std::min<std::size_t>(length, 1 << 30)));
        return n > 0 ? finish(static_cast<std::size_t>(n)) : failure(n);
    }

    IoResult send(int, const void* buffer, std::size_t length) override {
        if (length == 0) return IoResult::moved(0);
        ERR_clear_error();
        const int n = SSL_write(ssl_, buffer, static_cast<int>(std::min<std::size_t>(length, 1 << 30)));
        return n > 0 ? finish(static_cast<std::size_t>(n)) : failure(n);
    }

    bool hasPendingInput() const override { return SSL_has_pending(ssl_) == 1; }
    bool wantsWrite() const override { return wantsWrite_; }
    bool wantsRead() const override { return wantsRead_; }

    std::optional<IoResult> sendFile(int, int fileFd, std::int64_t offset, std::size_t count) override {
        // Zero-copy only where the kernel does the encryption (kernel TLS).
        if (BIO_get_ktls_send(SSL_get_wbio(ssl_)) != 1) return std::nullopt;
        ERR_clear_error();
        const ossl_ssize_t n = SSL_sendfile(ssl_, fileFd, static_cast<off_t>(offset), count, 0);
        if (n > 0) return finish(static_cast<std::size_t>(n));
        const IoResult why = failure(static_cast<int>(n));
        // The end of the file: nothing more to send.
        return why.state == IoState::Closed ? IoResult::moved(0) : why;
    }

    void shutdown(int) override {
        ERR_clear_error();
        (void)SSL_shutdown(ssl_);  // the close_notify goes out now or not at all
        ERR_clear_error();
    }

private:
    IoResult finish(std::size_t n) {
        wantsRead_ = wantsWrite_ = false;
        return IoResult::moved(n);
    }

    IoResult failure(int result) {
        wantsRead_ = wantsWrite_ = false;
        switch (SSL_get_error(ssl_, result)) {
            case SSL_ERROR_WANT_READ: wantsRead_ = true; return IoResult::wouldBlock();
            case SSL_ERROR_WANT_WRITE: wantsWrite_ = true; return IoResult::wouldBlock();
            case SSL_ERROR_ZERO_RETURN: return IoResult::closed();  // the peer's close_notify, or a plain close
            default: ERR_clear_error(); return IoResult::failed();
        }
    }

    SSL* ssl_;
    TlsSessionToken token_;
    bool wantsRead_ = false;
    bool wantsWrite_ = false;
};

}  // namespace

TlsSessionToken newTlsSessionToken() {
    TlsSessionToken token{};
    if (RAND_bytes(token.data(), static_cast<int>(token.size())) != 1) {
        // The library's generator failing leaves us the clock and an address; reuse
        // then still ties data connections to a server's own tickets.
        const auto now = Clock::now().time_since_epoch().count();
        std::memcpy(token.data(), &now, std::min(sizeof now, token.size()));
    }
    return token;
}

using SharedContext = std::shared_ptr<SSL_CTX>;

// Bytes of a context's ticket keys as the library hands them out: the key name,
// the HMAC key and the AES key.
constexpr std::size_t kTicketKeyBytes = 16 + 32 + 32;

struct TlsServer::Impl {
    // Swapped whole by a certificate reload; a handshake takes the one current then,
    // and its SSL holds a reference of its own, so a live connection keeps its
    // certificate while new ones get the new.
    explicit Impl(SharedContext first) : context(std::move(first)) {}

    mutable Mutex mutex;
    SharedContext context GUARDED_BY(mutex);

    SharedContext current() const {
        MutexLock guard(mutex);
        return context;
    }
};

// The TLS 1.2 suites of Mozilla's "intermediate" profile, in its order, and the
// TLS 1.3 suites (all of them AEAD).
constexpr char kTls12Ciphers[] =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:ECDHE-ECDSA-AES256-GCM-SHA384:"
    "ECDHE-RSA-AES256-GCM-SHA384:ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305:"
    "DHE-RSA-AES128-GCM-SHA256:DHE-RSA-AES256-GCM-SHA384:DHE-RSA-CHACHA20-POLY1305";
constexpr char kTls13Suites[] = "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256";

TlsServer::TlsServer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
TlsServer::~TlsServer() = default;
TlsServer::TlsServer(TlsServer&&) noexcept = default;
TlsServer& TlsServer::operator=(TlsServer&&) noexcept = default;

namespace {

// A context with the settings of this server and the pair from the files; nullptr
// with *error for people when a file cannot be read or the key is another's.
SharedContext makeContext(const std::string& certificateFile, const std::string& keyFile, std::string* error) {
    auto fail = [error](const std::string& text) -> SharedContext {
        if (error) *error = text;
        return nullptr;
    };
    ERR_clear_error();
    SharedContext owned(SSL_CTX_new(TLS_server_method()), &SSL_CTX_free);
    if (!owned) return fail(libraryError("cannot create a TLS context"));
    SSL_CTX* context = owned.get();
    // SECURITY: TLS 1.2 and 1.3 only, with authenticated encryption (AEAD) suites
    // only, as Mozilla's "intermediate" profile has them: no CBC, no SHA-1 MACs;
    // no renegotiation.
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_max_proto_version(context, TLS1_3_VERSION);
    if (SSL_CTX_set_cipher_list(context, kTls12Ciphers) != 1 || SSL_CTX_set_ciphersuites(context, kTls13Suites) != 1)
        return fail(libraryError("cannot set the TLS cipher suites"));
    SSL_CTX_set_dh_auto(context, 1);  // the DHE suites take the standard group that fits the key
    SSL_CTX_set_options(context, SSL_OP_NO_RENEGOTIATION | SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_ENABLE_KTLS);
    // Non-blocking sockets: a write may finish in parts, and be retried from another
    // position of the same buffer.
    SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    static const unsigned char kSessionContext[] = "corveld";
    SSL_CTX_set_session_id_context(context, kSessionContext, sizeof kSessionContext - 1);
    SSL_CTX_set_session_ticket_cb(context, generateTicket, decryptTicket, nullptr);
    if (SSL_CTX_use_certificate_chain_file(context, certificateFile.c_str()) != 1)
        return fail(libraryError(("cannot read the certificate " + certificateFile).c_str()));
    if (SSL_CTX_use_PrivateKey_file(context, keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
        // The library checks the pair as it loads the key.
        if (ERR_GET_REASON(ERR_peek_last_error()) == X509_R_KEY_VALUES_MISMATCH)
            return fail(libraryError(("the key " + keyFile + " does not belong to the certificate " + certificateFile).c_str()));
        return fail(libraryError(("cannot read the key " + keyFile).c_str()));
    }
    if (SSL_CTX_check_private_key(context) != 1)
        return fail(libraryError(("the key " + keyFile + " does not belong to the certificate " + certificateFile).c_str()));
    return owned;
}

}  // namespace

std::optional<TlsServer> TlsServer::load(const std::string& certificateFile, const std::string& keyFile,
                                         std::string* error) {
    SharedContext context = makeContext(certificateFile, keyFile, error);
    if (!context) return std::nullopt;
    return TlsServer(std::make_unique<Impl>(std::move(context)));
}

bool TlsServer::replacePair(const std::string& certificateFile, const std::string& keyFile, std::string* error) {
    SharedContext fresh = makeContext(certificateFile, keyFile, error);
    if (!fresh) return false;
    // The tickets issued before stay readable, so the data connections of a live
    // session still resume the session of its control connection.
    unsigned char keys[kTicketKeyBytes];
    const SharedContext old = impl_->current();
    if (SSL_CTX_get_tlsext_ticket_keys(old.get(), keys, sizeof keys) != 1 ||
        SSL_CTX_set_tlsext_ticket_keys(fresh.get(), keys, sizeof keys) != 1) {
        OPENSSL_cleanse(keys, sizeof keys);
        if (error) *error = libraryError("cannot carry the session ticket keys over to the new certificate");
        return false;
    }
    OPENSSL_cleanse(keys, sizeof keys);
    MutexLock guard(impl_->mutex);
    impl_->context = std::move(fresh);
    return true;
}

TlsAccept TlsServer::accept(Socket& socket, const TlsSessionToken& token, TlsRole role,
                            std::chrono::milliseconds limit) const {
    const bool dataConnection = role == TlsRole::Data || role == TlsRole::ResumingData;
    const bool mustResume = role == TlsRole::ResumingData;
    if (!socket.isOpen()) return TlsAccept::Failed;
    SSL* ssl = SSL_new(impl_->current().get());
    if (!ssl) return TlsAccept::Failed;
    auto layer = std::make_unique<TlsLayer>(ssl, token);
    if (SSL_set_fd(ssl, socket.descriptor()) != 1) return TlsAccept::Failed;
    if (dataConnection) SSL_set_num_tickets(ssl, 0);
    const auto end = Clock::now() + limit;
    for (;;) {
        ERR_clear_error();
        const int result = SSL_accept(ssl);
        if (result == 1) break;
        const int reason = SSL_get_error(ssl, result);
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0 || (reason != SSL_ERROR_WANT_READ && reason != SSL_ERROR_WANT_WRITE)) {
            ERR_clear_error();
            return TlsAccept::Failed;
        }
        const int step = static_cast<int>(std::min<long long>(left, kWaitStepMs));
        const WaitResult wait = reason == SSL_ERROR_WANT_READ ? socket.waitReadable(step) : socket.waitWritable(step);
        if (wait == WaitResult::Failed) return TlsAccept::Failed;
    }
    bool resumedOurs = false;
    if (SSL_session_reused(ssl) == 1) {
        void* data = nullptr;
        std::size_t length = 0;
        // SECURITY: a session of this server is not enough; it must be one issued on
        // the control connection this data connection belongs to. A session resumed
        // by its id alone (no ticket) carries no token and is taken as vsftpd does.
        if (SSL_SESSION_get0_ticket_appdata(SSL_get0_session(ssl), &data, &length) != 1 || length == 0)
            resumedOurs = true;
        else
            resumedOurs = length == token.size() && std::memcmp(data, token.data(), length) == 0;
    }
    socket.attachLayer(std::move(layer));
    if (mustResume && !resumedOurs) return TlsAccept::NotResumed;
    return TlsAccept::Done;
}

}  // namespace corvel
