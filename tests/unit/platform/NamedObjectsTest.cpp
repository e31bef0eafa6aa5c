// Named mutex, event and shared block across processes (fork) and threads.

#include "platform/NamedObjects.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace corvel {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr char kRuntimeDirVariable[] = "CORVELFTP_RUNTIME_DIR";
// Upper bound for anything that should happen "at once" in another process.
constexpr int kPromptMs = 2000;

long long elapsedMs(Clock::time_point since) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - since).count();
}

void sleepMs(int ms) { std::this_thread::sleep_for(milliseconds(ms)); }

std::string makeTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "corvel-named-XXXXXX").string();
    const char* made = ::mkdtemp(pattern.data());
    return made != nullptr ? std::string(made) : std::string();
}

// A forked child running body(readyFd); the child's exit status is body's result.
// The body runs in the child only: it uses no GoogleTest macros and ends with _exit.
class Child {
public:
    explicit Child(const std::function<int(int readyFd)>& body) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(fds[0]);
            ::_exit(body(fds[1]));
        }
        ::close(fds[1]);
        readyFd_ = fds[0];
    }
    ~Child() {
        if (pid_ > 0 && !status_) kill();
        if (readyFd_ >= 0) ::close(readyFd_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Called by the body once it holds what the test needs.
    static void signalReady(int readyFd) {
        const char byte = 1;
        [[maybe_unused]] auto n = ::write(readyFd, &byte, 1);
    }

    bool waitReady(int timeoutMs = kPromptMs) {
        pollfd p{readyFd_, POLLIN, 0};
        char byte = 0;
        return ::poll(&p, 1, timeoutMs) == 1 && ::read(readyFd_, &byte, 1) == 1;
    }

    // Exit code, 128 + signal when killed, or -1 while still running after timeoutMs.
    int waitExit(int timeoutMs = kPromptMs) {
        const auto start = Clock::now();
        while (!status_) {
            int status = 0;
            const pid_t r = ::waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            if (r < 0 || elapsedMs(start) >= timeoutMs) return -1;
            sleepMs(2);
        }
        return *status_;
    }

    bool running() { return waitExit(0) == -1; }

    void kill() {
        ::kill(pid_, SIGKILL);
        waitExit(10'000);
    }

private:
    pid_t pid_ = -1;
    int readyFd_ = -1;
    std::optional<int> status_;
};

// Each test gets its own runtime directory, removed afterwards.
class RuntimeDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = makeTempDir();
        ASSERT_FALSE(dir_.empty());
        ::setenv(kRuntimeDirVariable, dir_.c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv(kRuntimeDirVariable);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    std::string pathOf(const std::string& name) const { return dir_ + "/" + name; }
    bool fileExists(const std::string& name) const { return std::filesystem::exists(pathOf(name)); }

    std::string dir_;
};

// ---- Events ----

using NamedEventTest = RuntimeDirTest;

TEST_F(NamedEventTest, SignalsWithoutWaiterStayPendingForExactlyOneWait) {
    auto event = NamedEvent::createOrOpen("CORVELFTP_BASICSVRSTOP_EVENT");
    ASSERT_TRUE(event);
    EXPECT_FALSE(event->wait(0)) << "created not signalled";

    Child signaller([](int) {
        auto ev = NamedEvent::openExisting("CORVELFTP_BASICSVRSTOP_EVENT");
        if (!ev) return 2;
        ev->signal();
        ev->signal();  // a second signal before any wait is not counted
        return 0;
    });
    ASSERT_EQ(signaller.waitExit(), 0);

    EXPECT_TRUE(event->wait(0));
    EXPECT_FALSE(event->wait(0));
}

TEST_F(NamedEventTest, OneSignalReleasesExactlyOneOfSeveralWaiters) {
    auto event = NamedEvent::createOrOpen("EV");
    ASSERT_TRUE(event);
    const auto waiter = [](int readyFd) {
        auto ev = NamedEvent::openExisting("EV");
        if (!ev) return 2;
        Child::signalReady(readyFd);
        return ev->wait(5000) ? 0 : 1;
    };
    Child first(waiter);
    Child second(waiter);
    ASSERT_TRUE(first.waitReady());
    ASSERT_TRUE(second.waitReady());
    sleepMs(30);  // let both go to sleep in the wait

    event->signal();
    const auto start = Clock::now();
    while (first.running() && second.running() && elapsedMs(start) < kPromptMs) sleepMs(2);
    sleepMs(150);
    ASSERT_NE(first.running(), second.running()) << "exactly one waiter must be released";
    Child& released = first.running() ? second : first;
    Child& stillWaiting = first.running() ? first : second;
    EXPECT_EQ(released.waitExit(0), 0);

    event->signal();
    EXPECT_EQ(stillWaiting.waitExit(), 0);
    EXPECT_FALSE(event->wait(0)) << "both signals were consumed";
}

TEST_F(NamedEventTest, TimedWaitsEndWithinBounds) {
    auto event = NamedEvent::createOrOpen("EV");
    ASSERT_TRUE(event);

    auto start = Clock::now();
    EXPECT_FALSE(event->wait(0));
    EXPECT_LT(elapsedMs(start), 50);

    start = Clock::now();
    EXPECT_FALSE(event->wait(1));  // the console's heartbeat test
    EXPECT_LT(elapsedMs(start), 100);

    start = Clock::now();
    EXPECT_FALSE(event->wait(120));
    EXPECT_GE(elapsedMs(start), 119);
    EXPECT_LT(elapsedMs(start), 1000);

    // A wait without limit in another process ends as soon as the signal comes.
    Child waiter([](int readyFd) {
        auto ev = NamedEvent::openExisting("EV");
        if (!ev) return 2;
        Child::signalReady(readyFd);
        return ev->wait(-1) ? 0 : 1;
    });
    ASSERT_TRUE(waiter.waitReady());
    sleepMs(20);
    event->signal();
    EXPECT_EQ(waiter.waitExit(), 0);
}

TEST_F(NamedEventTest, WaiterKilledWhileWaitingLeavesEventWorking) {
    auto event = NamedEvent::createOrOpen("EV");
    ASSERT_TRUE(event);
    const auto waiter = [](int readyFd) {
        auto ev = NamedEvent::openExisting("EV");
        if (!ev) return 2;
        Child::signalReady(readyFd);
        return ev->wait(5000) ? 0 : 1;
    };
    {
        Child victim(waiter);
        ASSERT_TRUE(victim.waitReady());
        sleepMs(20);
        victim.kill();
    }
    event->signal();
    EXPECT_TRUE(event->wait(0));

    Child next(waiter);
    ASSERT_TRUE(next.waitReady());
    event->signal();
    EXPECT_EQ(next.waitExit(), 0);
}

// ---- Mutexes ----

using NamedMutexTest = RuntimeDirTest;

TEST_F(NamedMutexTest, OwnerKilledWhileHoldingIsReportedAbandonedOnce) {
    auto mutex = NamedMutex::createOrOpen("CORVELFTP_STATUSMutex");
    ASSERT_TRUE(mutex);
    Child owner([](int readyFd) {
        auto m = NamedMutex::openExisting("CORVELFTP_STATUSMutex");
        if (!m || m->lock(1000) != LockResult::Acquired) return 2;
        Child::signalReady(readyFd);
        sleepMs(10'000);
        return 0;
    });
    ASSERT_TRUE(owner.waitReady());
    EXPECT_EQ(mutex->lock(0), LockResult::TimedOut);

    // A waiter already blocked when the owner dies gets it without waiting out its limit.
    LockResult waited = LockResult::Failed;
    long long waitedMs = 0;
    std::thread blocked([&] {
        const auto start = Clock::now();
        waited = mutex->lock(5000);
        waitedMs = elapsedMs(start);
    });
    sleepMs(50);
    owner.kill();
    blocked.join();
    EXPECT_EQ(waited, LockResult::Abandoned);
    EXPECT_LT(waitedMs, 1500);

    mutex->unlock();
    EXPECT_EQ(mutex->lock(0), LockResult::Acquired) << "abandonment is reported once";
    mutex->unlock();
}

TEST_F(NamedMutexTest, InstancesInOneProcessExcludeEachOther) {
    bool existed = true;
    auto a = NamedMutex::createOrOpen("MX", &existed);
    ASSERT_TRUE(a);
    EXPECT_FALSE(existed);
    auto b = NamedMutex::createOrOpen("MX", &existed);
    ASSERT_TRUE(b);
    EXPECT_TRUE(existed);

    ASSERT_EQ(a->lock(0), LockResult::Acquired);
    EXPECT_EQ(b->lock(0), LockResult::TimedOut);
    const auto start = Clock::now();
    EXPECT_EQ(b->lock(120), LockResult::TimedOut);
    EXPECT_GE(elapsedMs(start), 119);
    EXPECT_LT(elapsedMs(start), 1000);
    EXPECT_EQ(a->lock(0), LockResult::Failed) << "not recursive";

    a->unlock();
    EXPECT_EQ(b->lock(0), LockResult::Acquired);
    b->unlock();
}

TEST_F(NamedMutexTest, GuardsSharedBytesBetweenThreads) {
    auto block = SharedBlock::createZeroed("CORVELFTP_PIPE", 4);
    auto holder = NamedMutex::createOrOpen("CORVELFTP_PIPEMutex");
    ASSERT_TRUE(block && holder);
    constexpr int kRounds = 300;
    std::atomic<int> failures{0};
    const auto work = [&] {
        auto m = NamedMutex::openExisting("CORVELFTP_PIPEMutex");
        if (!m) {
            ++failures;
            return;
        }
        for (int i = 0; i < kRounds; ++i) {
            NamedMutexLock lock(*m, 5000);
            if (!lock.ownsLock()) {
                ++failures;
                return;
            }
            // Read, yield, write back: a lost update shows any gap in the exclusion.
            std::uint32_t value;
            std::memcpy(&value, block->data(), sizeof value);
            std::this_thread::yield();
            ++value;
            std::memcpy(block->data(), &value, sizeof value);
        }
    };
    std::thread t1(work);
    std::thread t2(work);
    t1.join();
    t2.join();
    EXPECT_EQ(failures.load(), 0);
    std::uint32_t total;
    std::memcpy(&total, block->data(), sizeof total);
    EXPECT_EQ(total, 2u * kRounds);
}

// ---- Lifetime, files and blocks ----

using NamedObjectLifetimeTest = RuntimeDirTest;

TEST_F(NamedObjectLifetimeTest, FilesAreNamedAsTheObjectsAndOpenToOwnerAndGroup) {
    const mode_t oldMask = ::umask(077);
    bool existed = true;
    auto block = SharedBlock::createZeroed("CORVELFTP_STATUS", 32, &existed);
    auto mutex = NamedMutex::createOrOpen("CORVELFTP_STATUSMutex");
    auto event = NamedEvent::createOrOpen("CORVELFTP_BASICSVREXIST_EVENT");
    ::umask(oldMask);
    ASSERT_TRUE(block && mutex && event);
    EXPECT_FALSE(existed);

    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"CORVELFTP_BASICSVREXIST_EVENT", "CORVELFTP_STATUS",
                                               "CORVELFTP_STATUSMutex"}));
    for (const auto& name : names) {
        struct stat st {};
        ASSERT_EQ(::stat(pathOf(name).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0660u) << name;
    }

    EXPECT_EQ(std::filesystem::file_size(pathOf("CORVELFTP_STATUS")), 32u);
    ASSERT_EQ(block->size(), 32u);
    EXPECT_EQ(std::vector<std::uint8_t>(block->data(), block->data() + 32), std::vector<std::uint8_t>(32, 0));
}

TEST_F(NamedObjectLifetimeTest, BlockBytesAreSharedBetweenProcessesAndAreTheFile) {
    auto block = SharedBlock::createZeroed("CORVELFTP_PIPE", 4);
    ASSERT_TRUE(block);
    block->data()[0] = 0x02;
    Child child([](int) {
        auto b = SharedBlock::openExisting("CORVELFTP_PIPE", 4);
        if (!b || b->data()[0] != 0x02) return 2;
        b->data()[0] |= 0x04;
        b->data()[3] = 0x80;
        return 0;
    });
    ASSERT_EQ(child.waitExit(), 0);
    EXPECT_EQ(block->data()[0], 0x06);

    std::ifstream file(pathOf("CORVELFTP_PIPE"), std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    EXPECT_EQ(bytes, (std::vector<char>{0x06, 0, 0, char(0x80)}));
}

TEST_F(NamedObjectLifetimeTest, ExistsExactlyWhileALiveProcessHoldsIt) {
    Child holder([](int readyFd) {
        auto b = SharedBlock::createZeroed("BLK", 4);
        if (!b) return 2;
        b->data()[0] = 0xAB;
        Child::signalReady(readyFd);
        sleepMs(10'000);
        return 0;
    });
    ASSERT_TRUE(holder.waitReady());
    {
        bool existed = false;
        auto opened = SharedBlock::createZeroed("BLK", 4, &existed);
        ASSERT_TRUE(opened);
        EXPECT_TRUE(existed);
        EXPECT_EQ(opened->data()[0], 0xAB) << "opening must not zero a live block";
        EXPECT_TRUE(SharedBlock::openExisting("BLK", 4));
        EXPECT_FALSE(SharedBlock::openExisting("BLK", 8)) << "larger than the live block";
    }
    holder.kill();

    // The killed holder left its file behind; it must count as not existing.
    EXPECT_TRUE(fileExists("BLK"));
    EXPECT_FALSE(SharedBlock::openExisting("BLK", 4));
    bool existed = true;
    auto fresh = SharedBlock::createZeroed("BLK", 4, &existed);
    ASSERT_TRUE(fresh);
    EXPECT_FALSE(existed);
    EXPECT_EQ(fresh->data()[0], 0);
}

TEST_F(NamedObjectLifetimeTest, ObjectsLeftByKilledProcessStartFresh) {
    Child holder([](int readyFd) {
        auto m = NamedMutex::createOrOpen("MX");
        auto e = NamedEvent::createOrOpen("EV");
        if (!m || !e || m->lock(0) != LockResult::Acquired) return 2;
        e->signal();
        Child::signalReady(readyFd);
        sleepMs(10'000);
        return 0;
    });
    ASSERT_TRUE(holder.waitReady());
    holder.kill();

    bool existed = true;
    auto mutex = NamedMutex::createOrOpen("MX", &existed);
    ASSERT_TRUE(mutex);
    EXPECT_FALSE(existed);
    EXPECT_EQ(mutex->lock(0), LockResult::Acquired) << "a new mutex has no previous owner";
    mutex->unlock();

    existed = true;
    auto event = NamedEvent::createOrOpen("EV", &existed);
    ASSERT_TRUE(event);
    EXPECT_FALSE(existed);
    EXPECT_FALSE(event->wait(0));
}

TEST_F(NamedObjectLifetimeTest, LastHolderClosingRemovesTheFile) {
    std::optional<SharedBlock> first = SharedBlock::createZeroed("BLK", 4);
    std::optional<SharedBlock> second = SharedBlock::openExisting("BLK", 4);
    ASSERT_TRUE(first && second);
    first.reset();
    EXPECT_TRUE(fileExists("BLK"));
    EXPECT_TRUE(SharedBlock::openExisting("BLK", 4));
    second.reset();
    EXPECT_FALSE(fileExists("BLK"));
    EXPECT_FALSE(SharedBlock::openExisting("BLK", 4));

    // A child's inherited descriptor is a hold of its own.
    auto parentHeld = NamedEvent::createOrOpen("EV");
    ASSERT_TRUE(parentHeld);
    Child inheritor([](int readyFd) {
        Child::signalReady(readyFd);
        sleepMs(10'000);
        return 0;
    });
    ASSERT_TRUE(inheritor.waitReady());
    parentHeld.reset();
    EXPECT_TRUE(NamedEvent::openExisting("EV"));
    inheritor.kill();
    EXPECT_FALSE(NamedEvent::openExisting("EV"));
}

TEST_F(NamedObjectLifetimeTest, RuntimeDirectoriesNeverSeeEachOther) {
    const std::string otherDir = makeTempDir();
    ASSERT_FALSE(otherDir.empty());

    auto blockA = SharedBlock::createZeroed("CORVELFTP_STATUS", 32);
    auto eventA = NamedEvent::createOrOpen("EV");
    auto mutexA = NamedMutex::createOrOpen("MX");
    ASSERT_TRUE(blockA && eventA && mutexA);
    blockA->data()[0] = 1;
    eventA->signal();
    ASSERT_EQ(mutexA->lock(0), LockResult::Acquired);

    ::setenv(kRuntimeDirVariable, otherDir.c_str(), 1);
    EXPECT_EQ(namedObjectDirectory(), otherDir);
    EXPECT_FALSE(SharedBlock::openExisting("CORVELFTP_STATUS", 32));
    EXPECT_FALSE(NamedEvent::openExisting("EV"));
    bool existed = true;
    auto blockB = SharedBlock::createZeroed("CORVELFTP_STATUS", 32, &existed);
    auto eventB = NamedEvent::createOrOpen("EV");
    auto mutexB = NamedMutex::createOrOpen("MX");
    ASSERT_TRUE(blockB && eventB && mutexB);
    EXPECT_FALSE(existed);
    EXPECT_EQ(blockB->data()[0], 0);
    EXPECT_FALSE(eventB->wait(0));
    EXPECT_EQ(mutexB->lock(0), LockResult::Acquired);
    mutexB->unlock();

    ::setenv(kRuntimeDirVariable, dir_.c_str(), 1);
    EXPECT_TRUE(eventA->wait(0));
    mutexA->unlock();

    blockB.reset();
    eventB.reset();
    mutexB.reset();
    std::error_code ec;
    EXPECT_TRUE(std::filesystem::is_empty(otherDir, ec)) << "closed objects leave no files";
    std::filesystem::remove_all(otherDir, ec);
}

TEST_F(NamedObjectLifetimeTest, MoveAssignmentReleasesWhatTheTargetHeld) {
    auto block = SharedBlock::createZeroed("X", 4);
    auto otherBlock = SharedBlock::createZeroed("Y", 4);
    ASSERT_TRUE(block && otherBlock);
    *block = std::move(*otherBlock);
    EXPECT_FALSE(otherBlock->isValid());
    EXPECT_FALSE(SharedBlock::openExisting("X", 4));
    EXPECT_TRUE(SharedBlock::openExisting("Y", 4));

    auto mutex = NamedMutex::createOrOpen("M1");
    auto otherMutex = NamedMutex::createOrOpen("M2");
    auto watcher = NamedMutex::openExisting("M1");
    ASSERT_TRUE(mutex && otherMutex && watcher);
    ASSERT_EQ(mutex->lock(0), LockResult::Acquired);
    *mutex = std::move(*otherMutex);
    EXPECT_EQ(watcher->lock(0), LockResult::Acquired) << "released by the assignment, not abandoned";
    watcher->unlock();
}

TEST_F(NamedObjectLifetimeTest, RefusesBadNamesAndOtherKinds) {
    for (const char* name : {"", ".", "..", "../ESCAPE", "a/b"}) {
        EXPECT_FALSE(NamedMutex::createOrOpen(name)) << name;
        EXPECT_FALSE(SharedBlock::createZeroed(name, 4)) << name;
    }
    EXPECT_FALSE(NamedEvent::openExisting("NEVER_CREATED"));
    EXPECT_FALSE(SharedBlock::createZeroed("ZERO", 0));

    auto mutex = NamedMutex::createOrOpen("KIND");
    ASSERT_TRUE(mutex);
    EXPECT_FALSE(NamedEvent::createOrOpen("KIND"));
    EXPECT_FALSE(NamedEvent::openExisting("KIND"));

    // SECURITY: a planted link is never followed.
    std::filesystem::create_symlink(dir_ + "/elsewhere", pathOf("LINK"));
    EXPECT_FALSE(SharedBlock::createZeroed("LINK", 4));
    EXPECT_FALSE(fileExists("elsewhere"));
}

TEST_F(NamedObjectLifetimeTest, WithoutAConfiguredDirectoryEachAccountGetsAPrivateOne) {
    // /run/corvelftp takes precedence when it exists; this test needs it absent.
    if (std::filesystem::exists("/run/corvelftp")) GTEST_SKIP() << "/run/corvelftp exists on this machine";
    ::unsetenv(kRuntimeDirVariable);
    const char* oldRuntime = std::getenv("XDG_RUNTIME_DIR");
    const std::string savedRuntime = oldRuntime ? oldRuntime : "";
    ::setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
    const std::string expected = dir_ + "/corvelftp";
    EXPECT_EQ(namedObjectDirectory(), expected);
    {
        auto event = NamedEvent::createOrOpen("EV");
        ASSERT_TRUE(event);
        struct stat st {};
        ASSERT_EQ(::stat(expected.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0700u);
        EXPECT_TRUE(std::filesystem::exists(expected + "/EV"));
    }
    // SECURITY: a directory others may write into (planted, or widened) is not used.
    ASSERT_EQ(::chmod(expected.c_str(), 0777), 0);
    EXPECT_FALSE(NamedEvent::createOrOpen("EV2"));
    ASSERT_EQ(::rmdir(expected.c_str()), 0);
    ASSERT_EQ(::symlink(dir_.c_str(), expected.c_str()), 0);
    EXPECT_FALSE(NamedEvent::createOrOpen("EV3"));
    if (oldRuntime)
        ::setenv("XDG_RUNTIME_DIR", savedRuntime.c_str(), 1);
    else
        ::unsetenv("XDG_RUNTIME_DIR");
    ::setenv(kRuntimeDirVariable, dir_.c_str(), 1);
}

TEST_F(NamedObjectLifetimeTest, AHeldGuardMakesAnOpenFailInsteadOfWaitingForEver) {
    auto event = NamedEvent::createOrOpen("EV");
    ASSERT_TRUE(event);
    // Another process that opened the file and keeps its guard byte locked.
    int fd = ::open(pathOf("EV").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    struct flock request {};
    request.l_type = F_WRLCK;
    request.l_whence = SEEK_SET;
    request.l_start = off_t{1} << 40;
    request.l_len = 1;
    ASSERT_EQ(::fcntl(fd, F_OFD_SETLK, &request), 0);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(NamedEvent::openExisting("EV"));
    const auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_GE(waited, std::chrono::seconds(4));
    EXPECT_LT(waited, std::chrono::seconds(20));
    ::close(fd);
    EXPECT_TRUE(NamedEvent::openExisting("EV"));
}

}  // namespace
}  // namespace corvel
