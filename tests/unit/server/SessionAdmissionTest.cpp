// Who a new FTP session lets in and how long a session may stay without logging
// in: the share of one address that has not logged in yet, the share of all its
// sessions, and the login deadline with its 421 reply.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "accounts/AccessPolicy.h"
#include "accounts/LoginGuard.h"
#include "accounts/UserTable.h"
#include "common/PasswordDigest.h"
#include "ftp/FtpContext.h"
#include "ftp/FtpReplies.h"
#include "ftp/FtpSession.h"
#include "server/SessionRegistry.h"
#include "tests/unit/accounts/TempProgramDirectory.h"
#include "tests/unit/web/LoopbackPair.h"

namespace corvel {
namespace {

using namespace std::chrono_literals;
using testing::LoopbackPair;
using testing::makeLoopbackPair;

// Everything that arrived so far, waiting at most timeoutMs for the first byte.
std::string receiveWaiting(Socket& socket, int timeoutMs = 2000) {
    std::string out;
    char buffer[4096];
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        const IoResult r = socket.receive(buffer, sizeof buffer);
        if (r.ok()) {
            out.append(buffer, r.bytes);
            deadline = std::chrono::steady_clock::now() + 50ms;  // the rest of what was sent together
            continue;
        }
        if (r.state != IoState::WouldBlock) break;
        (void)socket.waitReadable(10);
    }
    return out;
}

struct Connected {
    LoopbackPair pair;
    std::unique_ptr<FtpSession> session;
};

struct SessionAdmission : ::testing::Test {
    TempProgramDirectory dir;
    std::unique_ptr<UserTable> users;
    std::unique_ptr<AccessPolicy> policy;
    std::atomic<int> active{0};
    LoginGuard logins{nullptr, 0ms};
    SessionRegistry registry;

    void SetUp() override {
        dir.write("ftpusers.xml", "<users><user username=\"alice\" password=\"" + passwordDigest("pw") +
                                      "\" alias=\"\" privilege=\"131074\" work_dir=\"" + dir.file("") +
                                      "\" welcome_msg=\"\" disabled=\"no\" /></users>");
        users = std::make_unique<UserTable>(dir.directory());
        users->load();
        policy = std::make_unique<AccessPolicy>(dir.directory());
        policy->load();
    }

    FtpContext context(std::uint32_t perAddress, std::uint32_t notLoggedIn, std::chrono::milliseconds deadline,
                       std::uint32_t maxConnections = 100) {
        return FtpContext{.users = *users,
                          .policy = *policy,
                          .activeConnections = active,
                          .logins = logins,
                          .maxConnections = maxConnections,
                          .welcomeMessage = "",
                          .tls = nullptr,
                          .passivePorts = std::nullopt,
                          .passiveAddress = nullptr,
                          .sessions = &registry,
                          .maxPerAddress = perAddress,
                          .maxLoginPerAddress = notLoggedIn,
                          .loginDeadline = deadline};
    }

    Connected connect(const FtpContext& ctx, const std::string& address) {
        Connected c;
        c.pair = makeLoopbackPair();
        c.session = std::make_unique<FtpSession>(std::move(c.pair.server), ctx, address);
        return c;
    }

    void logIn(Connected& c) {
        const std::string lines = "USER alice\r\nPASS pw\r\n";
        ASSERT_EQ(c.pair.client.send(lines.data(), lines.size()).bytes, lines.size());
        ASSERT_TRUE(c.session->readCommand());
        ASSERT_TRUE(c.session->readCommand());
        ASSERT_NE(receiveWaiting(c.pair.client).find("230"), std::string::npos);
    }
};

TEST_F(SessionAdmission, AnAddressPastItsShareOfSessionsNotLoggedInIsRefusedUntilOneLogsIn) {
    // Six places in all: the share binds once three are taken, which the first
    // session (of another address) and two of this one's do.
    const FtpContext ctx = context(0, 2, kLoginDeadline, 5);
    Connected filler = connect(ctx, "192.0.2.1");
    std::vector<Connected> held;
    for (int i = 0; i < 2; ++i) {
        held.push_back(connect(ctx, "192.0.2.7"));
        EXPECT_EQ(receiveWaiting(held.back().pair.client).substr(0, 4), "220 ");
    }
    Connected refused = connect(ctx, "192.0.2.7");
    EXPECT_EQ(receiveWaiting(refused.pair.client), replies::textsOf(replies::Dialect::Designed).tooManyConnections);
    EXPECT_FALSE(refused.session->isOpen());
    Connected elsewhere = connect(ctx, "192.0.2.8");  // another address is not affected
    EXPECT_EQ(receiveWaiting(elsewhere.pair.client).substr(0, 4), "220 ");
    EXPECT_EQ(registry.notLoggedInCountOf("192.0.2.7"), 2u);

    logIn(held[0]);
    EXPECT_EQ(registry.notLoggedInCountOf("192.0.2.7"), 1u);
    Connected next = connect(ctx, "192.0.2.7");
    EXPECT_EQ(receiveWaiting(next.pair.client).substr(0, 4), "220 ");
    // A session that ends gives its place back.
    refused.session.reset();
    next.session.reset();
    EXPECT_EQ(registry.countOf("192.0.2.7"), 2u);
    EXPECT_EQ(registry.notLoggedInCountOf("192.0.2.7"), 1u);
}

TEST_F(SessionAdmission, TheShareOfAllSessionsCountsLoggedInOnesToo) {
    const FtpContext ctx = context(2, 8, kLoginDeadline);
    Connected first = connect(ctx, "192.0.2.9");
    logIn(first);
    Connected second = connect(ctx, "192.0.2.9");
    EXPECT_EQ(receiveWaiting(second.pair.client).substr(0, 4), "220 ");
    Connected third = connect(ctx, "192.0.2.9");
    EXPECT_EQ(receiveWaiting(third.pair.client), replies::textsOf(replies::Dialect::Designed).tooManyConnections);
}

TEST_F(SessionAdmission, ASessionNotLoggedInByTheDeadlineIsClosedWith421AndALoggedInOneStays) {
    const FtpContext ctx = context(0, 0, 300ms);
    // The member's own deadline leaves room for a password check slowed by a
    // sanitizer on a loaded machine; the test waits it out further down.
    constexpr auto kMemberDeadline = 1500ms;
    const FtpContext memberCtx = context(0, 0, kMemberDeadline);
    const auto start = std::chrono::steady_clock::now();
    Connected silent = connect(ctx, "192.0.2.10");
    Connected member = connect(memberCtx, "192.0.2.12");
    for (Connected* c : {&silent, &member}) (void)receiveWaiting(c->pair.client);
    logIn(member);

    EXPECT_FALSE(silent.session->readCommand());
    EXPECT_GE(std::chrono::steady_clock::now() - start, 250ms);
    EXPECT_EQ(receiveWaiting(silent.pair.client), replies::kLoginTimeout);
    EXPECT_FALSE(silent.session->isOpen());

    // Commands do not put the deadline off, and a failed login does not either.
    Connected chatty = connect(ctx, "192.0.2.11");
    (void)receiveWaiting(chatty.pair.client);
    const std::string noop = "NOOP\r\nUSER alice\r\nPASS wrong\r\n";
    ASSERT_EQ(chatty.pair.client.send(noop.data(), noop.size()).bytes, noop.size());
    while (chatty.session->readCommand()) {
    }
    const std::string said = receiveWaiting(chatty.pair.client);
    EXPECT_NE(said.find(replies::kLoginIncorrect), std::string::npos) << said;
    EXPECT_TRUE(said.ends_with(replies::kLoginTimeout)) << said;

    // Logged in before the deadline: it never applies.
    std::this_thread::sleep_until(start + kMemberDeadline + 100ms);
    const std::string later = "NOOP\r\n";
    ASSERT_EQ(member.pair.client.send(later.data(), later.size()).bytes, later.size());
    EXPECT_TRUE(member.session->readCommand());
    EXPECT_EQ(receiveWaiting(member.pair.client), replies::kCommandOkay);
}

}  // namespace
}  // namespace corvel
