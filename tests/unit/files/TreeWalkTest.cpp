// The walk of a folder tree for a download of it all: both rights first, every
// folder before what it holds, files opened for reading, and a bounded depth.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "common/Permissions.h"
#include "files/FileService.h"
#include "support/ScratchFiles.h"

namespace corvel {
namespace {

namespace fs = std::filesystem;

class TreeWalkTest : public testing::ScratchDirectoryTest {
protected:
    void SetUp() override {
        ScratchDirectoryTest::SetUp();
        fs::create_directories(path("home/top/a/b"));
        fs::create_directories(path("home/top/empty"));
        write("home/top/one.txt", "one");
        write("home/top/a/b/deep.bin", "deep bytes");
        write("home/outside.txt", "x");
    }
    FileService service(std::uint32_t rights = PERM_LIST | PERM_READ_FILE) const {
        return FileService(path("home"), rights);
    }
};

TEST_F(TreeWalkTest, FoldersComeBeforeTheirContentsAndFilesArriveOpened) {
    std::vector<std::string> seen;
    std::string deep;
    const auto walked = service().forEachInTree({"/top"}, [&](const TreeEntry& entry, TransferFile* file) {
        seen.push_back((entry.kind == EntryKind::Directory ? "d " : "f ") + entry.relative);
        if (entry.relative == "a/b/deep.bin") {
            EXPECT_NE(file, nullptr);
            char buffer[64];
            const long n = file->read(buffer, sizeof buffer);
            EXPECT_EQ(file->size(), 10);
            deep.assign(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
        }
        return true;
    });
    ASSERT_TRUE(walked.ok());
    EXPECT_EQ(deep, "deep bytes");
    std::vector<std::string> sorted = seen;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<std::string>{"d a", "d a/b", "d empty", "f a/b/deep.bin", "f one.txt"}));
    auto before = [&](const std::string& a, const std::string& b) {
        return std::find(seen.begin(), seen.end(), a) < std::find(seen.begin(), seen.end(), b);
    };
    EXPECT_TRUE(before("d a", "d a/b"));
    EXPECT_TRUE(before("d a/b", "f a/b/deep.bin"));
}

TEST_F(TreeWalkTest, EachRightIsNeededAndCheckedBeforeThePath) {
    auto nothing = [](const TreeEntry&, TransferFile*) {
        ADD_FAILURE() << "nothing may be visited";
        return true;
    };
    for (const std::string& name : {std::string("/top"), std::string("../../x")}) {
        EXPECT_EQ(service(PERM_LIST).forEachInTree({name}, nothing).status, FileStatus::NoRight);
        EXPECT_EQ(service(PERM_READ_FILE).forEachInTree({name}, nothing).status, FileStatus::NoRight);
    }
    EXPECT_EQ(service().forEachInTree({"../.."}, nothing).status, FileStatus::Escaped);
    EXPECT_EQ(service().forEachInTree({"/top/one.txt"}, nothing).status, FileStatus::NotFound);
    EXPECT_EQ(service().forEachInTree({"/missing"}, nothing).status, FileStatus::NotFound);
}

TEST_F(TreeWalkTest, AWalkStopsWhenAskedAndALinkBackUpEndsAtTheDepthLimit) {
    int visits = 0;
    EXPECT_TRUE(service().forEachInTree({"/top"}, [&](const TreeEntry&, TransferFile*) { return ++visits < 2; }).ok());
    EXPECT_EQ(visits, 2);
    fs::create_directory_symlink(path("home/top"), path("home/top/a/loop"));
    int folders = 0;
    EXPECT_TRUE(service()
                    .forEachInTree({"/top"},
                                   [&](const TreeEntry& entry, TransferFile*) {
                                       if (entry.kind == EntryKind::Directory) ++folders;
                                       return folders < 100000;
                                   })
                    .ok());
    EXPECT_LT(folders, 100000);
    EXPECT_GT(folders, kMaxTreeDepth);
}

}  // namespace
}  // namespace corvel
