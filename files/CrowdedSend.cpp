#include "files/CrowdedSend.h"

#include <sched.h>

#include "platform/Socket.h"

namespace corvel {

int usableCpuCount() {
    static const int cpus = [] {
        cpu_set_t set;
        CPU_ZERO(&set);
        const int n = sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 1;
        return n > 0 ? n : 1;
    }();
    return cpus;
}

CrowdedSend::CrowdedSend(std::atomic<int>* count, Socket& socket) : socket_(socket) {
    if (!count) return;
    place_.emplace(*count);
    if (socket.layer() == nullptr && place_->before() >= usableCpuCount())
        limited_ = socket.limitUnsentBytes(kCrowdedUnsentBytes);
}

CrowdedSend::~CrowdedSend() {
    if (limited_) (void)socket_.limitUnsentBytes(kKernelUnsentLimit);
}

}  // namespace corvel
