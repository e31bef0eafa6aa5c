// The pieces an upload in chunks is built from: a file opened to write at an offset
// (rights first, no holes), exactly a chunk's bytes taken from a socket, and the
// finished file moved over its name in one step.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#include "common/Permissions.h"
#include "files/FileService.h"
#include "platform/Socket.h"
#include "support/ScratchFiles.h"

namespace corvel {
namespace {

namespace fs = std::filesystem;
using testing::SocketPair;

constexpr std::uint32_t kEveryRight = PERM_CREATE_FILE | PERM_READ_FILE | PERM_WRITE_FILE | PERM_REMOVE_FILE |
                                      PERM_CREATE_DIR | PERM_LIST | PERM_REMOVE_DIR;

std::string pattern(std::size_t length) {
    std::string text(length, '\0');
    for (std::size_t i = 0; i < length; ++i) text[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    return text;
}

class ChunkedWriteTest : public testing::ScratchDirectoryTest {
protected:
    void SetUp() override {
        ScratchDirectoryTest::SetUp();
        fs::create_directory(path("home"));
        fs::create_directory(path("home/docs"));
        write("home/part", "0123456789");
        write("outside.txt", "not yours");
    }
    FileService service(std::uint32_t rights = kEveryRight) const { return FileService(path("home"), rights); }
};

TEST_F(ChunkedWriteTest, OpeningAtAnOffsetChecksTheRightsThePathAndLeavesNoHole) {
    const std::string part = "/part";
    EXPECT_EQ(service(kEveryRight & ~PERM_WRITE_FILE).openForWritingAt({part}, 0).status, FileStatus::NoRight);
    // A new file needs Create as well; refused, nothing is made.
    EXPECT_EQ(service(kEveryRight & ~PERM_CREATE_FILE).openForWritingAt({"/new"}, 0).status, FileStatus::NoRight);
    EXPECT_FALSE(fs::exists(path("home/new")));
    EXPECT_EQ(service().openForWritingAt({"../outside.txt"}, 0).status, FileStatus::Escaped);
    EXPECT_EQ(service().openForWritingAt({"/docs"}, 0).status, FileStatus::WrongKind);
    // Past the bytes that are there would leave a hole; nothing there has no bytes.
    EXPECT_EQ(service().openForWritingAt({part}, 11).status, FileStatus::BeyondEnd);
    EXPECT_EQ(service().openForWritingAt({part}, -1).status, FileStatus::BeyondEnd);
    EXPECT_EQ(service().openForWritingAt({"/missing"}, 5).status, FileStatus::BeyondEnd);
    EXPECT_FALSE(fs::exists(path("home/missing")));

    auto atEnd = service(kEveryRight & ~PERM_CREATE_FILE).openForWritingAt({part}, 10);
    ASSERT_TRUE(atEnd.ok());
    ASSERT_TRUE(atEnd.value.has_value());
    EXPECT_EQ(atEnd.value->size(), 10);
    // Held under the exclusive lock: a second writer cannot have it meanwhile.
    EXPECT_FALSE(LocalFile(path("home/part")).openForReceiving(WriteMode::Overwrite).has_value());
    atEnd.value.reset();
    auto fresh = service().openForWritingAt({"/docs/new"}, 0);
    ASSERT_TRUE(fresh.ok());
    EXPECT_EQ(read("home/docs/new"), "");
}

TEST_F(ChunkedWriteTest, ReceiveExactlyTakesTheHeadBytesThenTheSocketAndNoMore) {
    const std::string chunk = pattern(300 * 1024 + 5);  // several buffers, an odd end
    auto opened = service().openForWritingAt({"/part"}, 4);
    ASSERT_TRUE(opened.ok());
    SocketPair pair;
    // The first bytes came with the request's head; the socket then holds the rest
    // of the chunk and the start of something else, which must stay unread.
    const std::string early = chunk.substr(0, 1000);
    std::thread writer([&] { EXPECT_GT(sendAll(pair.far, chunk.substr(1000) + "NEXT"), 0); });
    EXPECT_EQ(opened.value->receiveExactly(pair.near, early, 4, static_cast<std::int64_t>(chunk.size())),
              TransferResult::Completed);
    writer.join();
    EXPECT_TRUE(pair.near.isOpen());
    char rest[8] = {};
    EXPECT_EQ(pair.near.receive(rest, sizeof rest).bytes, 4u);
    EXPECT_EQ(std::string(rest, 4), "NEXT");
    opened.value.reset();
    // Written from the offset on; the bytes before it stay, the file is never cut.
    EXPECT_TRUE(read("home/part") == "0123" + chunk);

    // Head bytes past the count belong to nobody and are not written; offset 0
    // starts the file again, so no stale bytes stay behind the new ones.
    auto again = service().openForWritingAt({"/part"}, 0);
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(again.value->size(), 0);
    EXPECT_EQ(again.value->receiveExactly(pair.near, "ABCDEFG", 0, 3), TransferResult::Completed);
    EXPECT_TRUE(again.value->write("de"));
    again.value.reset();
    EXPECT_EQ(read("home/part"), "ABCde");
}

TEST_F(ChunkedWriteTest, AChunkCutShortKeepsWhatArrivedAndIsBroken) {
    auto opened = service().openForWritingAt({"/fresh"}, 0);
    ASSERT_TRUE(opened.ok());
    SocketPair pair;
    const std::string sent = pattern(200 * 1024);
    std::thread writer([&] {
        EXPECT_EQ(sendAll(pair.far, sent), static_cast<long>(sent.size()));
        pair.far.close();
    });
    EXPECT_EQ(opened.value->receiveExactly(pair.near, "", 0, 1 << 20), TransferResult::Broken);
    writer.join();
    opened.value.reset();
    // Every byte that came is on disk, so a client resumes right after it.
    EXPECT_TRUE(read("home/fresh") == sent);
}

TEST_F(ChunkedWriteTest, ReplaceByRenameNeedsWriteAFileAndNeverReplacesAFolder) {
    write("home/docs/old.txt", "old");
    EXPECT_EQ(service(kEveryRight & ~PERM_WRITE_FILE).replaceByRename({"/part"}, {"/docs/old.txt"}).status,
              FileStatus::NoRight);
    EXPECT_EQ(service().replaceByRename({"/part"}, {"../outside.txt"}).status, FileStatus::Escaped);
    EXPECT_EQ(read("outside.txt"), "not yours");
    auto folder = service().replaceByRename({"/part"}, {"/docs"});
    EXPECT_EQ(folder.status, FileStatus::WrongKind);
    EXPECT_EQ(folder.value, RenameSide::Target);
    auto missing = service().replaceByRename({"/nothing"}, {"/x"});
    EXPECT_EQ(missing.status, FileStatus::NotFound);
    EXPECT_EQ(missing.value, RenameSide::Source);
    EXPECT_EQ(service().replaceByRename({"/docs"}, {"/x"}).status, FileStatus::NotFound);  // folders are not moved

    EXPECT_TRUE(service().replaceByRename({"/part"}, {"/docs/old.txt"}).ok());
    EXPECT_EQ(read("home/docs/old.txt"), "0123456789");
    EXPECT_FALSE(fs::exists(path("home/part")));
    write("home/part", "again");
    EXPECT_TRUE(service().replaceByRename({"/part"}, {"/docs/brand-new.txt"}).ok());
    EXPECT_EQ(read("home/docs/brand-new.txt"), "again");
}

TEST_F(ChunkedWriteTest, HowMuchWasWrittenIsAskedWithTheWriteRight) {
    EXPECT_EQ(service(kEveryRight & ~PERM_WRITE_FILE).stat({"/part"}, StatPurpose::Writing).status,
              FileStatus::NoRight);
    auto seen = service(PERM_WRITE_FILE).stat({"/part"}, StatPurpose::Writing);
    ASSERT_TRUE(seen.ok());
    EXPECT_EQ(seen.value.size, 10);
}

}  // namespace
}  // namespace corvel
