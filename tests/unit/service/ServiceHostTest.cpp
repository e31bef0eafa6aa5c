// Install, remove, start and stop against a fake systemctl: the unit file, the
// exact messages and dots people see, and the message for each failure.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <grp.h>
#include <fstream>
#include <sstream>

#include "platform/Process.h"
#include "platform/ServiceManager.h"
#include "service/ServiceHost.h"

namespace corvel {
namespace {

namespace fs = std::filesystem;

const std::string kFakeSystemctl = (fs::path(__FILE__).parent_path() / "fake_systemctl.sh").string();
const std::string kFakeGroupadd = (fs::path(__FILE__).parent_path() / "fake_groupadd.sh").string();
const std::string kFakeJournalctl = (fs::path(__FILE__).parent_path() / "fake_journalctl.sh").string();

class ServiceHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/corvel-service-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
        fs::create_directories(dir_ / "fake");
        fs::create_directories(dir_ / "units");
        ::setenv("FAKE_SYSTEMCTL_DIR", (dir_ / "fake").c_str(), 1);
        settings_ = {kFakeSystemctl, kFakeGroupadd, kFakeJournalctl, (dir_ / "units").string(),
                     "corvelftpservice.service", 10000};
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs one action on a fresh host and returns what it printed.
    template <typename Action>
    std::string run(Action action, bool* result = nullptr) {
        ServiceManager manager(settings_);
        std::string printed;
        ServiceHost host(manager, [&printed](const std::string& text) { printed += text; }, timing_);
        bool ok = action(host);
        if (result) *result = ok;
        return printed;
    }
    std::string install(const std::optional<std::string>& account = std::nullopt, bool* result = nullptr,
                        const std::vector<std::string>& homes = {}) {
        return run([&](ServiceHost& host) { return host.install(account, homes); }, result);
    }
    std::string remove(bool* result = nullptr) { return run([](ServiceHost& host) { return host.remove(); }, result); }
    std::string start(bool* result = nullptr) {
        return run([](ServiceHost& host) { return host.startService(); }, result);
    }
    std::string stop(bool* result = nullptr) {
        return run([](ServiceHost& host) { return host.endService(); }, result);
    }

    void fake(const std::string& name, const std::string& text) { std::ofstream(dir_ / "fake" / name) << text; }
    bool fakeHas(const std::string& name) const { return fs::exists(dir_ / "fake" / name); }
    std::string fakeState() const { return read(dir_ / "fake" / "state"); }
    std::string unitPath() const { return (dir_ / "units" / "corvelftpservice.service").string(); }
    static std::string read(const fs::path& path) {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    void installQuietly() { ASSERT_EQ(install(), "CorvelFtp Service installed.\n"); }

    fs::path dir_;
    ServiceManager::Settings settings_;
    ServicePollTiming timing_{1, 60};
};

// --- install ---

TEST_F(ServiceHostTest, InstallWritesAnEnabledNotifyUnitForThisExecutable) {
    bool ok = false;
    EXPECT_EQ(install(std::nullopt, &ok), "CorvelFtp Service installed.\n");
    EXPECT_TRUE(ok);
    std::string executable = *currentExecutablePath();
    std::string unit = read(unitPath());
    const std::vector<std::string> lines = {"\nType=notify\n", "\nExecStart=" + executable + "\n",
                                            "\nGroup=corvelftp\n", "\nRuntimeDirectory=corvelftp\n",
                                            "\nWantedBy=multi-user.target\n"};
    for (const std::string& line : lines)
        EXPECT_NE(unit.find(line), std::string::npos) << line;
    EXPECT_EQ(unit.find("\nUser="), std::string::npos);
    EXPECT_TRUE(fakeHas("enabled"));
    EXPECT_NE(read(dir_ / "fake" / "log").find("daemon-reload\nenable corvelftpservice.service\n"),
              std::string::npos);
}

TEST_F(ServiceHostTest, InstallUnderAnAccountSetsUser) {
    install("alice");
    EXPECT_NE(read(unitPath()).find("\nUser=alice\n"), std::string::npos);
}

TEST_F(ServiceHostTest, InstallOpensHomesBelowUsrAlsoThroughALink) {
    fs::create_symlink("/usr/share", dir_ / "shared");
    install(std::nullopt, nullptr, {"/usr/lib/corvel-ftp-home", (dir_ / "shared").string(), "/srv/ftp"});
    std::string unit = read(unitPath());
    EXPECT_NE(unit.find("\nReadWritePaths=-/usr/lib/corvel-ftp-home\nReadWritePaths=-/usr/share\n"),
              std::string::npos)
        << unit;
    EXPECT_EQ(unit.find("/srv/ftp"), std::string::npos);
}

TEST_F(ServiceHostTest, InstallCreatesTheMissingGroupFirst) {
    if (::getgrnam("corvelftp")) GTEST_SKIP() << "this system has a corvelftp group; groupadd is not run";
    installQuietly();
    EXPECT_NE(read(dir_ / "fake" / "log").find("is-system-running\ngroupadd --system corvelftp\ndaemon-reload\n"),
              std::string::npos);
}

TEST_F(ServiceHostTest, InstallWithoutTheGroupWritesNothing) {
    if (::getgrnam("corvelftp")) GTEST_SKIP() << "this system has a corvelftp group; groupadd is not run";
    fake("refuse_groupadd", "groupadd: cannot lock /etc/group; try again later.\n");
    bool ok = true;
    EXPECT_EQ(install(std::nullopt, &ok),
              "CreateService failed - The group corvelftp cannot be created: groupadd: cannot lock /etc/group; try "
              "again later.\n");
    EXPECT_FALSE(ok);
    settings_.groupadd = (dir_ / "no-groupadd").string();
    EXPECT_EQ(install(), "CreateService failed - The group corvelftp cannot be created: groupadd: No such file or "
                         "directory\n");
    EXPECT_FALSE(fs::exists(unitPath()));
    EXPECT_FALSE(fakeHas("enabled"));
}

TEST_F(ServiceHostTest, InstallOverAnExistingUnitLeavesItUntouched) {
    std::ofstream(unitPath()) << "mine";
    bool ok = true;
    EXPECT_EQ(install("alice", &ok), "CreateService failed - The specified service already exists.\n");
    EXPECT_FALSE(ok);
    EXPECT_EQ(read(unitPath()), "mine");
    EXPECT_FALSE(fakeHas("enabled"));
}

TEST_F(ServiceHostTest, InstallRefusesAnAccountThatWouldAddLines) {
    EXPECT_EQ(install("alice\nExecStartPre=/bin/sh"), "CreateService failed - The account name, the program path or an "
                                                      "account's home directory holds a control character.\n");
    EXPECT_FALSE(fs::exists(unitPath()));
    install(std::nullopt, nullptr, {"/usr/x\nExecStartPre=/bin/sh"});
    EXPECT_FALSE(fs::exists(unitPath()));
}

TEST_F(ServiceHostTest, InstallWithoutSystemdNamesTheManager) {
    fake("manager", "offline");
    EXPECT_EQ(install(), "OpenSCManager failed - The service manager (systemd) is not running on this system.\n");
    EXPECT_FALSE(fs::exists(unitPath()));
}

TEST_F(ServiceHostTest, MissingSystemctlGivesTheSystemText) {
    settings_.systemctl = (dir_ / "no-systemctl").string();
    EXPECT_EQ(install(), "OpenSCManager failed - No such file or directory\n");
    EXPECT_EQ(start(), "OpenSCManager failed - No such file or directory\n");
}

TEST_F(ServiceHostTest, RefusedEnableTakesTheUnitAwayAgain) {
    fake("refuse_enable", "Failed to enable unit: Access denied\n");
    EXPECT_EQ(install(), "CreateService failed - Failed to enable unit: Access denied\n");
    EXPECT_FALSE(fs::exists(unitPath()));
}

TEST_F(ServiceHostTest, UnwritableUnitDirectoryGivesTheSystemText) {
    settings_.unitDirectory = (dir_ / "missing").string();
    EXPECT_EQ(install(), "CreateService failed - No such file or directory\n");
}

// --- remove ---

TEST_F(ServiceHostTest, RemoveStopsARunningServiceWithADotPerSecond) {
    installQuietly();
    fake("state", "active");
    fake("stop_polls", "3");
    bool ok = false;
    EXPECT_EQ(remove(&ok),
              "Stopping CorvelFtp Service....\nCorvelFtp Service stopped.\nCorvelFtp Service removed.\n");
    EXPECT_TRUE(ok);
    EXPECT_FALSE(fs::exists(unitPath()));
    EXPECT_FALSE(fakeHas("enabled"));
    EXPECT_EQ(fakeState(), "inactive\n");
}

TEST_F(ServiceHostTest, RemoveOfAMissingUnitOpensNothing) {
    bool ok = true;
    EXPECT_EQ(remove(&ok), "OpenService failed - The specified service does not exist as an installed service.\n");
    EXPECT_FALSE(ok);
}

TEST_F(ServiceHostTest, RefusedDisableKeepsTheUnit) {
    installQuietly();
    fake("refuse_disable", "Failed to disable unit: Access denied\n");
    EXPECT_EQ(remove(),
              "Stopping CorvelFtp Service.\nCorvelFtp Service stopped.\n"
              "DeleteService failed - Failed to disable unit: Access denied\n");
    EXPECT_TRUE(fs::exists(unitPath()));
}

TEST_F(ServiceHostTest, RemoveGoesOnWhenTheStopIsRefused) {
    installQuietly();
    fake("state", "active");
    fake("refuse_stop", "Access denied\n");
    EXPECT_EQ(remove(),
              "Stopping CorvelFtp Service.\nCorvelFtp Service failed to stop: Access denied\n"
              "CorvelFtp Service removed.\n");
}

// --- start ---

TEST_F(ServiceHostTest, StartPrintsADotWhileActivating) {
    installQuietly();
    fake("start_polls", "2");
    bool ok = false;
    EXPECT_EQ(start(&ok), "Starting up CorvelFtp Service...\nCorvelFtp Service started.\n");
    EXPECT_TRUE(ok);
    EXPECT_EQ(fakeState(), "active\n");
}

TEST_F(ServiceHostTest, StartOfAMissingUnitOpensNothing) {
    EXPECT_EQ(start(), "OpenService failed - The specified service does not exist as an installed service.\n");
}

TEST_F(ServiceHostTest, RefusedStartShowsTheReason) {
    installQuietly();
    fake("refuse_start", "Failed to start corvelftpservice.service: Unit is masked.\n");
    bool ok = true;
    EXPECT_EQ(start(&ok),
              "Starting up CorvelFtp Service.\n"
              "CorvelFtp Service failed to start: Failed to start corvelftpservice.service: Unit is masked.\n");
    EXPECT_FALSE(ok);
}

TEST_F(ServiceHostTest, ServiceThatFailsWhileStartingFailsToStart) {
    installQuietly();
    fake("start_polls", "1");
    fake("start_result", "failed");
    EXPECT_EQ(start(), "Starting up CorvelFtp Service..\nCorvelFtp Service failed to start.\n");
}

TEST_F(ServiceHostTest, StartThatFailsIsToldAtOnceThoughSystemdWillTryAgain) {
    installQuietly();
    fake("start_polls", "1");
    fake("start_result", "auto-restart");
    fake("status_text", "CorvelFtp Service failed to start: cannot listen on FTP port 21: Address already in use");
    bool ok = true;
    EXPECT_EQ(start(&ok),
              "Starting up CorvelFtp Service..\n"
              "CorvelFtp Service failed to start: cannot listen on FTP port 21: Address already in use\n");
    EXPECT_FALSE(ok);
}

// Where the reason of a failed start comes from when the server reported none.
TEST_F(ServiceHostTest, FailedStartTakesItsReasonFromTheJournalOrHowTheProcessEnded) {
    struct Case {
        const char* what;
        std::string statusText;
        std::string journal;
        std::string mainEnd;
        std::string said;
    };
    const std::vector<Case> cases = {
        {"systemd could not run the program", "",
         "corvelftpservice.service: Failed at step EXEC spawning /opt/c/corveld: No such file or directory\n"
         "Failed to start corvelftpservice.service - CorvelFtp Service.\n",
         "1 203", ": Failed at step EXEC spawning /opt/c/corveld: No such file or directory\n"},
        {"the server's own log line", "Serving FTP and web connections",
         "CorvelFtp Service failed to start: the settings file cannot be read\n", "1 1",
         ": the settings file cannot be read\n"},
        {"killed by the system call filter", "", "Failed to start corvelftpservice.service - CorvelFtp Service.\n",
         "2 31", ": The process was ended by signal 31 (Bad system call).\n"},
        {"an exit status alone", "", "", "1 3", ": The process exited with status 3.\n"},
        {"nobody said anything", "", "", "0 0", ".\n"},
    };
    installQuietly();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake("state", "inactive");
        fake("start_result", "auto-restart");
        fake("status_text", c.statusText);
        fake("journal", c.journal);
        fake("main_end", c.mainEnd);
        EXPECT_EQ(start(), "Starting up CorvelFtp Service.\nCorvelFtp Service failed to start" + c.said);
    }
    const std::string log = read(dir_ / "fake" / "log");
    EXPECT_NE(log.find("journalctl --unit=corvelftpservice.service --since=@"), std::string::npos) << log;
    EXPECT_NE(log.find(" --priority=err --output=cat --no-pager --quiet\n"), std::string::npos) << log;
}

TEST_F(ServiceHostTest, AnUnreadableJournalLeavesTheDesignedMessage) {
    installQuietly();
    fake("start_result", "failed");
    fake("refuse_journalctl", "");
    EXPECT_EQ(start(), "Starting up CorvelFtp Service.\nCorvelFtp Service failed to start.\n");
}

TEST_F(ServiceHostTest, StartOfAUnitWaitingForItsRetryWaitsForTheRetry) {
    installQuietly();
    // The earlier run failed; the new start job waits in the queue until the retry.
    fake("state", "activating");
    fake("substate", "auto-restart");
    fake("invocation", "4");
    fake("status_text", "CorvelFtp Service failed to start: cannot listen on FTP port 21: Address already in use");
    fake("queued_polls", "2");
    fake("start_polls", "1");
    bool ok = false;
    EXPECT_EQ(start(&ok), "Starting up CorvelFtp Service....\nCorvelFtp Service started.\n");
    EXPECT_TRUE(ok);
}

TEST_F(ServiceHostTest, StartResetsOnlyAFailedUnitFirst) {
    installQuietly();
    fake("state", "failed");
    EXPECT_EQ(start(), "Starting up CorvelFtp Service.\nCorvelFtp Service started.\n");
    EXPECT_NE(read(dir_ / "fake" / "log").find("reset-failed corvelftpservice.service\nstart --no-block"),
              std::string::npos);
    fake("log", "");
    fake("state", "inactive");
    start();
    EXPECT_EQ(read(dir_ / "fake" / "log").find("reset-failed"), std::string::npos);
}

TEST_F(ServiceHostTest, QueuedStartJobCountsAsPending) {
    installQuietly();
    fake("queued_polls", "2");
    EXPECT_EQ(start(), "Starting up CorvelFtp Service...\nCorvelFtp Service started.\n");
}

TEST_F(ServiceHostTest, StartWaitsBoundedForAServiceThatNeverFinishes) {
    installQuietly();
    fake("start_polls", "1000");
    timing_.maxPolls = 5;
    EXPECT_EQ(start(), "Starting up CorvelFtp Service......\nCorvelFtp Service failed to start.\n");
}

// --- stop ---

TEST_F(ServiceHostTest, StopPrintsADotWhileDeactivating) {
    installQuietly();
    fake("state", "active");
    fake("stop_polls", "2");
    bool ok = false;
    EXPECT_EQ(stop(&ok), "Stopping CorvelFtp Service...\nCorvelFtp Service stopped.\n");
    EXPECT_TRUE(ok);
}

TEST_F(ServiceHostTest, StopWaitsForItsJobBehindAUnitAboutToRestart) {
    installQuietly();
    fake("state", "activating");
    fake("substate", "auto-restart");
    fake("queued_polls", "2");
    bool ok = false;
    EXPECT_EQ(stop(&ok), "Stopping CorvelFtp Service...\nCorvelFtp Service stopped.\n");
    EXPECT_TRUE(ok);
}

TEST_F(ServiceHostTest, RefusedStopShowsTheReason) {
    installQuietly();
    fake("state", "active");
    fake("refuse_stop", "Access denied\n");
    bool ok = true;
    EXPECT_EQ(stop(&ok), "Stopping CorvelFtp Service.\nCorvelFtp Service failed to stop: Access denied\n");
    EXPECT_FALSE(ok);
    EXPECT_EQ(fakeState(), "active");
}

TEST_F(ServiceHostTest, StopWithoutSystemdNamesTheManager) {
    installQuietly();
    fake("manager", "offline");
    EXPECT_EQ(stop(), "OpenSCManager failed - The service manager (systemd) is not running on this system.\n");
}

}  // namespace
}  // namespace corvel
