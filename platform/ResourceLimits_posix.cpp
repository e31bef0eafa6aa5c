#include "platform/ResourceLimits.h"

#include <sys/resource.h>
#include <unistd.h>

namespace corvel {

std::uint64_t raiseDescriptorLimit() {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
    if (limit.rlim_cur < limit.rlim_max) {
        struct rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
    }
    return limit.rlim_cur == RLIM_INFINITY ? 0 : static_cast<std::uint64_t>(limit.rlim_cur);
}

std::uint64_t taskLimit() {
    if (::geteuid() == 0) return 0;
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NPROC, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 0;
    return static_cast<std::uint64_t>(limit.rlim_cur);
}

}  // namespace corvel
