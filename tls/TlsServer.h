// The server side of TLS (OpenSSL): one context per run with the certificate and key
// loaded at start (and again when a renewed pair is reloaded), and the handshake that
// turns an accepted socket into a protected one.
#pragma once

#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace corvel {

class Socket;

// Ties a control connection to its data connections: every session ticket issued on
// the control connection carries it, and a data connection that must resume the
// control connection's session is only accepted with a ticket that carries it.
using TlsSessionToken = std::array<unsigned char, 16>;

// A fresh random token (one per control connection).
TlsSessionToken newTlsSessionToken();

// How long a handshake may take in all; past it the connection ends.
constexpr std::chrono::milliseconds kTlsHandshakeLimit{30000};

// What a protected connection is for.
enum class TlsRole {
    Control,       // an FTP control connection: issues the tickets its data connections resume
    Web,           // an HTTPS connection
    Data,          // an FTP data connection: issues no tickets (nobody would read them, and
                   // a client that closes with them unread makes its system reset the upload)
    ResumingData,  // a data connection that must resume its control connection's session
};

enum class TlsAccept {
    Done,               // the socket speaks TLS now
    Failed,             // the handshake failed, timed out or the peer left
    NotResumed,         // done, but the session was not the required resumed one
};

// Thread-safe once created: handshakes of any number of threads share it.
class TlsServer {
public:
    ~TlsServer();
    TlsServer(TlsServer&&) noexcept;
    TlsServer& operator=(TlsServer&&) noexcept;
    TlsServer(const TlsServer&) = delete;
    TlsServer& operator=(const TlsServer&) = delete;

    // TLS 1.2 and 1.3 with the library's secure defaults, the certificate chain and
    // the key from PEM files. nullopt, with *error for people, when a file cannot be
    // read or the key does not belong to the certificate.
    static std::optional<TlsServer> load(const std::string& certificateFile, const std::string& keyFile,
                                         std::string* error);

    // Loads a new pair (a renewed certificate) for the handshakes from now on; live
    // connections keep the one they began with, and the session tickets issued so far
    // stay valid. false, with *error for people and the pair in use unchanged, when a
    // file cannot be read or the key does not belong to the certificate. Thread-safe
    // beside accept.
    bool replacePair(const std::string& certificateFile, const std::string& keyFile, std::string* error);

    // Runs the server side of a handshake on socket (non-blocking), within limit,
    // then attaches TLS to it so every later receive and send is protected. The
    // tickets it issues carry token. As ResumingData the peer must resume a session
    // whose ticket carries token (a data connection of that control connection).
    TlsAccept accept(Socket& socket, const TlsSessionToken& token, TlsRole role,
                     std::chrono::milliseconds limit = kTlsHandshakeLimit) const;

private:
    struct Impl;
    explicit TlsServer(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace corvel
