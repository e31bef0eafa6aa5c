// The transfer log: the xferlog line and its escapes, whole lines from many threads
// at once, and a reopen after the file was moved away (or could not be made again).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <sstream>
#include <thread>
#include <vector>

#include "files/TransferLog.h"
#include "files/XferlogLine.h"
#include "platform/AppendFile.h"
#include "support/ScratchFiles.h"
#include "support/UtcZone.h"

namespace corvel {
namespace {

using TransferLogTest = testing::ScratchDirectoryTest;

std::vector<std::string> fieldsOf(const std::string& line) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; in >> field;) fields.push_back(field);
    return fields;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TransferRecord sample() {
    TransferRecord record;
    record.finished = 1796840247;  // 2026-12-09 18:17:27 UTC, a Wednesday
    record.seconds = 3;
    record.remoteHost = "192.0.2.7";
    record.bytes = 1048576;
    record.fileName = "/srv/ftp/alice/report.pdf";
    record.user = "alice";
    return record;
}

TEST_F(TransferLogTest, LineHasTheFourteenFieldsOfXferlog) {
    testing::UtcZone utc;
    EXPECT_EQ(xferlogLine(sample()),
              "Wed Dec  9 18:17:27 2026 3 192.0.2.7 1048576 /srv/ftp/alice/report.pdf b _ o r alice ftp 0 * c\n");
    TransferRecord other = sample();
    other.finished = 1767225600;  // 2026-01-01 00:00:00, a Thursday: two-digit day, zero time
    other.seconds = 0;            // a transfer under a second is written as 1
    other.binary = false;
    other.outgoing = false;
    other.anonymous = true;
    other.user = "anonymous";
    other.service = TransferService::Web;
    other.complete = false;
    other.finished += 14 * 86400 + 3723;
    EXPECT_EQ(xferlogLine(other),
              "Thu Jan 15 01:02:03 2026 1 192.0.2.7 1048576 /srv/ftp/alice/report.pdf a _ i a anonymous http 0 * i\n");
    other.service = TransferService::Sftp;
    EXPECT_EQ(xferlogLine(other),
              "Thu Jan 15 01:02:03 2026 1 192.0.2.7 1048576 /srv/ftp/alice/report.pdf a _ i a anonymous sftp 0 * i\n");
}

TEST_F(TransferLogTest, CraftedNamesStayOneFieldOfOneLine) {
    TransferRecord record = sample();
    static const char kCrafted[] = "/h/a b\n01 1 x 2 y b _ o r z ftp 0 * c\r\t\x01\x7f\\x20\xC3\xA9\0.txt";
    record.fileName = std::string(kCrafted, sizeof kCrafted - 1);
    record.user = "e ve\n";
    const std::string line = xferlogLine(record);
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    const std::vector<std::string> fields = fieldsOf(line);
    ASSERT_EQ(fields.size(), 18u);  // the time is five of them
    EXPECT_EQ(fields[8],
              "/h/a\\x20b\\x0A01\\x201\\x20x\\x202\\x20y\\x20b\\x20_\\x20o\\x20r\\x20z\\x20ftp\\x200\\x20*"
              "\\x20c\\x0D\\x09\\x01\\x7F\\x5Cx20\xC3\xA9\\x00.txt");
    EXPECT_EQ(fields[13], "e\\x20ve\\x0A");
    EXPECT_EQ(xferlogField(""), "-");
    EXPECT_EQ(xferlogField("plain-name_1.txt"), "plain-name_1.txt");
}

TEST_F(TransferLogTest, ThreadsAtOnceWriteWholeLines) {
    TransferLog log;
    ASSERT_TRUE(log.open(path("xferlog")).ok());
    constexpr int kThreads = 8;
    constexpr int kLinesEach = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&log, t] {
            TransferRecord record = sample();
            // Long names make lines far past what one write of a pipe keeps whole.
            record.fileName = "/h/" + std::string(6000, static_cast<char>('a' + t));
            for (int i = 0; i < kLinesEach; ++i) log.record(record);
        });
    for (std::thread& thread : threads) thread.join();
    const std::vector<std::string> lines = linesOf(read("xferlog"));
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLinesEach));
    for (const std::string& line : lines) {
        const std::vector<std::string> fields = fieldsOf(line);
        ASSERT_EQ(fields.size(), 18u);
        EXPECT_EQ(fields[8].find_first_not_of(fields[8][3], 3), std::string::npos);  // one thread's name, whole
    }
    struct stat info {};
    ASSERT_EQ(::stat(path("xferlog").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0007, 0u);  // it holds names and addresses: nobody else reads it
    EXPECT_EQ(info.st_mode & 0600, 0600u);
}

TEST_F(TransferLogTest, ReopenFollowsARotationAndKeepsTheOldFileWhenItCannot) {
    TransferLog off;
    off.record(sample());  // off: nothing, anywhere
    EXPECT_FALSE(off.enabled());
    EXPECT_TRUE(off.reopen().ok());

    TransferLog log;
    EXPECT_FALSE(log.open(path("missing/xferlog")).ok());
    EXPECT_FALSE(log.enabled());
    ASSERT_TRUE(log.open(path("xferlog")).ok());
    log.record(sample());
    std::filesystem::rename(path("xferlog"), path("xferlog.1"));
    log.record(sample());  // still the open file, now xferlog.1
    ASSERT_TRUE(log.reopen().ok());
    log.record(sample());
    EXPECT_EQ(linesOf(read("xferlog.1")).size(), 2u);
    EXPECT_EQ(linesOf(read("xferlog")).size(), 1u);

    // The path cannot be opened again (a directory there now): the open file stays.
    std::filesystem::rename(path("xferlog"), path("xferlog.2"));
    std::filesystem::create_directory(path("xferlog"));
    EXPECT_FALSE(log.reopen().ok());
    log.record(sample());
    EXPECT_EQ(linesOf(read("xferlog.2")).size(), 2u);

    // A link planted where the log goes is never followed.
    std::filesystem::remove(path("xferlog"));
    std::filesystem::create_symlink(path("target"), path("xferlog"));
    EXPECT_FALSE(log.reopen().ok());
    EXPECT_FALSE(std::filesystem::exists(path("target")));
}

}  // namespace
}  // namespace corvel
