// Failures of the platform calls the server starts with carry the system's
// error number and words to the caller, which no longer reads errno itself.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/NamedObjects.h"
#include "platform/Socket.h"
#include "platform/Status.h"

namespace corvel {
namespace {

TEST(StatusTest, ListenerFailuresSayWhy) {
    Status status;
    EXPECT_FALSE(TcpListener::open("no.such.address", 0, 1, &status));
    EXPECT_EQ(status.systemError(), EINVAL);
    EXPECT_EQ(status.text(), "\"no.such.address\" is not an IP address");

    std::optional<TcpListener> first = TcpListener::open("127.0.0.1", 0, 1);
    ASSERT_TRUE(first);
    Status taken;
    EXPECT_FALSE(TcpListener::open("127.0.0.1", first->port(), 1, &taken));
    EXPECT_EQ(taken.systemError(), EADDRINUSE);
    EXPECT_FALSE(taken.text().empty());
    EXPECT_FALSE(taken.ok());

    Status untouched;
    std::optional<TcpListener> free = TcpListener::open("127.0.0.1", 0, 1, &untouched);
    ASSERT_TRUE(free);
    EXPECT_TRUE(untouched.ok());
}

TEST(StatusTest, NamedObjectFailuresSayWhyEvenWithoutASystemError) {
    const std::string dir = ::testing::TempDir() + "corvel-status-" + std::to_string(::getpid());
    std::filesystem::create_directories(dir);
    ::setenv("CORVELFTP_RUNTIME_DIR", dir.c_str(), 1);

    // A refusal of the file's own (a bad name) is a failure too, never "Success".
    Status badName;
    EXPECT_FALSE(NamedEvent::createOrOpen("../ESCAPE", nullptr, &badName));
    EXPECT_EQ(badName.systemError(), EINVAL);
    EXPECT_FALSE(badName.ok());

    // Another kind of object under the name.
    auto mutex = NamedMutex::createOrOpen("KIND");
    ASSERT_TRUE(mutex);
    Status otherKind;
    EXPECT_FALSE(NamedEvent::createOrOpen("KIND", nullptr, &otherKind));
    EXPECT_NE(otherKind.systemError(), 0);

    Status fine;
    EXPECT_TRUE(SharedBlock::createZeroed("BLOCK", 16, nullptr, &fine));
    EXPECT_TRUE(fine.ok());

    mutex.reset();
    ::unsetenv("CORVELFTP_RUNTIME_DIR");
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace corvel
