// The file service on a real home directory: each operation's right is checked
// before its path, a path above the home touches nothing, and the outcomes the
// protocols turn into their replies.
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

class FileServiceTest : public testing::ScratchDirectoryTest {
protected:
    void SetUp() override {
        ScratchDirectoryTest::SetUp();
        fs::create_directory(path("home"));
        fs::create_directory(path("home/docs"));
        write("home/docs/a.txt", "hello");
        write("outside.txt", "not yours");
    }
    FileService service(std::uint32_t rights = kEveryRight) const { return FileService(path("home"), rights); }
    bool exists(const std::string& name) const { return fs::exists(path(name)); }
};

TEST_F(FileServiceTest, EachOperationWithoutItsRightChangesNothingAndSaysNothingOfThePath) {
    const std::string file = "/docs/a.txt";
    const std::string escaped = "../../outside.txt";
    for (const std::string& name : {file, escaped}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(service(kEveryRight & ~PERM_REMOVE_FILE).removeFile({name}).status, FileStatus::NoRight);
        EXPECT_EQ(service(kEveryRight & ~PERM_READ_FILE).openForReading({name}, 1).status, FileStatus::NoRight);
        EXPECT_EQ(service(kEveryRight & ~PERM_READ_FILE).stat({name}, StatPurpose::Reading).status,
                  FileStatus::NoRight);
        EXPECT_EQ(service(kEveryRight & ~PERM_LIST).stat({name}, StatPurpose::Listing).status, FileStatus::NoRight);
        EXPECT_EQ(service(kEveryRight & ~PERM_LIST).list({name}).status, FileStatus::NoRight);
        EXPECT_EQ(service(kEveryRight & ~PERM_WRITE_FILE).prepareUpload({name}, 0).status, FileStatus::NoRight);
        EXPECT_EQ(service(kEveryRight & ~PERM_WRITE_FILE).rename({name}, {"/b.txt"}).status, FileStatus::NoRight);
        EXPECT_EQ(service(kEveryRight & ~PERM_WRITE_FILE).setModificationTime({name}, 0).status,
                  FileStatus::NoRight);
        EXPECT_EQ(service(kEveryRight & ~PERM_CREATE_DIR).makeFolder({name + "d"}).status, FileStatus::NoRight);
        EXPECT_EQ(service(kEveryRight & ~PERM_REMOVE_DIR).removeFolder({"/docs"}).status, FileStatus::NoRight);
    }
    EXPECT_TRUE(exists("home/docs/a.txt"));
    EXPECT_TRUE(exists("home/docs"));
    EXPECT_FALSE(exists("home/b.txt"));
    // A new file needs Create as well as Write; an existing one only Write.
    EXPECT_EQ(service(kEveryRight & ~PERM_CREATE_FILE).prepareUpload({"/new.bin"}, 0).status, FileStatus::NoRight);
    EXPECT_FALSE(exists("home/new.bin"));
    EXPECT_TRUE(service(kEveryRight & ~PERM_CREATE_FILE).prepareUpload({file}, 0).ok());
}

TEST_F(FileServiceTest, APathAboveTheHomeIsRefusedBeforeTheDiskIsTouched) {
    FileService files = service();
    EXPECT_EQ(files.removeFile({"../outside.txt"}).status, FileStatus::Escaped);
    EXPECT_EQ(files.makeFolder({"/docs/../../made"}).status, FileStatus::Escaped);
    EXPECT_EQ(files.prepareUpload({"../../new.txt"}, 0).status, FileStatus::Escaped);
    EXPECT_EQ(files.rename({"/docs/a.txt"}, {"../../stolen.txt"}).status, FileStatus::Escaped);
    EXPECT_EQ(files.rename({"/docs/a.txt"}, {"../../stolen.txt"}).value, RenameSide::Target);
    EXPECT_TRUE(exists("outside.txt"));
    EXPECT_FALSE(exists("made"));
    EXPECT_FALSE(exists("new.txt"));
    EXPECT_FALSE(exists("stolen.txt"));
    // The refusal quotes the path as normalised, for the replies that name it.
    EXPECT_EQ(files.removeFile({"/docs/x/../../.."}).normalised, "");
    // A NUL byte or a text past the protocol's capacity is no path at all.
    EXPECT_EQ(files.stat({std::string("a\0b", 3)}, StatPurpose::Reading).status, FileStatus::InvalidPath);
    EXPECT_EQ(files.stat({std::string(300, 'a'), '\\', 259}, StatPurpose::Reading).status, FileStatus::InvalidPath);
    // No usable home: nothing is served, not even the root.
    EXPECT_EQ(FileService("", kEveryRight).list({"/"}).status, FileStatus::InvalidPath);
    EXPECT_EQ(FileService("relative/home", kEveryRight).list({"/"}).status, FileStatus::InvalidPath);
}

TEST_F(FileServiceTest, RelativePathsFollowTheCurrentFolderWhichStaysInsideTheHome) {
    FileService files = service();
    EXPECT_EQ(files.currentFolder(), "/");
    EXPECT_EQ(files.changeFolder({"nowhere"}).status, FileStatus::NotFound);
    EXPECT_EQ(files.changeFolder({"docs/a.txt"}).status, FileStatus::NotFound);
    EXPECT_EQ(files.currentFolder(), "/");
    ASSERT_TRUE(files.changeFolder({"docs"}).ok());
    EXPECT_EQ(files.currentFolder(), "docs");
    const auto found = files.stat({"a.txt"}, StatPurpose::Reading);
    ASSERT_TRUE(found.ok());
    EXPECT_EQ(found.value.kind, EntryKind::RegularFile);
    EXPECT_EQ(found.value.size, 5);
    EXPECT_TRUE(files.changeToParent());
    EXPECT_FALSE(files.changeToParent());
    EXPECT_EQ(files.currentFolder(), "");
    // A second sign-in changes home and rights, not the folder.
    ASSERT_TRUE(files.changeFolder({"/docs"}).ok());
    files.signIn(path("home"), PERM_LIST);
    EXPECT_EQ(files.currentFolder(), "docs");
    EXPECT_FALSE(files.mayWrite());
    files.revokeRights();
    EXPECT_FALSE(files.mayList());
}

TEST_F(FileServiceTest, FoldersAndFilesAreMadeRemovedAndRenamedWithoutReplacingAnything) {
    FileService files = service();
    ASSERT_TRUE(files.makeFolder({"/new"}).ok());
    EXPECT_EQ(files.makeFolder({"/new"}).status, FileStatus::Exists);
    EXPECT_EQ(files.removeFolder({"/docs/a.txt"}).status, FileStatus::NotFound);
    EXPECT_EQ(files.removeFile({"/new"}).status, FileStatus::NotFound);
    EXPECT_EQ(files.removeFolder({"/docs"}).status, FileStatus::Refused);  // not empty
    EXPECT_EQ(files.checkRenameSource({"/missing"}).status, FileStatus::NotFound);
    EXPECT_TRUE(files.checkRenameSource({"/docs"}).ok());

    write("home/b.txt", "keep me");
    const auto onto = files.rename({"/docs/a.txt"}, {"/b.txt"});
    EXPECT_EQ(onto.status, FileStatus::Exists);
    EXPECT_EQ(onto.value, RenameSide::Target);
    EXPECT_EQ(read("home/b.txt"), "keep me");
    const auto missing = files.rename({"/nothing"}, {"/c.txt"});
    EXPECT_EQ(missing.status, FileStatus::NotFound);
    EXPECT_EQ(missing.value, RenameSide::Source);
    ASSERT_TRUE(files.rename({"/docs/a.txt"}, {"/new/a.txt"}).ok());
    EXPECT_EQ(read("home/new/a.txt"), "hello");
    ASSERT_TRUE(files.removeFile({"/new/a.txt"}).ok());
    ASSERT_TRUE(files.removeFolder({"/new"}).ok());
    EXPECT_FALSE(exists("home/new"));
}

TEST_F(FileServiceTest, ReadsUploadsListingsAndTimes) {
    FileService files = service();
    {
        auto file = files.openForReading({"/docs/a.txt"}, 1);
        ASSERT_TRUE(file.ok());
        EXPECT_EQ(file.value.kind(), EntryKind::RegularFile);
        EXPECT_TRUE(file.value.isOpen());
        EXPECT_EQ(file.value.size(), 5);
        // A file being read is not written meanwhile (the shared lock holds).
        auto busy = files.prepareUpload({"/docs/a.txt"}, 0);
        ASSERT_TRUE(busy.ok());
        EXPECT_FALSE(busy.value.open(WriteMode::Append).has_value());
        auto folder = files.openForReading({"/docs"}, 1);
        ASSERT_TRUE(folder.ok());
        EXPECT_EQ(folder.value.kind(), EntryKind::Directory);
        EXPECT_FALSE(folder.value.isOpen());
        EXPECT_EQ(files.openForReading({"/missing"}, 1).status, FileStatus::NotFound);
    }

    // A resume needs bytes to resume after; a new upload makes its file empty first.
    EXPECT_EQ(files.prepareUpload({"/up.bin"}, 10).status, FileStatus::BeyondEnd);
    EXPECT_FALSE(exists("home/up.bin"));
    ASSERT_TRUE(files.prepareUpload({"/up.bin"}, 0).ok());
    EXPECT_TRUE(exists("home/up.bin"));
    auto target = files.prepareUpload({"/docs/a.txt"}, 0);
    ASSERT_TRUE(target.ok());
    EXPECT_TRUE(target.value.open(WriteMode::Append).has_value());

    const auto listing = files.list({"/docs"});
    ASSERT_TRUE(listing.ok());
    EXPECT_EQ(listing.value.kind(), EntryKind::Directory);
    std::vector<std::string> names;
    (void)listing.value.forEachListEntry([&](const ListEntry& entry) {
        if (!entry.isDirectory()) names.push_back(entry.name);
        return true;
    });
    EXPECT_EQ(names, std::vector<std::string>{"a.txt"});
    EXPECT_EQ(files.list({"/missing"}).value.kind(), EntryKind::None);

    EXPECT_EQ(files.setModificationTime({"/docs"}, 0).status, FileStatus::WrongKind);
    EXPECT_EQ(files.setModificationTime({"/missing"}, 0).status, FileStatus::NotFound);
    ASSERT_TRUE(files.setModificationTime({"/docs/a.txt"}, 1000000000).ok());
    EXPECT_EQ(files.stat({"/docs/a.txt"}, StatPurpose::Listing).value.lastWrite, 1000000000);
}

TEST_F(FileServiceTest, TheRoomOnTheDiskNeedsListAndAPathInsideTheHome) {
    FileResult<DiskSpace> space = service().space({"/docs"});
    ASSERT_TRUE(space.ok());
    EXPECT_GT(space.value.blockSize, 0u);
    EXPECT_GT(space.value.blocks, 0u);
    EXPECT_EQ(service(kEveryRight & ~PERM_LIST).space({"/docs"}).status, FileStatus::NoRight);
    EXPECT_EQ(service().space({"../.."}).status, FileStatus::Escaped);
    EXPECT_EQ(service().space({"/none"}).status, FileStatus::NotFound);
}

}  // namespace
}  // namespace corvel
