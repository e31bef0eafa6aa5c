// Running a program and collecting its output: exit status, both streams, a program
// that cannot start, one that outlives its time-out, one ended by a signal.
#include <gtest/gtest.h>

#include <chrono>

#include "platform/Process.h"

namespace corvel {
namespace {

TEST(RunProcess, CollectsBothStreamsAndTheExitStatus) {
    ProcessResult result = runProcess("sh", {"-c", "echo out; echo err >&2; exit 7"}, 10000);
    EXPECT_TRUE(result.exitedWith(7));
    EXPECT_EQ(result.output, "out\n");
    EXPECT_EQ(result.errorOutput, "err\n");
}

TEST(RunProcess, ArgumentsArriveUnsplit) {
    ProcessResult result = runProcess("printf", {"[%s]", "a b", "", "c;d"}, 10000);
    EXPECT_TRUE(result.exitedWith(0));
    EXPECT_EQ(result.output, "[a b][][c;d]");
}

TEST(RunProcess, StandardInputIsEmpty) {
    ProcessResult result = runProcess("cat", {}, 10000);
    EXPECT_TRUE(result.exitedWith(0));
    EXPECT_EQ(result.output, "");
}

TEST(RunProcess, MissingProgramGivesTheSystemText) {
    ProcessResult result = runProcess("/nonexistent/corvel-no-such-program", {}, 10000);
    EXPECT_EQ(result.outcome, ProcessOutcome::StartFailed);
    EXPECT_EQ(result.failure, "No such file or directory");
}

TEST(RunProcess, ProgramOutlivingItsTimeOutIsKilled) {
    auto started = std::chrono::steady_clock::now();
    // The grandchild keeps the pipes open; the wait must still end on time.
    ProcessResult result = runProcess("sh", {"-c", "sleep 3 & sleep 20"}, 200);
    EXPECT_EQ(result.outcome, ProcessOutcome::TimedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}

TEST(RunProcess, SignalledProgramIsReportedSo) {
    ProcessResult result = runProcess("sh", {"-c", "kill -TERM $$"}, 10000);
    EXPECT_EQ(result.outcome, ProcessOutcome::Signalled);
    EXPECT_EQ(result.signal, 15);
}

TEST(RunProcess, LargeOutputIsCappedWithoutBlockingTheChild) {
    ProcessResult result = runProcess("head", {"-c", "3000000", "/dev/zero"}, 20000);
    EXPECT_TRUE(result.exitedWith(0));
    EXPECT_EQ(result.output.size(), kMaxCapturedOutputBytes);
}

TEST(ProgramDirectoryTest, IsTheExecutablesDirectoryWithItsSeparator) {
    std::string here = programDirectory();
    ASSERT_FALSE(here.empty());
    EXPECT_EQ(here.back(), '/');
    EXPECT_EQ(here + "unit_service", *currentExecutablePath());
}

}  // namespace
}  // namespace corvel
