#include "ftp/ControlWatch.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/FileSystem.h"
#include "support/ScratchFiles.h"

namespace corvel {
namespace {

using testing::ScratchDirectoryTest;
using testing::SocketPair;

TEST(ControlWatchText, TelnetCommandsBeforeALineAreDroppedAndOnlyABORIsAnAbort) {
    EXPECT_EQ(withoutTelnetCommands("\xff\xf4\xff\xf2" "ABOR\r\n"), "ABOR\r\n");
    EXPECT_EQ(withoutTelnetCommands("\xff\xf4\xf2" "ABOR\r\n"), "ABOR\r\n");  // the DM's IAC taken as urgent
    EXPECT_EQ(withoutTelnetCommands("\xff\xff" "x"), "\xff\xff" "x");          // an escaped data byte stays
    EXPECT_EQ(withoutTelnetCommands("RETR \xff\xf4"), "RETR \xff\xf4");        // only before the command
    EXPECT_EQ(withoutTelnetCommands("\xff"), "");
    for (const char* line : {"ABOR\r\n", "abor\n", "ABOR\r", " Abor \r\n", "\xff\xf4\xff\xf2" "ABOR\r\n"})
        EXPECT_TRUE(isAbortLine(line)) << line;
    for (const char* line : {"ABORT\r\n", "ABO\r\n", "NOOP\r\n", "ABOR x\r\n", "\r\n"})
        EXPECT_FALSE(isAbortLine(line)) << line;
}

struct Watched {
    SocketPair control;
    SocketPair data;
    CommandLineAssembler commands;
    std::deque<CommandLineEvent> waiting;

    void clientSends(const std::string& text) {
        ASSERT_EQ(::send(control.far.descriptor(), text.data(), text.size(), 0), static_cast<ssize_t>(text.size()));
    }
};

TEST(ControlWatch, CommandsWaitInOrderAnAborStopsAndAFloodIsNotReadPastItsBound) {
    Watched w;
    ASSERT_TRUE(w.control.near.setNonBlocking());
    {
        ControlWatch watch(w.control.near, w.data.near, w.commands, w.waiting);
        w.clientSends("NOOP\r\nPWD\r\nSTA");
        EXPECT_FALSE(watch.stopRequested());
        ASSERT_EQ(w.waiting.size(), 2u);
        EXPECT_EQ(w.waiting[0].text, "NOOP\r\n");
        EXPECT_EQ(w.waiting[1].text, "PWD\r\n");
        w.clientSends("T\r\nABOR\r\nQUIT\r\n");
        EXPECT_TRUE(watch.stopRequested());
        EXPECT_TRUE(watch.aborted());
        ASSERT_EQ(w.waiting.size(), 3u);
        EXPECT_EQ(w.waiting[2].text, "STAT\r\n");
        EXPECT_EQ(watch.descriptor(), -1);  // nothing more is read once aborted
    }
    // The line after the ABOR stays in the assembler for the session.
    std::optional<CommandLineEvent> rest = w.commands.next();
    ASSERT_TRUE(rest);
    EXPECT_EQ(rest->text, "QUIT\r\n");

    Watched flood;
    ASSERT_TRUE(flood.control.near.setNonBlocking());
    ControlWatch watch(flood.control.near, flood.data.near, flood.commands, flood.waiting);
    std::string lines;
    for (int i = 0; i < 40; ++i) lines += "NOOP\r\n";
    flood.clientSends(lines + "ABOR\r\n");
    EXPECT_FALSE(watch.stopRequested());
    EXPECT_EQ(flood.waiting.size(), ControlWatch::kMaxWaitingCommands);
    EXPECT_EQ(watch.descriptor(), -1);
}

class ControlWatchTransfer : public ScratchDirectoryTest {};

TEST_F(ControlWatchTransfer, AnAborEndsASendfileDownloadWhosePeerStoppedReadingAndTheWatchGoesWithIt) {
    const std::string name = path("big");
    {
        std::FILE* f = std::fopen(name.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(::ftruncate(::fileno(f), 256 << 20), 0);
        std::fclose(f);
    }
    OpenedFile file = openFileForReading(name);
    ASSERT_EQ(file.status, OpenStatus::Opened);
    Watched w;
    ASSERT_TRUE(w.control.near.setNonBlocking());
    std::thread client([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        w.clientSends("ABOR\r\n");
    });
    const auto started = std::chrono::steady_clock::now();
    bool sent = true;
    {
        ControlWatch watch(w.control.near, w.data.near, w.commands, w.waiting);
        sent = sendFileRange(file.file, w.data.near, 0);
        EXPECT_TRUE(watch.aborted());
    }
    client.join();
    EXPECT_FALSE(sent);
    EXPECT_FALSE(w.data.near.isOpen());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));

    // Unwatched again: a line on the control connection no longer ends a transfer.
    SocketPair again;
    w.data.near = std::move(again.near);
    w.clientSends("ABOR\r\n");
    EXPECT_FALSE(w.data.near.interrupted());
    const char byte = 'x';
    EXPECT_EQ(w.data.near.send(&byte, 1).bytes, 1u);
}

}  // namespace
}  // namespace corvel
