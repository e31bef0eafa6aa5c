// The TLS server side against an OpenSSL client on a socket pair: certificates made
// and refused, bytes through the layer, files sent through it, and data connections
// that must resume the session of their own control connection.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>
#include <fstream>
#include <thread>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include "platform/FileSystem.h"
#include "platform/Socket.h"
#include "support/ScratchFiles.h"
#include "tls/Certificate.h"
#include "tls/TlsServer.h"

namespace corvel {
namespace {

using testing::SocketPair;

class TlsServerTest : public testing::ScratchDirectoryTest {
protected:
    void SetUp() override {
        // As the server does: a write to a peer that left fails instead of killing us.
        std::signal(SIGPIPE, SIG_IGN);
        testing::ScratchDirectoryTest::SetUp();
        ASSERT_TRUE(createSelfSignedCertificate(path("cert.pem"), path("key.pem"), "files.example"));
        std::string error;
        std::optional<TlsServer> loaded = TlsServer::load(path("cert.pem"), path("key.pem"), &error);
        ASSERT_TRUE(loaded) << error;
        server_.emplace(std::move(*loaded));
        client_ = SSL_CTX_new(TLS_client_method());
        SSL_CTX_set_min_proto_version(client_, TLS1_2_VERSION);
    }
    void TearDown() override {
        SSL_SESSION_free(saved_);
        SSL_CTX_free(client_);
        testing::ScratchDirectoryTest::TearDown();
    }

    // Connects an OpenSSL client on the far end (blocking), optionally resuming a
    // saved session; keeps the session it ends up with. Runs body after the handshake.
    std::thread connectClient(int fd, SSL_SESSION* resume, std::function<void(SSL*)> body, bool* resumed = nullptr) {
        return std::thread([this, fd, resume, body, resumed] {
            SSL* ssl = SSL_new(client_);
            SSL_set_fd(ssl, fd);
            if (resume) SSL_set_session(ssl, resume);
            if (SSL_connect(ssl) == 1) {
                if (resumed) *resumed = SSL_session_reused(ssl) == 1;
                body(ssl);
                SSL_shutdown(ssl);
            }
            SSL_free(ssl);
            ERR_clear_error();
        });
    }

    std::optional<TlsServer> server_;
    SSL_CTX* client_ = nullptr;
    SSL_SESSION* saved_ = nullptr;
};

TEST_F(TlsServerTest, AMadeCertificateHasItsNameAPrivateKeyAndAFingerprint) {
    struct stat key {};
    ASSERT_EQ(::stat(path("key.pem").c_str(), &key), 0);
    EXPECT_EQ(key.st_mode & 0777, 0600u);
    std::optional<std::string> fingerprint = certificateFingerprint(path("cert.pem"));
    ASSERT_TRUE(fingerprint);
    EXPECT_EQ(fingerprint->size(), 32u * 3 - 1);
    EXPECT_EQ((*fingerprint)[2], ':');
    EXPECT_FALSE(certificateFingerprint(path("missing.pem")));
    EXPECT_NE(read("cert.pem").find("BEGIN CERTIFICATE"), std::string::npos);
}

TEST_F(TlsServerTest, FilesThatCannotBeReadOrDoNotMatchAreRefusedWithTheReason) {
    std::string error;
    EXPECT_FALSE(TlsServer::load(path("none.pem"), path("key.pem"), &error));
    EXPECT_NE(error.find("cannot read the certificate " + path("none.pem")), std::string::npos) << error;
    ASSERT_TRUE(createSelfSignedCertificate(path("other.pem"), path("other-key.pem"), "other"));
    EXPECT_FALSE(TlsServer::load(path("cert.pem"), path("other-key.pem"), &error));
    EXPECT_NE(error.find("does not belong to the certificate"), std::string::npos) << error;
    write("junk.pem", "not a certificate");
    EXPECT_FALSE(TlsServer::load(path("junk.pem"), path("key.pem"), &error));
}

TEST_F(TlsServerTest, BytesAndFilesPassThroughTheLayer) {
    const std::string file(300000, 'f');
    write("data.bin", file + "end");
    SocketPair pair;
    ASSERT_TRUE(pair.near.setNonBlocking());
    std::string received;
    std::thread client = connectClient(pair.far.descriptor(), nullptr, [&](SSL* ssl) {
        SSL_write(ssl, "hello\n", 6);
        char buffer[65536];
        for (int n; (n = SSL_read(ssl, buffer, sizeof buffer)) > 0;) received.append(buffer, static_cast<std::size_t>(n));
    });
    ASSERT_EQ(server_->accept(pair.near, newTlsSessionToken(), TlsRole::Web), TlsAccept::Done);
    ASSERT_NE(pair.near.layer(), nullptr);
    char line[16] = {};
    IoResult got = IoResult::wouldBlock();
    for (int i = 0; i < 100 && got.state == IoState::WouldBlock; ++i) {
        if (pair.near.waitReadable(100) == WaitResult::Failed) break;
        got = pair.near.receive(line, sizeof line);
    }
    EXPECT_EQ(std::string(line, got.bytes), "hello\n");
    EXPECT_EQ(sendAll(pair.near, "reply:"), 6);
    OpenedFile opened = openFileForReading(path("data.bin"));
    ASSERT_EQ(opened.status, OpenStatus::Opened);
    EXPECT_TRUE(sendFileRange(opened.file, pair.near, 0, opened.info.size));
    pair.near.close();  // says close_notify first
    client.join();
    EXPECT_EQ(received, "reply:" + file + "end");
}

TEST_F(TlsServerTest, ADataConnectionMustResumeItsOwnControlSession) {
    const TlsSessionToken control = newTlsSessionToken();
    {
        // The control connection: the client keeps the ticket it was given.
        SocketPair pair;
        ASSERT_TRUE(pair.near.setNonBlocking());
        std::thread client = connectClient(pair.far.descriptor(), nullptr, [&](SSL* ssl) {
            char byte;
            SSL_read(ssl, &byte, 1);  // reads the tickets that came before it
            saved_ = SSL_get1_session(ssl);
        });
        ASSERT_EQ(server_->accept(pair.near, control, TlsRole::Control), TlsAccept::Done);
        EXPECT_EQ(sendAll(pair.near, "x"), 1);
        client.join();
    }
    ASSERT_NE(saved_, nullptr);
    auto dataConnection = [&](const TlsSessionToken& token, SSL_SESSION* resume, TlsRole role, bool* resumed) {
        SocketPair pair;
        EXPECT_TRUE(pair.near.setNonBlocking());
        std::thread client = connectClient(pair.far.descriptor(), resume, [](SSL*) {}, resumed);
        TlsAccept result = server_->accept(pair.near, token, role);
        pair.near.close();
        client.join();
        return result;
    };
    bool resumed = false;
    EXPECT_EQ(dataConnection(control, saved_, TlsRole::ResumingData, &resumed), TlsAccept::Done);
    EXPECT_TRUE(resumed);
    // Another control connection's data connection cannot take this session over...
    EXPECT_EQ(dataConnection(newTlsSessionToken(), saved_, TlsRole::ResumingData, &resumed), TlsAccept::NotResumed);
    // ... nor can a client that does not resume at all.
    EXPECT_EQ(dataConnection(control, nullptr, TlsRole::ResumingData, &resumed), TlsAccept::NotResumed);
    // Without the requirement (<tlsreuse>no) both are let in.
    EXPECT_EQ(dataConnection(control, nullptr, TlsRole::Data, &resumed), TlsAccept::Done);
}

// The common name of the certificate a client was shown.
std::string peerName(SSL* ssl) {
    X509* peer = SSL_get1_peer_certificate(ssl);
    if (!peer) return {};
    char name[256] = {};
    X509_NAME_get_text_by_NID(X509_get_subject_name(peer), NID_commonName, name, sizeof name);
    X509_free(peer);
    return name;
}

TEST_F(TlsServerTest, AReloadedPairServesNewHandshakesWhileLiveOnesAndTheirTicketsGoOn) {
    auto handshakeName = [&](SSL_SESSION* resume = nullptr, bool* resumed = nullptr) {
        SocketPair pair;
        EXPECT_TRUE(pair.near.setNonBlocking());
        std::string name;
        std::thread client = connectClient(pair.far.descriptor(), resume, [&](SSL* ssl) { name = peerName(ssl); },
                                           resumed);
        (void)server_->accept(pair.near, newTlsSessionToken(), TlsRole::Web);
        pair.near.close();
        client.join();
        return name;
    };
    EXPECT_EQ(handshakeName(), "files.example");

    // A control connection that lives through the reload, with the ticket it was given.
    const TlsSessionToken token = newTlsSessionToken();
    SocketPair live;
    ASSERT_TRUE(live.near.setNonBlocking());
    std::string liveName, afterReload;
    std::thread liveClient = connectClient(live.far.descriptor(), nullptr, [&](SSL* ssl) {
        char byte;
        SSL_read(ssl, &byte, 1);
        saved_ = SSL_get1_session(ssl);
        liveName = peerName(ssl);
        char buffer[16] = {};
        const int n = SSL_read(ssl, buffer, sizeof buffer);
        if (n > 0) afterReload.assign(buffer, static_cast<std::size_t>(n));
    });
    ASSERT_EQ(server_->accept(live.near, token, TlsRole::Control), TlsAccept::Done);
    EXPECT_EQ(sendAll(live.near, "x"), 1);

    ASSERT_TRUE(createSelfSignedCertificate(path("renewed.pem"), path("renewed-key.pem"), "renewed.example"));
    std::string error;
    ASSERT_TRUE(server_->replacePair(path("renewed.pem"), path("renewed-key.pem"), &error)) << error;
    EXPECT_EQ(handshakeName(), "renewed.example");
    EXPECT_EQ(sendAll(live.near, "still here"), 10);
    live.near.close();
    liveClient.join();
    EXPECT_EQ(liveName, "files.example");
    EXPECT_EQ(afterReload, "still here");

    // A data connection of the live session resumes the session it was given before.
    ASSERT_NE(saved_, nullptr);
    SocketPair data;
    ASSERT_TRUE(data.near.setNonBlocking());
    bool resumed = false;
    std::thread dataClient = connectClient(data.far.descriptor(), saved_, [](SSL*) {}, &resumed);
    EXPECT_EQ(server_->accept(data.near, token, TlsRole::ResumingData), TlsAccept::Done);
    data.near.close();
    dataClient.join();
    EXPECT_TRUE(resumed);

    // A pair that does not match, or a file that is not there, is refused; the renewed one stays.
    EXPECT_FALSE(server_->replacePair(path("cert.pem"), path("renewed-key.pem"), &error));
    EXPECT_NE(error.find("does not belong to the certificate"), std::string::npos) << error;
    EXPECT_FALSE(server_->replacePair(path("gone.pem"), path("key.pem"), &error));
    EXPECT_NE(error.find("cannot read the certificate"), std::string::npos) << error;
    EXPECT_EQ(handshakeName(), "renewed.example");
}

TEST_F(TlsServerTest, ClearTextOrSilenceInsteadOfAHandshakeFails) {
    SocketPair pair;
    ASSERT_TRUE(pair.near.setNonBlocking());
    ASSERT_EQ(::send(pair.far.descriptor(), "USER alice\r\n", 12, 0), 12);
    EXPECT_EQ(server_->accept(pair.near, newTlsSessionToken(), TlsRole::Control), TlsAccept::Failed);
    SocketPair silent;
    ASSERT_TRUE(silent.near.setNonBlocking());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(server_->accept(silent.near, newTlsSessionToken(), TlsRole::Control, std::chrono::milliseconds(300)),
              TlsAccept::Failed);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

}  // namespace
}  // namespace corvel
