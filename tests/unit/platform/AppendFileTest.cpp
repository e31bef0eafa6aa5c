// The append-only file: every line lands at the end, also after the file was cut
// short by someone else, and a failure says why.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "platform/AppendFile.h"
#include "support/ScratchFiles.h"

namespace corvel {
namespace {

using AppendFileTest = testing::ScratchDirectoryTest;

TEST_F(AppendFileTest, LinesGoToTheEndWhateverElseWroteThere) {
    write("log", "kept\n");
    std::optional<AppendFile> file = AppendFile::open(path("log"));
    ASSERT_TRUE(file);
    ASSERT_TRUE(file->append("one\n").ok());
    // Another writer (or copytruncate) changed the file meanwhile.
    ASSERT_EQ(::truncate(path("log").c_str(), 0), 0);
    ASSERT_TRUE(file->append("two\n").ok());
    EXPECT_EQ(read("log"), "two\n");

    Status failure;
    EXPECT_FALSE(AppendFile::open(path("no/such/dir/log"), &failure));
    EXPECT_EQ(failure.systemError(), ENOENT);
    EXPECT_FALSE(failure.text().empty());
}

}  // namespace
}  // namespace corvel
