// Connection threads that park between connections: a parked thread takes the next
// body, no body is lost while threads come and go, the park stays bounded, and parked
// threads end when they waited long enough or the park goes.
#include "server/ThreadPark.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

namespace corvel {
namespace {

using namespace std::chrono_literals;

// Waits at most 5 s for done(); true once it holds.
template <typename Predicate>
bool eventually(Predicate done) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Counts the threads that ended: one of these lives in each thread that ran a body.
std::atomic<int> threadsEnded{0};
struct EndOfThread {
    ~EndOfThread() { ++threadsEnded; }
};
void markThisThread() { thread_local EndOfThread mark; (void)mark; }

TEST(ThreadPark, ASecondBodyRunsOnTheThreadTheFirstLeftParked) {
    ThreadPark park(4, 5s);
    std::mutex mutex;
    std::optional<std::thread::id> first, second;
    ASSERT_TRUE(park.start([&] { std::lock_guard lock(mutex); first = std::this_thread::get_id(); }));
    ASSERT_TRUE(eventually([&] { return park.parkedCount() == 1; }));
    ASSERT_TRUE(park.start([&] { std::lock_guard lock(mutex); second = std::this_thread::get_id(); }));
    ASSERT_TRUE(eventually([&] { std::lock_guard lock(mutex); return second.has_value(); }));
    std::lock_guard lock(mutex);
    EXPECT_EQ(*first, *second);
}

TEST(ThreadPark, ABodysCapturesEndBeforeItsThreadParks) {
    ThreadPark park(4, 5s);
    auto owned = std::make_shared<int>(7);
    std::weak_ptr<int> watch = owned;
    ASSERT_TRUE(park.start([held = std::move(owned)] { (void)held; }));
    // The socket a body owns closes when the connection ends, not with a later one.
    EXPECT_TRUE(eventually([&] { return watch.expired(); }));
    EXPECT_TRUE(eventually([&] { return park.parkedCount() == 1; }));
}

TEST(ThreadPark, EveryBodyRunsWhileThreadsComeAndGoAndAtMostTheBoundWait) {
    ThreadPark park(2, 5s);
    std::atomic<int> ran{0};
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(park.start([&] {
            if (ran.load() % 7 == 0) std::this_thread::sleep_for(1ms);  // some overlap, some not
            ++ran;
        }));
    }
    EXPECT_TRUE(eventually([&] { return ran.load() == 200; }));
    EXPECT_TRUE(eventually([&] { return park.parkedCount() > 0; }));
    EXPECT_LE(park.parkedCount(), 2u);
}

TEST(ThreadPark, ABurstIsTakenByTheThreadsAlreadyParkedAndStartsNoNewOnes) {
    constexpr int kThreads = 16;
    ThreadPark park(kThreads, 5s);
    std::mutex mutex;
    std::condition_variable released;
    bool open = false;
    std::set<std::thread::id> first, second;
    auto holdUntilOpen = [&](std::set<std::thread::id>& ids) {
        return [&] {
            std::unique_lock lock(mutex);
            ids.insert(std::this_thread::get_id());
            released.wait(lock, [&] { return open; });
        };
    };
    // A failed assertion still lets the held bodies go before the locals they use do.
    struct Release {
        std::mutex& mutex;
        std::condition_variable& released;
        bool& open;
        ~Release() {
            {
                std::lock_guard lock(mutex);
                open = true;
            }
            released.notify_all();
        }
    } release{mutex, released, open};
    for (int i = 0; i < kThreads; ++i) ASSERT_TRUE(park.start(holdUntilOpen(first)));
    ASSERT_TRUE(eventually([&] { std::lock_guard lock(mutex); return first.size() == kThreads; }));
    {
        std::lock_guard lock(mutex);
        open = true;
    }
    released.notify_all();
    ASSERT_TRUE(eventually([&] { return park.parkedCount() == kThreads; }));
    {
        std::lock_guard lock(mutex);
        open = false;
    }
    for (int i = 0; i < kThreads; ++i) ASSERT_TRUE(park.start(holdUntilOpen(second)));
    ASSERT_TRUE(eventually([&] { std::lock_guard lock(mutex); return second.size() == kThreads; }));
    EXPECT_EQ(park.parkedCount(), 0u);
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(first, second);  // every body of the burst ran on a thread that was waiting
        open = true;
    }
    released.notify_all();
    EXPECT_TRUE(eventually([&] { return park.parkedCount() == kThreads; }));
}

TEST(ThreadPark, NoBodyIsLostWhenWaitsRunOutWhileBodiesAreHandedOver) {
    // Parked threads give up after 1 ms, so hand-overs keep meeting waits that just ran out.
    ThreadPark park(4, 1ms);
    std::atomic<int> ran{0};
    constexpr int kBodies = 400;
    for (int i = 0; i < kBodies; ++i) {
        ASSERT_TRUE(park.start([&] { ++ran; }));
        if (i % 3 == 0) std::this_thread::sleep_for(std::chrono::microseconds(900 + 50 * (i % 5)));
    }
    EXPECT_TRUE(eventually([&] { return ran.load() == kBodies; }));
}

TEST(ThreadPark, ParkedThreadsEndAfterTheirWaitOrWithThePark) {
    const int before = threadsEnded.load();
    {
        ThreadPark brief(4, 20ms);
        ASSERT_TRUE(brief.start(markThisThread));
        ASSERT_TRUE(eventually([&] { return threadsEnded.load() == before + 1; }));  // waited, then ended
        EXPECT_EQ(brief.parkedCount(), 0u);
    }
    {
        ThreadPark lasting(4, 60s);
        ASSERT_TRUE(lasting.start(markThisThread));
        ASSERT_TRUE(eventually([&] { return lasting.parkedCount() == 1; }));
    }  // its parked thread ends now, not a minute later
    EXPECT_TRUE(eventually([&] { return threadsEnded.load() == before + 2; }));
}

}  // namespace
}  // namespace corvel
