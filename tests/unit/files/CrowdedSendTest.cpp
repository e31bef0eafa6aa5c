#include "files/CrowdedSend.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <atomic>
#include <optional>

#include "platform/Socket.h"
#include "tests/unit/web/LoopbackPair.h"

namespace corvel {
namespace {

int unsentLimitOf(const Socket& socket) {
    int value = -1;
    socklen_t length = sizeof value;
    if (::getsockopt(socket.descriptor(), IPPROTO_TCP, TCP_NOTSENT_LOWAT, &value, &length) != 0) return -1;
    return value;
}

TEST(CrowdedSend, CountsItselfWhileItLivesAndLimitsOnlyOnceTheSendsFillTheCpus) {
    const int cpus = usableCpuCount();
    ASSERT_GE(cpus, 1);
    std::atomic<int> sends{0};
    testing::LoopbackPair lone = testing::makeLoopbackPair();
    const int kernelDefault = unsentLimitOf(lone.server);
    {
        const CrowdedSend sending(&sends, lone.server);
        EXPECT_EQ(sends.load(), 1);
        EXPECT_FALSE(sending.limited());
        EXPECT_EQ(unsentLimitOf(lone.server), kernelDefault);
    }
    EXPECT_EQ(sends.load(), 0);

    // As many sends as CPUs already going: the next one keeps its unsent bytes short.
    sends = cpus;
    testing::LoopbackPair crowded = testing::makeLoopbackPair();
    {
        const CrowdedSend sending(&sends, crowded.server);
        EXPECT_TRUE(sending.limited());
        EXPECT_EQ(unsentLimitOf(crowded.server), kCrowdedUnsentBytes);
        EXPECT_EQ(sends.load(), cpus + 1);
    }
    EXPECT_EQ(sends.load(), cpus);
    // The connection may stay open for a download of its own: the default is back.
    EXPECT_EQ(unsentLimitOf(crowded.server), kernelDefault);
}

TEST(CrowdedSend, WithoutACountNothingIsCountedOrLimited) {
    testing::LoopbackPair pair = testing::makeLoopbackPair();
    const int kernelDefault = unsentLimitOf(pair.server);
    const CrowdedSend sending(nullptr, pair.server);
    EXPECT_FALSE(sending.limited());
    EXPECT_EQ(unsentLimitOf(pair.server), kernelDefault);
}

}  // namespace
}  // namespace corvel
