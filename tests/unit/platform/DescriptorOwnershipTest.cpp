// Who owns a descriptor after a move, and the wake-up pipe of the listener loop:
// a move-assignment closes what the target held and leaves the source empty, and a
// wake-up ends a wait on listeners at once however many came before it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/Socket.h"
#include "platform/UniqueFd.h"
#include "platform/WakePipe.h"

namespace corvel {
namespace {

bool isOpenDescriptor(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

TEST(DescriptorOwnership, MoveAssignmentClosesWhatTheTargetHeldAndEmptiesTheSource) {
    UniqueFd first(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    UniqueFd second(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    const int firstFd = first.get();
    const int secondFd = second.get();
    second = std::move(first);
    EXPECT_EQ(second.get(), firstFd);
    EXPECT_FALSE(first.isOpen());  // NOLINT(bugprone-use-after-move): the moved-from state is the point
    EXPECT_FALSE(isOpenDescriptor(secondFd));
    EXPECT_TRUE(isOpenDescriptor(firstFd));
    UniqueFd& alias = second;
    second = std::move(alias);  // self-assignment keeps the descriptor
    EXPECT_TRUE(isOpenDescriptor(firstFd));

    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    int spare[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, spare), 0);
    Socket a(pair[0]);
    Socket b(spare[0]);
    b = std::move(a);
    EXPECT_EQ(b.descriptor(), pair[0]);
    EXPECT_FALSE(a.isOpen());  // NOLINT(bugprone-use-after-move)
    EXPECT_FALSE(isOpenDescriptor(spare[0]));
    Socket& self = b;
    b = std::move(self);
    EXPECT_TRUE(b.isOpen());
    // The moved socket still works: the peer gets what it sends.
    ASSERT_EQ(sendAll(b, "x"), 1);
    char got = 0;
    EXPECT_EQ(::read(pair[1], &got, 1), 1);
    EXPECT_EQ(got, 'x');
    ::close(pair[1]);
    ::close(spare[1]);
}

TEST(WakePipe, AWakeUpEndsAWaitOnListenersAndIsTakenOnce) {
    WakePipe wake;
    ASSERT_TRUE(wake.isOpen());
    Status failure;
    auto listener = TcpListener::open("127.0.0.1", 0, 0, &failure);
    ASSERT_TRUE(listener) << failure.text();
    Socket* listeners[] = {&listener->socket()};
    EXPECT_EQ(waitAnyReadable(listeners, 1, 0, wake.readableDescriptor()), -1);
    EXPECT_FALSE(wake.drain());
    // Far more wake-ups than the pipe holds never block the one who wakes.
    for (int i = 0; i < 100000; ++i) wake.wake();
    EXPECT_EQ(waitAnyReadable(listeners, 1, 5000, wake.readableDescriptor()), 1);
    EXPECT_TRUE(wake.drain());
    EXPECT_FALSE(wake.drain());
    EXPECT_EQ(waitAnyReadable(listeners, 1, 0, wake.readableDescriptor()), -1);
    // Without a wake-up descriptor the wait is the listeners' alone.
    wake.wake();
    EXPECT_EQ(waitAnyReadable(listeners, 1, 0, -1), -1);
}

}  // namespace
}  // namespace corvel
