// The file-system layer on real files: never-overwriting rename, FIFOs that must
// not block, the transfer locks, sendfile from an offset, and NUL-byte refusal.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/FileSystem.h"
#include "platform/Socket.h"
#include "support/ScratchFiles.h"

namespace corvel {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using testing::readAll;
using testing::SocketPair;
using FileSystemTest = testing::ScratchDirectoryTest;

TEST_F(FileSystemTest, QueryEntryFollowsLinksAndReportsKindSizeAndTime) {
    write("f", "12345");
    fs::create_directory(path("d"));
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
    fs::create_symlink(path("f"), path("link"));
    fs::create_symlink(path("gone"), path("broken"));

    EntryInfo file = queryEntry(path("f"));
    EXPECT_EQ(file.kind, EntryKind::RegularFile);
    EXPECT_EQ(file.size, 5);
    EXPECT_LE(std::abs(file.lastWrite - std::time(nullptr)), 60);
    EXPECT_EQ(queryEntry(path("d")).kind, EntryKind::Directory);
    EXPECT_EQ(queryEntry(path("fifo")).kind, EntryKind::Other);
    EXPECT_EQ(queryEntry(path("link")).kind, EntryKind::RegularFile);
    EXPECT_EQ(queryEntry(path("broken")).kind, EntryKind::None);
    EXPECT_EQ(queryEntry(path("missing")).kind, EntryKind::None);
}

TEST_F(FileSystemTest, RefusesPathsWithANulByte) {
    write("a", "x");
    const std::string cut = path("a") + std::string("\0b", 2);
    EXPECT_EQ(queryEntry(cut).kind, EntryKind::None);
    EXPECT_FALSE(deleteFile(cut));
    EXPECT_TRUE(fs::exists(path("a")));
    EXPECT_EQ(createNewFile(path("n") + std::string("\0x", 2)), CreateResult::Failed);
    EXPECT_FALSE(fs::exists(path("n")));
    EXPECT_EQ(openFileForReading(cut).status, OpenStatus::Failed);
}

TEST_F(FileSystemTest, CreateNewFileNeverReusesAName) {
    EXPECT_EQ(createNewFile(path("n")), CreateResult::Created);
    EXPECT_EQ(fs::file_size(path("n")), 0u);
    EXPECT_EQ(createNewFile(path("n")), CreateResult::AlreadyExists);
    // Not even through a dangling symlink, which would create a file elsewhere.
    fs::create_symlink(path("elsewhere"), path("dangling"));
    EXPECT_EQ(createNewFile(path("dangling")), CreateResult::AlreadyExists);
    EXPECT_FALSE(fs::exists(path("elsewhere")));
    EXPECT_EQ(createNewFile(path("no-dir/n")), CreateResult::Failed);
}

TEST_F(FileSystemTest, RenameNeverOverwritesAFileOrADirectory) {
    write("a", "A");
    write("b", "B");
    EXPECT_FALSE(renameNoReplace(path("a"), path("b")));
    EXPECT_EQ(read("a"), "A");
    EXPECT_EQ(read("b"), "B");

    fs::create_directory(path("d1"));
    fs::create_directory(path("d2"));
    EXPECT_FALSE(renameNoReplace(path("d1"), path("d2")));  // rename(2) would replace an empty d2
    EXPECT_FALSE(renameNoReplace(path("a"), path("d2")));
    EXPECT_TRUE(fs::is_directory(path("d2")));

    EXPECT_TRUE(renameNoReplace(path("a"), path("d1/a")));
    EXPECT_EQ(read("d1/a"), "A");
    EXPECT_TRUE(renameNoReplace(path("d1"), path("d3")));
    EXPECT_EQ(read("d3/a"), "A");
    EXPECT_FALSE(renameNoReplace(path("missing"), path("x")));
}

TEST_F(FileSystemTest, TheRenameFallbackNeverOverwritesEither) {
    write("a", "A");
    write("b", "B");
    EXPECT_FALSE(renameNoReplaceFallback(path("a"), path("b")));
    EXPECT_EQ(read("a"), "A");
    EXPECT_EQ(read("b"), "B");
    fs::create_directory(path("d1"));
    fs::create_directory(path("d2"));
    EXPECT_FALSE(renameNoReplaceFallback(path("d1"), path("d2")));
    EXPECT_FALSE(renameNoReplaceFallback(path("a"), path("d2")));
    EXPECT_TRUE(fs::is_directory(path("d1")));

    EXPECT_TRUE(renameNoReplaceFallback(path("a"), path("d1/a")));
    EXPECT_FALSE(fs::exists(path("a")));
    EXPECT_EQ(read("d1/a"), "A");
    EXPECT_TRUE(renameNoReplaceFallback(path("d1"), path("d3")));
    EXPECT_EQ(read("d3/a"), "A");
    EXPECT_FALSE(fs::exists(path("d1")));
    // A directory cannot move into itself; the placeholder is cleaned up.
    EXPECT_FALSE(renameNoReplaceFallback(path("d3"), path("d3/inner")));
    EXPECT_FALSE(fs::exists(path("d3/inner")));
}

TEST_F(FileSystemTest, RacingRenamesOntoOneNameLetExactlyOneWin) {
    for (int round = 0; round < 50; ++round) {
        write("s1", "one");
        write("s2", "two");
        std::atomic<bool> go{false};
        bool first = false, second = false;
        std::thread a([&] {
            while (!go) {}
            first = renameNoReplace(path("s1"), path("target"));
        });
        std::thread b([&] {
            while (!go) {}
            second = renameNoReplace(path("s2"), path("target"));
        });
        go = true;
        a.join();
        b.join();
        ASSERT_NE(first, second) << "round " << round;
        // The loser's source is still there: nothing was lost.
        ASSERT_TRUE(fs::exists(path(first ? "s2" : "s1")));
        ASSERT_EQ(read("target"), first ? "one" : "two");
        fs::remove(path("target"));
        fs::remove(path("s1"));
        fs::remove(path("s2"));
    }
}

TEST_F(FileSystemTest, DirectoriesAreMadeRemovedWhenEmptyAndReadWithDotEntries) {
    EXPECT_TRUE(createDirectory(path("d")));
    EXPECT_FALSE(createDirectory(path("d")));
    write("d/f", "xyz");
    fs::create_directory(path("d/sub"));
    ASSERT_EQ(::mkfifo(path("d/fifo").c_str(), 0600), 0);
    fs::create_symlink(path("nothing"), path("d/broken"));
    EXPECT_FALSE(deleteDirectory(path("d")));
    EXPECT_FALSE(deleteFile(path("d")));

    std::vector<DirectoryEntry> entries;
    ASSERT_TRUE(readDirectory(path("d"), entries));
    std::map<std::string, EntryKind> kinds;
    for (const DirectoryEntry& entry : entries) kinds[entry.name] = entry.info.kind;
    EXPECT_EQ(kinds.size(), 6u);
    EXPECT_EQ(kinds["."], EntryKind::Directory);
    EXPECT_EQ(kinds[".."], EntryKind::Directory);
    EXPECT_EQ(kinds["sub"], EntryKind::Directory);
    EXPECT_EQ(kinds["f"], EntryKind::RegularFile);
    EXPECT_EQ(kinds["fifo"], EntryKind::Other);
    EXPECT_EQ(kinds["broken"], EntryKind::None);

    // Reading one kind: links count as what they lead to, the rest is passed over.
    fs::create_symlink(path("d/sub"), path("d/to-sub"));
    fs::create_symlink(path("d/f"), path("d/to-f"));
    auto namesOfKind = [&](EntryKind wanted) {
        std::set<std::string> names;
        EXPECT_TRUE(forEachDirectoryEntryOfKind(path("d"), wanted, [&](const DirectoryEntry& entry) {
            EXPECT_EQ(entry.info.kind, wanted) << entry.name;
            names.insert(entry.name);
            return true;
        }));
        return names;
    };
    EXPECT_EQ(namesOfKind(EntryKind::Directory), (std::set<std::string>{".", "..", "sub", "to-sub"}));
    EXPECT_EQ(namesOfKind(EntryKind::RegularFile), (std::set<std::string>{"f", "to-f"}));
    EXPECT_EQ(namesOfKind(EntryKind::Other), (std::set<std::string>{"fifo"}));
    EXPECT_FALSE(forEachDirectoryEntryOfKind(path("d/f"), EntryKind::RegularFile, [](const DirectoryEntry&) { return true; }));
    EXPECT_TRUE(deleteFile(path("d/to-sub")));
    EXPECT_TRUE(deleteFile(path("d/to-f")));

    std::vector<DirectoryEntry> none{DirectoryEntry{"kept", {}}};
    EXPECT_FALSE(readDirectory(path("d/f"), none));
    EXPECT_FALSE(readDirectory(path("missing"), none));
    EXPECT_EQ(none.size(), 1u);

    for (const char* name : {"d/f", "d/fifo", "d/broken"}) EXPECT_TRUE(deleteFile(path(name))) << name;
    EXPECT_TRUE(deleteDirectory(path("d/sub")));
    EXPECT_TRUE(deleteDirectory(path("d")));
}

TEST_F(FileSystemTest, AFifoIsNotAFileAndOpeningItNeverBlocks) {
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
    auto attempt = std::async(std::launch::async, [&] {
        return std::make_pair(openFileForReading(path("fifo")).status,
                              openFileForWriting(path("fifo"), WriteMode::Truncate).status);
    });
    if (attempt.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        // Unblock the stuck open so the test can end, then fail.
        UniqueFd writer(::open(path("fifo").c_str(), O_RDWR | O_NONBLOCK));
        attempt.wait();
        FAIL() << "opening a FIFO blocked";
    }
    auto [reading, writing] = attempt.get();
    EXPECT_EQ(reading, OpenStatus::NotRegularFile);
    EXPECT_EQ(writing, OpenStatus::NotRegularFile);
}

TEST_F(FileSystemTest, DirectoriesAndDevicesAreNotOpenedForTransfers) {
    fs::create_directory(path("d"));
    EXPECT_EQ(openFileForReading(path("d")).status, OpenStatus::NotRegularFile);
    EXPECT_EQ(openFileForWriting(path("d"), WriteMode::Append).status, OpenStatus::NotRegularFile);
    EXPECT_EQ(openFileForReading("/dev/zero").status, OpenStatus::NotRegularFile);
    EXPECT_EQ(openFileForReading(path("missing")).status, OpenStatus::Failed);
    EXPECT_EQ(openFileForWriting(path("missing"), WriteMode::Truncate).status, OpenStatus::Failed);
}

TEST_F(FileSystemTest, AWriterExcludesASecondWriterAndReaders) {
    write("f", "original");
    OpenedFile first = openFileForWriting(path("f"), WriteMode::Append);
    ASSERT_EQ(first.status, OpenStatus::Opened);
    OpenedFile second = openFileForWriting(path("f"), WriteMode::Truncate);
    EXPECT_EQ(second.status, OpenStatus::Locked);
    EXPECT_FALSE(second.file.isOpen());
    // The refused truncating open destroyed nothing.
    EXPECT_EQ(read("f"), "original");
    EXPECT_EQ(openFileForReading(path("f")).status, OpenStatus::Locked);

    const char more[] = "+more";
    EXPECT_TRUE(writeAll(first.file, more, 5));
    first.file.reset();
    EXPECT_EQ(read("f"), "original+more");
    EXPECT_EQ(openFileForWriting(path("f"), WriteMode::Truncate).status, OpenStatus::Opened);
}

TEST_F(FileSystemTest, TruncateEmptiesOnlyOnceTheLockIsHeld) {
    write("f", "original");
    OpenedFile writer = openFileForWriting(path("f"), WriteMode::Truncate);
    ASSERT_EQ(writer.status, OpenStatus::Opened);
    EXPECT_EQ(fs::file_size(path("f")), 0u);
    const char data[] = "new";
    EXPECT_TRUE(writeAll(writer.file, data, 3));
    writer.file.reset();
    EXPECT_EQ(read("f"), "new");
}

TEST_F(FileSystemTest, ReadersShareAndKeepWritersOut) {
    write("f", "data");
    OpenedFile a = openFileForReading(path("f"));
    OpenedFile b = openFileForReading(path("f"));
    EXPECT_EQ(a.status, OpenStatus::Opened);
    EXPECT_EQ(b.status, OpenStatus::Opened);
    EXPECT_EQ(openFileForWriting(path("f"), WriteMode::Truncate).status, OpenStatus::Locked);
    EXPECT_EQ(read("f"), "data");
    a.file.reset();
    b.file.reset();
    EXPECT_EQ(openFileForWriting(path("f"), WriteMode::Append).status, OpenStatus::Opened);
}

TEST_F(FileSystemTest, SendFileRangeSendsFromTheOffsetToTheEnd) {
    std::string content(2 * 1024 * 1024 + 5, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 31 + (i >> 12));
    write("f", content);
    struct Case {
        std::int64_t offset;
        std::size_t start;
    };
    for (Case c : {Case{0, 0}, Case{12345, 12345}, Case{-1, 0}, Case{std::int64_t(content.size()), content.size()},
                   Case{std::int64_t(content.size()) + 99, content.size()}}) {
        OpenedFile file = openFileForReading(path("f"));
        ASSERT_EQ(file.status, OpenStatus::Opened);
        SocketPair pair;
        std::string received;
        std::thread reader([&] { received = readAll(pair.far); });
        EXPECT_TRUE(sendFileRange(file.file, pair.near, c.offset)) << c.offset;
        EXPECT_TRUE(pair.near.isOpen());
        // The socket is left as it was found: a web connection reads its next request.
        EXPECT_NE(::fcntl(pair.near.descriptor(), F_GETFL) & O_NONBLOCK, 0) << c.offset;
        struct timeval timeout {};
        socklen_t length = sizeof timeout;
        ASSERT_EQ(::getsockopt(pair.near.descriptor(), SOL_SOCKET, SO_SNDTIMEO, &timeout, &length), 0);
        EXPECT_EQ(timeout.tv_sec + timeout.tv_usec, 0) << c.offset;
        pair.near.close();
        reader.join();
        EXPECT_EQ(received.size(), content.size() - c.start) << c.offset;
        EXPECT_TRUE(received == content.substr(c.start)) << c.offset;
    }
}

TEST_F(FileSystemTest, SendFileRangeSendsProcFilesWhoseSizeIsZero) {
    OpenedFile file = openFileForReading("/proc/self/status");
    ASSERT_EQ(file.status, OpenStatus::Opened);
    SocketPair pair;
    std::string received;
    std::thread reader([&] { received = readAll(pair.far); });
    EXPECT_TRUE(sendFileRange(file.file, pair.near, 0));
    pair.near.close();
    reader.join();
    EXPECT_EQ(received.rfind("Name:", 0), 0u) << received.substr(0, 40);
}

TEST_F(FileSystemTest, SendFileRangeToAVanishedPeerFailsWithoutSigpipe) {
    write("f", std::string(4 * 1024 * 1024, 'x'));
    OpenedFile file = openFileForReading(path("f"));
    ASSERT_EQ(file.status, OpenStatus::Opened);
    SocketPair pair;
    pair.far.close();
    // With SIGPIPE at its default action this would kill the test binary.
    EXPECT_FALSE(sendFileRange(file.file, pair.near, 0));
    EXPECT_FALSE(pair.near.isOpen());
}

TEST_F(FileSystemTest, SendFileRangeFailsWhenThePeerGoesAwayMidway) {
    write("f", std::string(16 * 1024 * 1024, 'y'));
    OpenedFile file = openFileForReading(path("f"));
    ASSERT_EQ(file.status, OpenStatus::Opened);
    SocketPair pair;
    std::thread reader([&] {
        char buffer[4096];
        std::size_t total = 0;
        while (total < 100000) {
            ssize_t n = ::recv(pair.far.descriptor(), buffer, sizeof buffer, 0);
            if (n <= 0) break;
            total += static_cast<std::size_t>(n);
        }
        pair.far.close();
    });
    auto start = Clock::now();
    EXPECT_FALSE(sendFileRange(file.file, pair.near, 0));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
    reader.join();
}

TEST_F(FileSystemTest, ReceiveIntoFileKeepsEveryByteTakenOrTakesNone) {
    const std::string content = std::string(300 * 1024, 'a') + std::string(77, 'b');
    {  // Through the kernel, at the file's position.
        write("f", "");
        OpenedFile file = openFileForWriting(path("f"), WriteMode::Truncate);
        ASSERT_EQ(file.status, OpenStatus::Opened);
        SocketPair pair;
        std::thread writer([&] {
            EXPECT_EQ(sendAll(pair.far, content), static_cast<long>(content.size()));
            pair.far.close();
        });
        EXPECT_EQ(receiveIntoFile(pair.near, file.file), KernelReceive::PeerClosed);
        writer.join();
        EXPECT_TRUE(read("f") == content);
    }
    {  // With a count: exactly that many bytes, over several pipe loads; the rest stays on the socket.
        write("h", "");
        OpenedFile file = openFileForWriting(path("h"), WriteMode::Truncate);
        ASSERT_EQ(file.status, OpenStatus::Opened);
        SocketPair pair;
        std::thread writer([&] {
            EXPECT_EQ(sendAll(pair.far, content + "NEXT"), static_cast<long>(content.size() + 4));
            pair.far.close();
        });
        std::int64_t remaining = static_cast<std::int64_t>(content.size());
        EXPECT_EQ(receiveIntoFile(pair.near, file.file, &remaining), KernelReceive::CountReached);
        writer.join();
        EXPECT_EQ(remaining, 0);
        EXPECT_TRUE(read("h") == content);
        EXPECT_EQ(readAll(pair.near), "NEXT");
    }
    {  // Append mode cannot be spliced into: nothing is taken, the caller reads it all.
        write("g", "head");
        OpenedFile file = openFileForWriting(path("g"), WriteMode::Append);
        ASSERT_EQ(file.status, OpenStatus::Opened);
        SocketPair pair;
        ASSERT_EQ(sendAll(pair.far, std::string("tail")), 4);
        pair.far.close();
        EXPECT_EQ(receiveIntoFile(pair.near, file.file), KernelReceive::Unsupported);
        EXPECT_EQ(readAll(pair.near), "tail");
    }
    {  // A target that refuses splice and then the bytes themselves: a disk failure.
        UniqueFd full(::open("/dev/full", O_WRONLY | O_CLOEXEC));
        ASSERT_TRUE(full.isOpen());
        SocketPair pair;
        ASSERT_EQ(sendAll(pair.far, std::string(1000, 'z')), 1000);
        pair.far.close();
        EXPECT_EQ(receiveIntoFile(pair.near, full), KernelReceive::DiskFailed);
    }
}

TEST_F(FileSystemTest, ModificationTimesAreSetThroughLinksKeepingTheAccessTime) {
    write("f", "x");
    fs::create_symlink(path("f"), path("link"));
    ASSERT_EQ(::chmod(path("f").c_str(), 02640), 0);
    struct stat before {}, after {};
    ASSERT_EQ(::stat(path("f").c_str(), &before), 0);
    ASSERT_TRUE(setModificationTime(path("link"), 915246245));
    ASSERT_EQ(::stat(path("f").c_str(), &after), 0);
    EXPECT_EQ(after.st_mtim.tv_sec, 915246245);
    EXPECT_EQ(after.st_mtim.tv_nsec, 0);
    EXPECT_EQ(after.st_atim.tv_sec, before.st_atim.tv_sec);
    EXPECT_EQ(queryEntry(path("f")).mode, 02640u);
    EXPECT_FALSE(setModificationTime(path("missing"), 0));
}

}  // namespace
}  // namespace corvel
