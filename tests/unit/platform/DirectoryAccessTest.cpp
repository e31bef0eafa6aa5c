// The directory access check on real files: missing places, files that are no
// directory, and directories this process may use.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <unistd.h>

#include "platform/DirectoryAccess.h"
#include "support/ScratchFiles.h"

namespace corvel {
namespace {

namespace fs = std::filesystem;

using DirectoryAccessTest = testing::ScratchDirectoryTest;

TEST_F(DirectoryAccessTest, GivesTheSystemTextForWhatCannotBeUsed) {
    write("file", "x");
    fs::create_symlink(path("gone"), path("broken"));
    for (DirectoryUse use : {DirectoryUse::Read, DirectoryUse::Write}) {
        EXPECT_EQ(directoryAccessProblem(path("missing"), use), "No such file or directory");
        EXPECT_EQ(directoryAccessProblem(path("broken"), use), "No such file or directory");
        EXPECT_EQ(directoryAccessProblem(path("file"), use), "Not a directory");
        EXPECT_EQ(directoryAccessProblem(dir_ + std::string("\0x", 2), use), "Invalid argument");
    }
}

TEST_F(DirectoryAccessTest, AcceptsADirectoryAlsoThroughALink) {
    fs::create_directory(path("home"));
    fs::create_directory_symlink(path("home"), path("link"));
    for (const char* name : {"home", "link"}) {
        EXPECT_EQ(directoryAccessProblem(path(name), DirectoryUse::Read), "") << name;
        EXPECT_EQ(directoryAccessProblem(path(name), DirectoryUse::Write), "") << name;
    }
}

TEST_F(DirectoryAccessTest, ReadOnlyDirectoryRefusesWritingUnlessPrivileged) {
    fs::create_directory(path("ro"));
    fs::permissions(path("ro"), fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_EQ(directoryAccessProblem(path("ro"), DirectoryUse::Read), "");
    // root overrides the mode bits, as its service does with CAP_DAC_OVERRIDE.
    EXPECT_EQ(directoryAccessProblem(path("ro"), DirectoryUse::Write),
              ::geteuid() == 0 ? "" : "Permission denied");
}

}  // namespace
}  // namespace corvel
