// LocalFile on real files in a temporary directory: queries, never-overwriting
// rename, listing order and filtering, and transfers over socket pairs.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "files/LocalFile.h"
#include "platform/Socket.h"
#include "support/ScratchFiles.h"

namespace corvel {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using testing::readAll;
using testing::SocketPair;
using LocalFileTest = testing::ScratchDirectoryTest;

std::string pattern(std::size_t length) {
    std::string text(length, '\0');
    for (std::size_t i = 0; i < length; ++i) text[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    return text;
}

TEST_F(LocalFileTest, ConstructionStripsTrailingSeparatorsAndEmptyIsTheRoot) {
    EXPECT_EQ(LocalFile("/a/b//\\").path(), "/a/b");
    EXPECT_EQ(LocalFile("/a/b").path(), "/a/b");
    EXPECT_EQ(LocalFile("/").path(), "/");
    EXPECT_EQ(LocalFile("///\\").path(), "/");
    EXPECT_EQ(LocalFile("").path(), "/");
    EXPECT_TRUE(LocalFile("/").isDirectory());
}

TEST_F(LocalFileTest, TellsFilesFromDirectoriesAfterFollowingLinks) {
    write("f", "hello");
    fs::create_directory(path("d"));
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
    fs::create_symlink(path("f"), path("link-to-file"));
    fs::create_symlink(path("d"), path("link-to-dir"));
    fs::create_symlink(path("missing"), path("broken"));

    EXPECT_TRUE(LocalFile(path("f")).isFile());
    EXPECT_FALSE(LocalFile(path("f")).isDirectory());
    EXPECT_TRUE(LocalFile(path("d")).isDirectory());
    EXPECT_TRUE(LocalFile(path("d") + "/").isDirectory());
    EXPECT_FALSE(LocalFile(path("d")).isFile());
    EXPECT_TRUE(LocalFile(path("link-to-file")).isFile());
    EXPECT_TRUE(LocalFile(path("link-to-dir")).isDirectory());
    for (const char* name : {"fifo", "broken", "missing"}) {
        EXPECT_FALSE(LocalFile(path(name)).isFile()) << name;
        EXPECT_FALSE(LocalFile(path(name)).isDirectory()) << name;
    }
}

TEST_F(LocalFileTest, OneLookTellsKindAndSizeOfFilesAndDirectories) {
    write("f", "hello");
    fs::create_directory(path("d"));
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);

    LocalFile directory(path("d"));
    EXPECT_EQ(directory.info().kind, EntryKind::Directory);
    SendSource listed = directory.openForSending();
    EXPECT_EQ(listed.kind, EntryKind::Directory);
    EXPECT_FALSE(listed.file.has_value());

    LocalFile file(path("f"));
    EXPECT_EQ(file.info().kind, EntryKind::RegularFile);
    EXPECT_EQ(file.info().size, 5);
    SendSource opened = file.openForSending();
    EXPECT_EQ(opened.kind, EntryKind::RegularFile);
    EXPECT_EQ(opened.size, 5);
    ASSERT_TRUE(opened.file.has_value());
    EXPECT_EQ(opened.file->size(), 5);

    EXPECT_EQ(LocalFile(path("fifo")).info().kind, EntryKind::Other);
    EXPECT_EQ(LocalFile(path("fifo")).openForSending().kind, EntryKind::Other);
    EXPECT_EQ(LocalFile(path("missing")).info().kind, EntryKind::None);
    EXPECT_EQ(LocalFile(path("missing")).openForSending().kind, EntryKind::None);
}

TEST_F(LocalFileTest, TheAnnouncedSizeIsThatOfTheFileOpenedEvenWhenTheNameIsReplaced) {
    write("f", "short");
    SendSource source = LocalFile(path("f")).openForSending();
    ASSERT_TRUE(source.file.has_value());
    // Renamed over after the open: the open file and its size stay the ones announced.
    write("g", std::string(100000, 'x'));
    fs::rename(path("g"), path("f"));
    EXPECT_EQ(source.size, 5);
    SocketPair pair;
    EXPECT_EQ(source.file->sendOpenedLength(pair.near), TransferResult::Completed);
    pair.near.close();
    EXPECT_EQ(readAll(pair.far), "short");
}

TEST_F(LocalFileTest, CreateEmptyMakesANewFileAndRefusesAnExistingNameAtOnce) {
    LocalFile file(path("new"));
    ASSERT_TRUE(file.createEmpty());
    EXPECT_EQ(file.info().kind, EntryKind::RegularFile);
    EXPECT_EQ(file.info().size, 0);

    write("old", "keep");
    auto start = Clock::now();
    EXPECT_FALSE(LocalFile(path("old")).createEmpty());
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(150));
    EXPECT_EQ(read("old"), "keep");
}

TEST_F(LocalFileTest, CreateEmptyGivesUpAfterItsAttempts) {
    auto start = Clock::now();
    EXPECT_FALSE(LocalFile(path("no-such-dir/file")).createEmpty());
    auto took = Clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(700));
    EXPECT_LT(took, std::chrono::milliseconds(3000));
}

TEST_F(LocalFileTest, RenameMovesFilesAndDirectoriesButNeverOverwrites) {
    write("a", "A");
    write("b", "B");
    EXPECT_FALSE(LocalFile(path("a")).renameTo(LocalFile(path("b"))));
    EXPECT_EQ(read("a"), "A");
    EXPECT_EQ(read("b"), "B");

    fs::create_directory(path("sub"));
    EXPECT_TRUE(LocalFile(path("a")).renameTo(LocalFile(path("sub/c"))));
    EXPECT_EQ(read("sub/c"), "A");
    EXPECT_FALSE(fs::exists(path("a")));

    fs::create_directory(path("emptydir"));
    EXPECT_FALSE(LocalFile(path("sub")).renameTo(LocalFile(path("emptydir"))));
    EXPECT_TRUE(fs::exists(path("sub/c")));
    EXPECT_TRUE(LocalFile(path("sub")).renameTo(LocalFile(path("moved"))));
    EXPECT_EQ(read("moved/c"), "A");
}

TEST_F(LocalFileTest, MakesRemovesAndDeletes) {
    LocalFile directory(path("d"));
    EXPECT_TRUE(directory.makeDirectory());
    EXPECT_FALSE(directory.makeDirectory());
    write("d/f", "x");
    EXPECT_FALSE(directory.removeDirectory());  // not empty
    EXPECT_FALSE(directory.removeFile());       // a directory is not a file
    EXPECT_TRUE(LocalFile(path("d/f")).removeFile());
    EXPECT_FALSE(LocalFile(path("d/f")).removeFile());
    EXPECT_TRUE(directory.removeDirectory());
    EXPECT_FALSE(fs::exists(path("d")));
}

TEST_F(LocalFileTest, ListPutsDirectoriesFirstAndLeavesOutSystemEntries) {
    write("file1", "12345");
    fs::create_directory(path("dir1"));
    write("file2", "");
    fs::create_directory(path("dir2"));
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
    fs::create_symlink(path("missing"), path("broken"));
    fs::create_symlink(path("dir1"), path("dirlink"));

    std::vector<ListEntry> listing;
    LocalFile(path("")).list(listing);
    std::vector<std::string> directories, files;
    bool seenFile = false;
    for (const ListEntry& entry : listing) {
        if (entry.isDirectory()) {
            EXPECT_FALSE(seenFile) << "directory " << entry.name << " after a file";
            directories.push_back(entry.name);
            EXPECT_EQ(entry.size, "           0");
        } else {
            seenFile = true;
            files.push_back(entry.name);
            EXPECT_EQ(entry.type, "-");
        }
    }
    std::sort(directories.begin(), directories.end());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(directories, (std::vector<std::string>{".", "..", "dir1", "dir2", "dirlink"}));
    EXPECT_EQ(files, (std::vector<std::string>{"file1", "file2"}));
    for (const ListEntry& entry : listing)
        if (entry.name == "file1") {
            EXPECT_EQ(entry.size, "           5");
        }
}

TEST_F(LocalFileTest, ListOfAFileOrAMissingPathAppendsNothing) {
    write("f", "x");
    std::vector<ListEntry> listing{ListEntry{"-", "", "", "kept"}};
    LocalFile(path("f")).list(listing);
    LocalFile(path("missing")).list(listing);
    ASSERT_EQ(listing.size(), 1u);
    EXPECT_EQ(listing[0].name, "kept");
}

TEST_F(LocalFileTest, SendToStreamsFromTheOffsetOrFromTheStart) {
    const std::string content = pattern(3 * 1024 * 1024 + 17);
    write("big", content);
    for (std::int64_t offset : {std::int64_t{-5}, std::int64_t{0}, std::int64_t{100}, std::int64_t{1} << 40}) {
        SocketPair pair;
        std::string received;
        std::thread reader([&] { received = readAll(pair.far); });
        EXPECT_EQ(LocalFile(path("big")).sendTo(pair.near, offset), TransferResult::Completed);
        pair.near.close();
        reader.join();
        std::size_t start = offset < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(offset), content.size());
        EXPECT_TRUE(received == content.substr(start)) << "offset " << offset << " got " << received.size();
    }
}

TEST_F(LocalFileTest, SendToAFifoFailsToOpenWithoutBlocking) {
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
    SocketPair pair;
    auto start = Clock::now();
    EXPECT_EQ(LocalFile(path("fifo")).sendTo(pair.near, 0), TransferResult::OpenFailed);
    EXPECT_FALSE(LocalFile(path("fifo")).openForReceiving(WriteMode::Truncate).has_value());
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(LocalFile(path("missing")).sendTo(pair.near, 0), TransferResult::OpenFailed);
}

TEST_F(LocalFileTest, ReceiveIntoReplacesAndAppendFromAdds) {
    write("up", "old contents that are longer");
    const std::string first = pattern(700 * 1024 + 3);
    {
        SocketPair pair;
        std::thread writer([&] {
            EXPECT_EQ(sendAll(pair.far, first), static_cast<long>(first.size()));
            pair.far.close();
        });
        EXPECT_EQ(LocalFile(path("up")).receiveInto(pair.near), TransferResult::Completed);
        writer.join();
        EXPECT_FALSE(pair.near.isOpen());
    }
    EXPECT_TRUE(read("up") == first);
    {
        SocketPair pair;
        EXPECT_EQ(sendAll(pair.far, std::string("tail")), 4);
        pair.far.close();
        EXPECT_EQ(LocalFile(path("up")).appendFrom(pair.near), TransferResult::Completed);
    }
    EXPECT_TRUE(read("up") == first + "tail");
}

TEST_F(LocalFileTest, ReceiveKeepsTheBytesOfAResetConnectionAndReportsItBroken) {
    write("up", "");
    std::optional<TcpListener> listener = TcpListener::open("127.0.0.1", 0, 1);
    ASSERT_TRUE(listener.has_value());
    Socket client = Socket::createTcp();
    ASSERT_TRUE(client.startConnect("127.0.0.1", listener->port()));
    ASSERT_EQ(listener->socket().waitReadable(5000), WaitResult::Ready);
    Socket server = listener->accept();
    ASSERT_TRUE(server.isOpen());
    ASSERT_EQ(client.waitWritable(5000), WaitResult::Ready);
    ASSERT_EQ(sendAll(client, std::string("partial")), 7);
    ASSERT_EQ(server.waitReadable(5000), WaitResult::Ready);
    // Linger 0: close sends a reset, so the server's receive fails after the data.
    struct linger abort {1, 0};
    ASSERT_EQ(::setsockopt(client.descriptor(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort), 0);
    client.close();
    EXPECT_EQ(LocalFile(path("up")).receiveInto(server), TransferResult::Broken);
    EXPECT_EQ(read("up"), "partial");
}

TEST_F(LocalFileTest, ASecondUploadIntoTheSameFileFailsToOpen) {
    write("shared", "");
    LocalFile file(path("shared"));
    std::optional<TransferFile> first = file.openForReceiving(WriteMode::Truncate);
    ASSERT_TRUE(first.has_value());
    auto start = Clock::now();
    SocketPair pair;
    EXPECT_EQ(file.appendFrom(pair.near), TransferResult::OpenFailed);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(1500));  // ten attempts, 200 ms apart
    EXPECT_FALSE(file.openForSending().file.has_value());
    first.reset();
    EXPECT_TRUE(file.openForSending().file.has_value());
}

TEST_F(LocalFileTest, TwoDownloadsOfOneFileRunSideBySide) {
    write("f", "data");
    LocalFile file(path("f"));
    SendSource a = file.openForSending();
    SendSource b = file.openForSending();
    EXPECT_TRUE(a.file.has_value());
    EXPECT_TRUE(b.file.has_value());
}

TEST_F(LocalFileTest, ADiskWriteErrorBreaksTheUpload) {
    write("up", "");
    // RLIMIT_FSIZE makes writes past 4096 bytes fail with EFBIG, like a full disk.
    struct sigaction ignore {}, previous {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &previous), 0);
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);

    SocketPair pair;
    const std::string data = pattern(600 * 1024);
    std::thread writer([&] {
        sendAll(pair.far, data);
        pair.far.close();
    });
    TransferResult result = LocalFile(path("up")).receiveInto(pair.near);
    writer.join();

    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::sigaction(SIGXFSZ, &previous, nullptr);
    EXPECT_EQ(result, TransferResult::Broken);
    EXPECT_LE(fs::file_size(path("up")), 4096u);
}

}  // namespace
}  // namespace corvel
