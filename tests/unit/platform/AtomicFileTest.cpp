// Whole-file replacement: the old file stays until a new one is complete and checked.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "platform/AtomicFile.h"
#include "support/ScratchFiles.h"

namespace corvel {
namespace {

using AtomicFileTest = testing::ScratchDirectoryTest;

bool writeText(std::FILE* file, const char* text) { return std::fputs(text, file) >= 0; }

TEST_F(AtomicFileTest, ReplacesOnlyWhenWrittenAndCheckedAndKeepsTheMode) {
    write("users.xml", "old");
    ::chmod(path("users.xml").c_str(), 0600);

    std::string checked;
    EXPECT_FALSE(replaceFileAtomically(
        path("users.xml"), [](std::FILE* file) { return writeText(file, "unreadable"); },
        [&](const std::string& written) {
            checked = written;
            return false;
        }));
    EXPECT_EQ(read("users.xml"), "old");
    EXPECT_NE(checked, path("users.xml"));
    EXPECT_FALSE(std::filesystem::exists(checked)) << "the refused temporary file is removed";

    EXPECT_FALSE(replaceFileAtomically(path("users.xml"), [](std::FILE*) { return false; }));
    EXPECT_EQ(read("users.xml"), "old");

    ASSERT_TRUE(replaceFileAtomically(
        path("users.xml"), [](std::FILE* file) { return writeText(file, "new"); },
        [](const std::string&) { return true; }));
    EXPECT_EQ(read("users.xml"), "new");
    struct stat info {};
    ASSERT_EQ(::stat(path("users.xml").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 1);
}

TEST_F(AtomicFileTest, ALinkedFileIsReplacedWhereItLiesAndTheLinkStays) {
    std::filesystem::create_directory(path("shared"));
    write("shared/users.xml", "old");
    std::filesystem::create_symlink(path("shared/users.xml"), path("users.xml"));
    ASSERT_TRUE(replaceFileAtomically(path("users.xml"), [](std::FILE* file) { return writeText(file, "new"); }));
    EXPECT_TRUE(std::filesystem::is_symlink(path("users.xml")));
    EXPECT_EQ(read("shared/users.xml"), "new");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(path("shared")), {}), 1);
}

}  // namespace
}  // namespace corvel
