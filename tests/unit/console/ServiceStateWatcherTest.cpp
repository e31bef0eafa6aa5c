// The service state asked for on a thread of its own: the status tick reads the last
// answer at once however slow systemctl is, and the window's ticks never ask.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "FakeConsolePorts.h"
#include "GuiApplication.h"
#include "console/logic/ServiceStateWatcher.h"
#include "console/ui/MainWindow.h"

namespace corvel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(ServiceStateWatcher, ASlowQueryNeverHoldsTheReaderAndARefreshIsSeenSoon) {
    std::atomic<int> calls{0};
    std::atomic<ServiceState> answer{ServiceState::Stopped};
    {
        ServiceStateWatcher watcher(
            [&] {
                if (calls++ > 0) std::this_thread::sleep_for(150ms);  // systemctl taking its time
                return answer.load();
            },
            10s);
        EXPECT_EQ(watcher.latest(), ServiceState::Stopped);  // the first answer is there at once
        answer = ServiceState::Running;
        watcher.refresh();
        const auto start = Clock::now();
        for (int i = 0; i < 100; ++i) {
            const auto before = Clock::now();
            (void)watcher.latest();
            EXPECT_LT(Clock::now() - before, 50ms);  // never waits for the query
            std::this_thread::sleep_for(5ms);
        }
        while (watcher.latest() != ServiceState::Running && Clock::now() - start < 5s) std::this_thread::sleep_for(5ms);
        EXPECT_EQ(watcher.latest(), ServiceState::Running);
    }  // the destructor stops and joins the thread
    EXPECT_EQ(calls.load(), 2);
}

TEST(ServiceStateWatcher, TheWindowsTicksAskTheWatcherNotTheManager) {
    guiApplication();
    StepLog log;
    FakeServiceManager manager{log};
    FakeProgramRunner runner{log};
    FakeMessageBoxes boxes{log};
    FakeServerSignals serverSignals{log};
    FakeProbes probes;
    ServiceStateWatcher watcher([] { return ServiceState::Running; }, 10s);
    ConsoleWiring wiring{"/opt/corvel/", manager, runner, serverSignals, probes, &boxes, {}, {}, false};
    wiring.serviceState = &watcher;
    MainWindow window(std::move(wiring));
    log.steps.clear();
    for (int i = 0; i < 5; ++i) window.tick();
    EXPECT_TRUE(log.steps.empty());
    EXPECT_TRUE(window.commandStates().serviceModeChecked);  // Running: the unit is registered
}

}  // namespace
}  // namespace corvel
