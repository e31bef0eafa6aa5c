#include "server/ConnectionLimits.h"

#include <algorithm>

namespace corvel {

WebConnectionLimit webConnectionLimit(std::uint32_t configured, std::uint64_t maxFtpSessions,
                                      std::uint64_t descriptorLimit, std::uint64_t taskLimit) {
    std::uint64_t allowed = configured;
    if (descriptorLimit > 0) {
        const std::uint64_t reserve = kBaseDescriptors + maxFtpSessions * kDescriptorsPerFtpSession;
        const std::uint64_t left = descriptorLimit > reserve ? descriptorLimit - reserve : 0;
        allowed = std::min(allowed, left / kDescriptorsPerWebConnection);
    }
    if (taskLimit > 0) {
        const std::uint64_t reserve = kBaseThreads + maxFtpSessions;
        allowed = std::min(allowed, taskLimit > reserve ? taskLimit - reserve : 0);
    }
    WebConnectionLimit result;
    result.reduced = allowed < configured;
    result.limit = static_cast<std::uint32_t>(std::max<std::uint64_t>(
        allowed, std::min<std::uint64_t>(configured, kMinimumWebConnections)));
    return result;
}

}  // namespace corvel
