// Asks the service manager for the unit's state on a thread of its own, so that the
// 200 ms status tick never waits for systemctl; the tick reads the latest answer.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "console/logic/ServiceState.h"

namespace corvel {

// How often the state is asked for when nothing asks sooner.
inline constexpr std::chrono::milliseconds kServiceStateInterval{1000};

// latest() and refresh() may be called from any thread; query runs on the watcher's
// own thread only (after one first answer on the constructing thread, so the first
// tick already knows). The destructor stops and joins the thread.
class ServiceStateWatcher {
public:
    ServiceStateWatcher(std::function<ServiceState()> query, std::chrono::milliseconds interval = kServiceStateInterval);
    ~ServiceStateWatcher();
    ServiceStateWatcher(const ServiceStateWatcher&) = delete;
    ServiceStateWatcher& operator=(const ServiceStateWatcher&) = delete;

    ServiceState latest() const;
    // Asks again at once (a command has just changed the state).
    void refresh();

private:
    void run();

    std::function<ServiceState()> query_;
    std::chrono::milliseconds interval_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    ServiceState latest_;  // guarded by mutex_
    bool refreshWanted_ = false;  // guarded by mutex_
    bool stopping_ = false;       // guarded by mutex_
    std::thread thread_;          // last: started once the fields above exist
};

}  // namespace corvel
