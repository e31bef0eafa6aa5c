// The command table driven without a socket: every verb before login, after USER
// alone, and after login with and without the right it needs, in both dialects.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "accounts/AccessPolicy.h"
#include "accounts/LoginGuard.h"
#include "accounts/UserTable.h"
#include "common/Permissions.h"
#include "common/PasswordDigest.h"
#include "ftp/FtpContext.h"
#include "ftp/FtpReplies.h"
#include "ftp/FtpSession.h"
#include "ftp/ReplySink.h"
#include "tests/unit/accounts/TempProgramDirectory.h"

namespace corvel {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr std::uint32_t kEveryRight = PERM_CREATE_FILE | PERM_READ_FILE | PERM_WRITE_FILE | PERM_REMOVE_FILE |
                                      PERM_CREATE_DIR | PERM_LIST | PERM_REMOVE_DIR;

struct RecordedReplies final : ReplySink {
    void send(std::string_view text) override { all.append(text); }
    // What arrived since the last call.
    std::string take() { return std::exchange(all, {}); }
    std::string all;
};

// A verb that works on files, with an argument naming something in the home, and
// the right it needs (0: none).
struct FileVerb {
    const char* verb;
    const char* argument;
    std::uint32_t right;
    bool extension = false;  // exists only with <ftpext>
};

const std::vector<FileVerb> kFileVerbs = {
    {"SIZE", "a.txt", PERM_READ_FILE},
    {"RETR", "a.txt", PERM_READ_FILE},
    {"RNFR", "a.txt", PERM_WRITE_FILE},
    {"RNTO", "b.txt", PERM_WRITE_FILE},
    {"APPE", "a.txt", PERM_WRITE_FILE},
    {"STOR", "a.txt", PERM_WRITE_FILE},
    {"DELE", "a.txt", PERM_REMOVE_FILE},
    {"RMD", "empty", PERM_REMOVE_DIR},
    {"XRMD", "empty", PERM_REMOVE_DIR},
    {"MKD", "made", PERM_CREATE_DIR},
    {"XMKD", "made", PERM_CREATE_DIR},
    {"LIST", "", PERM_LIST},
    {"NLST", "", PERM_LIST},
    {"REST", "0", 0},
    {"STAT", "", 0},
    {"PWD", "", 0},
    {"XPWD", "", 0},
    {"CWD", "empty", 0},
    {"XCWD", "empty", 0},
    {"CDUP", "", 0},
    {"MDTM", "a.txt", PERM_READ_FILE, true},
    {"MFMT", "20200101000000 a.txt", PERM_WRITE_FILE, true},
    {"MLST", "a.txt", PERM_LIST, true},
    {"MLSD", "", PERM_LIST, true},
    {"ALLO", "", 0, true},
};

class SessionCommandTable : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        fs::create_directory(dir.file("home"));
        dir.write("ftpusers.xml", "<users>" + account("none", 0) + account("all", kEveryRight) + "</users>");
        users = std::make_unique<UserTable>(dir.directory());
        users->load();
        policy = std::make_unique<AccessPolicy>(dir.directory());
        policy->load();
    }

    std::string account(const std::string& name, std::uint32_t rights) const {
        return "<user username=\"" + name + "\" password=\"" + passwordDigest("pw") + "\" alias=\"\" privilege=\"" +
               std::to_string(rights) + "\" work_dir=\"" + dir.file("home") +
               "\" welcome_msg=\"\" disabled=\"no\" />";
    }
    // A home holding a.txt and an empty folder, as every verb's argument expects.
    void resetHome() const {
        fs::remove_all(dir.file("home"));
        fs::create_directories(dir.file("home/empty"));
        dir.write("home/a.txt", "hello");
    }
    std::vector<std::string> homeEntries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::recursive_directory_iterator(dir.file("home")))
            names.push_back(entry.path().string() + ":" +
                            (entry.is_regular_file() ? std::to_string(fs::file_size(entry.path())) : "d"));
        std::sort(names.begin(), names.end());
        return names;
    }

    std::unique_ptr<FtpSession> session() {
        context = std::make_unique<FtpContext>(FtpContext{.users = *users,
                                                          .policy = *policy,
                                                          .activeConnections = active,
                                                          .logins = logins,
                                                          .welcomeMessage = "",
                                                          .tls = nullptr,
                                                          .ftpExtensions = GetParam(),
                                                          .passivePorts = std::nullopt,
                                                          .passiveAddress = nullptr});
        auto made = std::make_unique<FtpSession>(replies, *context, "192.0.2.5");
        EXPECT_EQ(replies.take().substr(0, 4), "220 ");
        return made;
    }
    void logIn(FtpSession& s, const std::string& user) {
        s.dispatch("USER " + user);
        s.dispatch("PASS pw");
        ASSERT_EQ(replies.take().find("230"), std::string_view(replies::kUserOkay).size()) << user;
    }
    std::string run(FtpSession& s, const FileVerb& verb) {
        s.dispatch(std::string(verb.verb) + (*verb.argument ? " " : "") + verb.argument);
        return replies.take();
    }
    std::vector<FileVerb> verbsOfThisDialect() const {
        std::vector<FileVerb> verbs;
        for (const FileVerb& verb : kFileVerbs)
            if (!verb.extension || GetParam()) verbs.push_back(verb);
        return verbs;
    }

    TempProgramDirectory dir;
    std::unique_ptr<UserTable> users;
    std::unique_ptr<AccessPolicy> policy;
    std::atomic<int> active{0};
    LoginGuard logins{nullptr, 0ms};
    std::unique_ptr<FtpContext> context;
    RecordedReplies replies;
};

TEST_P(SessionCommandTable, EveryVerbThatNeedsALoginIsRefusedBeforeItAndAfterUserAlone) {
    resetHome();
    const auto before = homeEntries();
    auto s = session();
    for (const bool userGiven : {false, true}) {
        if (userGiven) {
            s->dispatch("USER all");
            EXPECT_EQ(replies.take(), replies::kUserOkay);
        }
        for (const FileVerb& verb : verbsOfThisDialect()) {
            SCOPED_TRACE(std::string(verb.verb) + (userGiven ? " after USER" : " before USER"));
            EXPECT_EQ(run(*s, verb), replies::kNotLoggedIn);
        }
        for (const char* line : {"PASV", "PORT 127,0,0,1,4,1"}) {
            s->dispatch(line);
            EXPECT_EQ(replies.take(), replies::kNotLoggedIn) << line;
        }
    }
    EXPECT_EQ(homeEntries(), before);
    // The verbs without a login still answer.
    EXPECT_EQ(run(*s, {"NOOP", "", 0}), replies::kCommandOkay);
    EXPECT_EQ(run(*s, {"SYST", "", 0}), replies::kSystem);
}

TEST_P(SessionCommandTable, AVerbWithoutItsRightIsDeniedAndChangesNothing) {
    resetHome();
    const auto before = homeEntries();
    auto s = session();
    logIn(*s, "none");
    for (const FileVerb& verb : verbsOfThisDialect()) {
        if (verb.right == 0) continue;
        SCOPED_TRACE(verb.verb);
        EXPECT_EQ(run(*s, verb), replies::kPermissionDenied);
        // A path above the home gets the same answer: a missing right tells nothing.
        EXPECT_EQ(run(*s, {verb.verb, "../../../etc/passwd", 0}), replies::kPermissionDenied);
    }
    EXPECT_EQ(homeEntries(), before);
}

TEST_P(SessionCommandTable, AVerbWithOnlyItsRightIsNotDenied) {
    for (const FileVerb& verb : verbsOfThisDialect()) {
        SCOPED_TRACE(verb.verb);
        resetHome();
        dir.write("ftpusers.xml", "<users>" + account("only", verb.right) + "</users>");
        users->load();
        auto s = session();
        logIn(*s, "only");
        const std::string answer = run(*s, verb);
        EXPECT_NE(answer, replies::kPermissionDenied);
        EXPECT_NE(answer.substr(0, 4), "530 ");
        EXPECT_NE(answer.substr(0, 4), "500 ");
    }
}

TEST_P(SessionCommandTable, FileCommandsWorkThroughTheSessionAndStayInsideTheHome) {
    resetHome();
    auto s = session();
    logIn(*s, "all");
    EXPECT_EQ(run(*s, {"MKD", "new", 0}).substr(0, 4), "257 ");
    EXPECT_TRUE(fs::is_directory(dir.file("home/new")));
    EXPECT_EQ(run(*s, {"CWD", "new", 0}).substr(0, 4), "250 ");
    EXPECT_EQ(run(*s, {"RNFR", "/a.txt", 0}).substr(0, 4), "350 ");
    EXPECT_EQ(run(*s, {"RNTO", "b.txt", 0}).substr(0, 4), "250 ");
    EXPECT_TRUE(fs::exists(dir.file("home/new/b.txt")));
    EXPECT_EQ(run(*s, {"SIZE", "b.txt", 0}), "213 5\r\n");
    // Climbing above the home is refused and touches nothing there.
    EXPECT_EQ(run(*s, {"MKD", "../../../outside", 0}).substr(0, 4), "550 ");
    EXPECT_FALSE(fs::exists(dir.file("outside")));
    EXPECT_EQ(run(*s, {"DELE", "b.txt", 0}).substr(0, 4), "250 ");
    EXPECT_FALSE(fs::exists(dir.file("home/new/b.txt")));
    EXPECT_EQ(run(*s, {"CDUP", "", 0}).substr(0, 4), "250 ");
    EXPECT_EQ(run(*s, {"RMD", "new", 0}).substr(0, 4), "250 ");
    // REIN takes the rights and the folder away; a login is needed again.
    EXPECT_EQ(run(*s, {"REIN", "", 0}).substr(0, 4), "220 ");
    EXPECT_EQ(run(*s, {"PWD", "", 0}), replies::kNotLoggedIn);
    EXPECT_FALSE(s->dispatch("QUIT"));
}

INSTANTIATE_TEST_SUITE_P(Dialects, SessionCommandTable, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& dialect) {
                             return dialect.param ? "Standard" : "Designed";
                         });

}  // namespace
}  // namespace corvel
