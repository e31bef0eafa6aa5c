// Reading the server's status block through the named objects, as the console does.

#include "admin/StatusSnapshot.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <thread>

#include "common/NamedObjectNames.h"
#include "common/SharedBlocks.h"
#include "platform/NamedObjects.h"

namespace corvel {
namespace {

class StatusReadTest : public ::testing::Test {
protected:
    void SetUp() override {
        directory_ = std::filesystem::temp_directory_path() /
                     ("corvel-console-" + std::to_string(::getpid()) + "-" +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(directory_);
        ::setenv("CORVELFTP_RUNTIME_DIR", directory_.c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("CORVELFTP_RUNTIME_DIR");
        std::filesystem::remove_all(directory_);
    }

    // Publishes a status block as a server does and keeps it (and its mutex) open.
    void publish(const StatusBlock& status) {
        mutex_ = NamedMutex::createOrOpen(names::kStatusMutex);
        block_ = SharedBlock::createZeroed(names::kStatusBlock, kStatusBlockSize);
        ASSERT_TRUE(mutex_ && block_);
        status.encode(block_->data());
    }

    std::filesystem::path directory_;
    std::optional<NamedMutex> mutex_;
    std::optional<SharedBlock> block_;
};

TEST_F(StatusReadTest, WithoutAServerNothingIsAvailableAndNothingIsLeftBehind) {
    const StatusSnapshot snapshot = readStatus(100);
    EXPECT_FALSE(snapshot.available);
    EXPECT_FALSE(snapshot.active());
    EXPECT_FALSE(SharedBlock::openExisting(names::kStatusBlock, kStatusBlockSize));
    EXPECT_FALSE(NamedMutex::openExisting(names::kStatusMutex));
}

TEST_F(StatusReadTest, CopiesEveryFieldWithUnsignedPortsAndStartTime) {
    StatusBlock status;
    status.listenAddress = "192.168.100.200";
    status.ftpPort = 65000;
    status.webPort = 40000;
    status.connectionLimit = 50000;
    status.activeConnections = 3;
    status.startTime = std::int32_t(0x90000000u);
    publish(status);
    const StatusSnapshot snapshot = readStatus(100);
    ASSERT_TRUE(snapshot.available);
    EXPECT_TRUE(snapshot.active());
    EXPECT_EQ(snapshot.bindAddress, "192.168.100.200");
    EXPECT_EQ(snapshot.ftpPort, 65000);
    EXPECT_EQ(snapshot.webPort, 40000);
    EXPECT_EQ(snapshot.maxConnections, 50000);
    EXPECT_EQ(snapshot.currentConnections, 3);
    EXPECT_EQ(snapshot.startTime, 0x90000000u);
}

TEST_F(StatusReadTest, AMutexHeldTooLongGivesAnAvailableButEmptySnapshot) {
    StatusBlock status;
    status.ftpPort = 21;
    status.activeConnections = 1;
    publish(status);
    ASSERT_EQ(mutex_->lock(0), LockResult::Acquired);
    // The holder is another thread, as the mutex belongs to whoever locked it.
    StatusSnapshot snapshot;
    std::thread reader([&snapshot] { snapshot = readStatus(50); });
    reader.join();
    mutex_->unlock();
    EXPECT_TRUE(snapshot.available);
    EXPECT_FALSE(snapshot.active());
    EXPECT_EQ(snapshot.ftpPort, 0);
}

}  // namespace
}  // namespace corvel
