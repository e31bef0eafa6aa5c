// The stop request: signalled only while a server holds its status block, so no
// signal is left pending for the next server to take at its start.
#include <gtest/gtest.h>

#include "admin/StopRequest.h"
#include "common/NamedObjectNames.h"
#include "common/SharedBlocks.h"
#include "platform/NamedObjects.h"
#include "tests/unit/accounts/TempProgramDirectory.h"

namespace corvel {
namespace {

TEST(StopRequest, WithoutAServerNothingIsSignalled) {
    TempProgramDirectory dir;
    // A console holds the stop event while no server runs.
    std::optional<NamedEvent> stop = NamedEvent::createOrOpen(names::kStopEvent);
    ASSERT_TRUE(stop);
    EXPECT_FALSE(serverRunning());
    EXPECT_EQ(requestStop(), StopOutcome::NoServer);
    EXPECT_FALSE(stop->wait(0));
    EXPECT_TRUE(waitUntilServerGone(0));
}

TEST(StopRequest, ARunningServerGetsExactlyOneSignalAndIsSeenGone) {
    TempProgramDirectory dir;
    std::optional<NamedEvent> stop = NamedEvent::createOrOpen(names::kStopEvent);
    std::optional<SharedBlock> status = SharedBlock::createZeroed(names::kStatusBlock, kStatusBlockSize);
    ASSERT_TRUE(stop && status);
    EXPECT_TRUE(serverRunning());
    EXPECT_EQ(requestStop(), StopOutcome::Signalled);
    EXPECT_TRUE(stop->wait(0));
    EXPECT_FALSE(stop->wait(0));
    EXPECT_FALSE(waitUntilServerGone(100));
    status.reset();
    EXPECT_TRUE(waitUntilServerGone(1000));
    EXPECT_EQ(requestStop(), StopOutcome::NoServer);
}

}  // namespace
}  // namespace corvel
