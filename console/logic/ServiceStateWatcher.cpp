#include "console/logic/ServiceStateWatcher.h"

namespace corvel {

ServiceStateWatcher::ServiceStateWatcher(std::function<ServiceState()> query, std::chrono::milliseconds interval)
    : query_(std::move(query)), interval_(interval), latest_(query_()), thread_([this] { run(); }) {}

ServiceStateWatcher::~ServiceStateWatcher() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

ServiceState ServiceStateWatcher::latest() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return latest_;
}

void ServiceStateWatcher::refresh() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        refreshWanted_ = true;
    }
    wake_.notify_all();
}

void ServiceStateWatcher::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait_for(lock, interval_, [this] { return stopping_ || refreshWanted_; });
        if (stopping_) return;
        refreshWanted_ = false;
        lock.unlock();
        const ServiceState state = query_();  // may wait for systemctl; no lock held
        lock.lock();
        latest_ = state;
    }
}

}  // namespace corvel
