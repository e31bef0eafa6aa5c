// Handles of the file service for reads and writes at offsets: the rights and the
// path rules come before the disk, as in every other operation, and the bytes land
// where the offsets say.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/Permissions.h"
#include "files/FileService.h"
#include "support/ScratchFiles.h"

namespace corvel {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kEveryRight = PERM_CREATE_FILE | PERM_READ_FILE | PERM_WRITE_FILE | PERM_REMOVE_FILE |
                                      PERM_CREATE_DIR | PERM_LIST | PERM_REMOVE_DIR;

constexpr HandleRequest kRead{};
constexpr HandleRequest kWrite{.access = HandleAccess::Write};
constexpr HandleRequest kCreate{.access = HandleAccess::Write, .create = true};

class FileHandleTest : public testing::ScratchDirectoryTest {
protected:
    void SetUp() override {
        ScratchDirectoryTest::SetUp();
        fs::create_directory(path("home"));
        fs::create_directory(path("home/docs"));
        write("home/docs/a.txt", "0123456789");
        write("outside.txt", "not yours");
    }
    FileService service(std::uint32_t rights = kEveryRight) const { return FileService(path("home"), rights); }
};

TEST_F(FileHandleTest, TheRightComesFirstThenThePathThenTheDisk) {
    EXPECT_EQ(service(kEveryRight & ~PERM_READ_FILE).openHandle({"/docs/a.txt"}, kRead).status, FileStatus::NoRight);
    EXPECT_EQ(service(kEveryRight & ~PERM_WRITE_FILE).openHandle({"/docs/a.txt"}, kWrite).status, FileStatus::NoRight);
    // Write without Create reaches an existing file, never makes a new one.
    EXPECT_TRUE(service(kEveryRight & ~PERM_CREATE_FILE).openHandle({"/docs/a.txt"}, kWrite).ok());
    EXPECT_EQ(service(kEveryRight & ~PERM_CREATE_FILE).openHandle({"/new.txt"}, kCreate).status, FileStatus::NoRight);
    EXPECT_FALSE(fs::exists(path("home/new.txt")));
    for (const std::string escaped : {"../outside.txt", "/../outside.txt", "/docs/../../outside.txt"}) {
        SCOPED_TRACE(escaped);
        EXPECT_EQ(service().openHandle({escaped}, kRead).status, FileStatus::Escaped);
        EXPECT_EQ(service().openHandle({escaped}, kCreate).status, FileStatus::Escaped);
    }
    EXPECT_EQ(read("outside.txt"), "not yours");
    // An absolute path names the home's root, never the machine's.
    EXPECT_EQ(service().openHandle({path("outside.txt")}, kRead).status, FileStatus::NotFound);
}

TEST_F(FileHandleTest, KindsAndExistenceAreToldApart) {
    EXPECT_EQ(service().openHandle({"/none.txt"}, kRead).status, FileStatus::NotFound);
    EXPECT_EQ(service().openHandle({"/none.txt"}, kWrite).status, FileStatus::NotFound);
    EXPECT_EQ(service().openHandle({"/docs"}, kRead).status, FileStatus::WrongKind);
    EXPECT_EQ(service().openHandle({"/docs"}, kCreate).status, FileStatus::WrongKind);
    HandleRequest exclusive = kCreate;
    exclusive.exclusive = true;
    EXPECT_EQ(service().openHandle({"/docs/a.txt"}, exclusive).status, FileStatus::Exists);
    EXPECT_TRUE(service().openHandle({"/docs/b.txt"}, exclusive).ok());
    EXPECT_TRUE(fs::exists(path("home/docs/b.txt")));
}

TEST_F(FileHandleTest, ReadsAndWritesLandAtTheirOffsets) {
    {
        auto opened = service().openHandle({"docs/a.txt"}, kWrite);
        ASSERT_TRUE(opened.ok());
        ASSERT_TRUE(opened.value.has_value());
        EXPECT_TRUE(opened.value->write("ab", 2, 3));
        EXPECT_TRUE(opened.value->write("XY", 2, 12));  // past the end: the gap is zeros
        EXPECT_EQ(opened.value->info()->size, 14);
        char buffer[4];
        EXPECT_FALSE(opened.value->read(buffer, sizeof buffer, 0).has_value());  // a write handle does not read
    }
    EXPECT_EQ(read("home/docs/a.txt"), std::string("012ab56789\0\0XY", 14));
    auto opened = service().openHandle({"/docs/a.txt"}, kRead);
    ASSERT_TRUE(opened.ok() && opened.value);
    char buffer[8];
    EXPECT_EQ(opened.value->read(buffer, 4, 2), std::optional<std::size_t>(4));
    EXPECT_EQ(std::string(buffer, 4), "2ab5");
    EXPECT_EQ(opened.value->read(buffer, sizeof buffer, 14), std::optional<std::size_t>(0));
    EXPECT_FALSE(opened.value->write("z", 1, 0));  // a read handle does not write
}

TEST_F(FileHandleTest, TruncateEmptiesAndAppendAddsAtTheEnd) {
    HandleRequest append = kWrite;
    append.append = true;
    {
        auto opened = service().openHandle({"/docs/a.txt"}, append);
        ASSERT_TRUE(opened.ok() && opened.value);
        EXPECT_TRUE(opened.value->write("!", 1, 0));
    }
    EXPECT_EQ(read("home/docs/a.txt"), "0123456789!");
    HandleRequest truncate = kCreate;
    truncate.truncate = true;
    {
        auto opened = service().openHandle({"/docs/a.txt"}, truncate);
        ASSERT_TRUE(opened.ok() && opened.value);
        EXPECT_EQ(opened.value->info()->size, 0);
    }
    EXPECT_EQ(read("home/docs/a.txt"), "");
}

}  // namespace
}  // namespace corvel
