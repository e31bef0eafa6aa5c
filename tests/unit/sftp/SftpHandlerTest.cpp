// The SFTP requests of one session against a real home directory: every answer
// comes from the file service, so the rights and the home's bounds hold, and the
// bytes land where the offsets say.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "common/Permissions.h"
#include "sftp/SftpHandler.h"
#include "sftp/SftpStatus.h"
#include "support/ScratchFiles.h"

namespace corvel::sftp {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kEveryRight = PERM_CREATE_FILE | PERM_READ_FILE | PERM_WRITE_FILE | PERM_REMOVE_FILE |
                                      PERM_CREATE_DIR | PERM_LIST | PERM_REMOVE_DIR;

// A request as the client sends it, without its length field.
std::string request(WireWriter& writer) { return writer.finish().substr(4); }

struct Reply {
    std::uint8_t type = 0;
    std::uint32_t id = 0;
    std::string rest;  // the fields after the id
};

Reply parse(const std::string& packet) {
    WireReader in(packet);
    const std::uint32_t length = in.u32();
    EXPECT_EQ(length, packet.size() - 4);
    Reply reply;
    reply.type = in.byte();
    reply.id = in.u32();
    reply.rest = packet.substr(9);
    return reply;
}

StatusCode statusIn(const Reply& reply) {
    EXPECT_EQ(reply.type, kStatus);
    return static_cast<StatusCode>(WireReader(reply.rest).u32());
}

class SftpHandlerTest : public testing::ScratchDirectoryTest {
protected:
    void SetUp() override {
        ScratchDirectoryTest::SetUp();
        fs::create_directory(path("home"));
        fs::create_directory(path("home/docs"));
        write("home/docs/a.txt", "0123456789");
        write("outside.txt", "not yours");
    }
    SftpHandler handler(std::uint32_t rights = kEveryRight) const {
        return SftpHandler(FileService(path("home"), rights));
    }
    static Reply ask(SftpHandler& sftp, WireWriter writer) { return parse(sftp.handle(request(writer))); }
    static Reply open(SftpHandler& sftp, const std::string& name, std::uint32_t flags) {
        return ask(sftp, std::move(WireWriter(kOpen).u32(7).string(name).u32(flags).u32(0)));
    }
    static std::string handleIn(const Reply& reply) {
        EXPECT_EQ(reply.type, kHandle);
        return std::string(WireReader(reply.rest).string());
    }
};

TEST(SftpStatusTest, RefusalsTellNothingOfWhatLiesOutsideTheHome) {
    EXPECT_EQ(statusOf(FileStatus::Ok), StatusCode::Ok);
    EXPECT_EQ(statusOf(FileStatus::NoRight), StatusCode::PermissionDenied);
    EXPECT_EQ(statusOf(FileStatus::Escaped), StatusCode::PermissionDenied);
    EXPECT_EQ(statusOf(FileStatus::NotFound), StatusCode::NoSuchFile);
    EXPECT_EQ(statusOf(FileStatus::InvalidPath), StatusCode::NoSuchFile);
    for (FileStatus status : {FileStatus::WrongKind, FileStatus::Exists, FileStatus::Refused, FileStatus::BeyondEnd})
        EXPECT_EQ(statusOf(status), StatusCode::Failure);
}

TEST_F(SftpHandlerTest, InitAnswersVersionThreeAndItsExtension) {
    SftpHandler sftp = handler();
    WireWriter init(kInit);
    const std::string reply = sftp.handle(request(init.u32(6)));
    WireReader in(reply);
    (void)in.u32();
    EXPECT_EQ(in.byte(), kVersion);
    EXPECT_EQ(in.u32(), 3u);
    // The versions are those OpenSSH's client asks for; another one and it does without.
    const std::pair<const char*, const char*> expected[] = {{"posix-rename@openssh.com", "1"},
                                                            {"statvfs@openssh.com", "2"},
                                                            {"fsync@openssh.com", "1"},
                                                            {"limits@openssh.com", "1"}};
    for (const auto& [extension, revision] : expected) {
        EXPECT_EQ(in.string(), extension);
        EXPECT_EQ(in.string(), revision);
    }
    EXPECT_TRUE(in.ok());
    // The limits a client sizes its requests by fit what the framer takes.
    Reply limits = ask(sftp, std::move(WireWriter(kExtended).u32(2).string("limits@openssh.com")));
    ASSERT_EQ(limits.type, kExtendedReply);
    WireReader values(limits.rest);
    const std::uint64_t packet = values.u64();
    EXPECT_EQ(packet, PacketFramer::kMaxPacketBytes);
    EXPECT_LT(values.u64() + 13, packet);  // a DATA reply's header and its data
    EXPECT_LT(values.u64() + 33, packet);  // a WRITE's header, its handle and its data
    EXPECT_EQ(values.u64(), kMaxOpenHandles);
    EXPECT_TRUE(values.ok());

    // The room on the disk needs List, as a listing does, and stays inside the home.
    Reply space = ask(sftp, std::move(WireWriter(kExtended).u32(3).string("statvfs@openssh.com").string("/docs")));
    ASSERT_EQ(space.type, kExtendedReply);
    WireReader fields(space.rest);
    EXPECT_GT(fields.u64(), 0u);  // the block size
    for (int i = 0; i < 10; ++i) (void)fields.u64();
    EXPECT_TRUE(fields.ok());
    EXPECT_EQ(statusIn(ask(sftp, std::move(WireWriter(kExtended).u32(4).string("statvfs@openssh.com").string("/..")))),
              StatusCode::PermissionDenied);
    SftpHandler noList = handler(kEveryRight & ~PERM_LIST);
    EXPECT_EQ(statusIn(ask(noList, std::move(WireWriter(kExtended).u32(5).string("statvfs@openssh.com").string("/")))),
              StatusCode::PermissionDenied);
}

TEST_F(SftpHandlerTest, WritesAndReadsAtOffsetsThroughHandles) {
    SftpHandler sftp = handler();
    const std::string written = handleIn(open(sftp, "/docs/a.txt", kOpenWrite));
    EXPECT_EQ(statusIn(ask(sftp, std::move(WireWriter(kWrite).u32(8).string(written).u64(3).string("ab")))),
              StatusCode::Ok);
    // A write handle does not read.
    EXPECT_EQ(ask(sftp, std::move(WireWriter(kRead).u32(9).string(written).u64(0).u32(4))).type, kStatus);
    EXPECT_EQ(statusIn(ask(sftp, std::move(WireWriter(kExtended).u32(9).string("fsync@openssh.com").string(written)))),
              StatusCode::Ok);
    EXPECT_EQ(statusIn(ask(sftp, std::move(WireWriter(kClose).u32(10).string(written)))), StatusCode::Ok);
    EXPECT_EQ(read("home/docs/a.txt"), "012ab56789");
    // A closed handle is gone.
    EXPECT_EQ(statusIn(ask(sftp, std::move(WireWriter(kClose).u32(11).string(written)))), StatusCode::Failure);

    const std::string reading = handleIn(open(sftp, "docs/a.txt", kOpenRead));
    Reply data = ask(sftp, std::move(WireWriter(kRead).u32(12).string(reading).u64(2).u32(4)));
    EXPECT_EQ(data.type, kData);
    EXPECT_EQ(data.id, 12u);
    EXPECT_EQ(WireReader(data.rest).string(), "2ab5");
    data = ask(sftp, std::move(WireWriter(kRead).u32(13).string(reading).u64(8).u32(100)));
    EXPECT_EQ(WireReader(data.rest).string(), "89");
    EXPECT_EQ(statusIn(ask(sftp, std::move(WireWriter(kRead).u32(14).string(reading).u64(10).u32(4)))),
              StatusCode::Eof);
    Reply attributes = ask(sftp, std::move(WireWriter(kFstat).u32(15).string(reading)));
    ASSERT_EQ(attributes.type, kAttrs);
    EXPECT_EQ(WireReader(attributes.rest).attributes().size, 10u);
}

TEST_F(SftpHandlerTest, AHandleOpenedForBothReadsWhatItWrote) {
    SftpHandler sftp = handler();
    const std::string both = handleIn(open(sftp, "/docs/a.txt", kOpenRead | kOpenWrite));
    EXPECT_EQ(statusIn(ask(sftp, std::move(WireWriter(kWrite).u32(8).string(both).u64(8).string("xyz")))),
              StatusCode::Ok);
    Reply data = ask(sftp, std::move(WireWriter(kRead).u32(9).string(both).u64(6).u32(100)));
    ASSERT_EQ(data.type, kData);
    EXPECT_EQ(WireReader(data.rest).string(), "67xyz");
    EXPECT_EQ(read("home/docs/a.txt"), "01234567xyz");

    // Both rights are needed; either alone is refused before anything is opened.
    for (std::uint32_t missing : {PERM_READ_FILE, PERM_WRITE_FILE}) {
        SftpHandler limited = handler(kEveryRight & ~missing);
        EXPECT_EQ(statusIn(open(limited, "/docs/a.txt", kOpenRead | kOpenWrite)), StatusCode::PermissionDenied);
    }
}

TEST_F(SftpHandlerTest, SizesAreSetThroughAWriteHandleOrByNameWithTheWriteRight) {
    SftpHandler sftp = handler();
    const std::string written = handleIn(open(sftp, "/docs/a.txt", kOpenWrite));
    EXPECT_EQ(statusIn(ask(sftp, std::move(WireWriter(kFsetstat).u32(8).string(written).u32(kAttrSize).u64(4)))),
              StatusCode::Ok);
    EXPECT_EQ(read("home/docs/a.txt"), "0123");
    EXPECT_EQ(statusIn(ask(sftp, std::move(WireWriter(kClose).u32(10).string(written)))), StatusCode::Ok);
    const std::string reading = handleIn(open(sftp, "/docs/a.txt", kOpenRead));
    EXPECT_EQ(statusIn(ask(sftp, std::move(WireWriter(kFsetstat).u32(9).string(reading).u32(kAttrSize).u64(1)))),
              StatusCode::PermissionDenied);
    EXPECT_EQ(statusIn(ask(sftp, std::move(WireWriter(kClose).u32(11).string(reading)))), StatusCode::Ok);
    EXPECT_EQ(statusIn(ask(sftp, std::move(WireWriter(kSetstat).u32(12).string("docs/a.txt").u32(kAttrSize).u64(2)))),
              StatusCode::Ok);
    EXPECT_EQ(read("home/docs/a.txt"), "01");
    SftpHandler readOnly = handler(kEveryRight & ~PERM_WRITE_FILE);
    EXPECT_EQ(statusIn(ask(readOnly, std::move(WireWriter(kSetstat).u32(13).string("docs/a.txt").u32(kAttrSize).u64(0)))),
              StatusCode::PermissionDenied);
    EXPECT_EQ(statusIn(ask(sftp, std::move(WireWriter(kSetstat).u32(14).string("../outside.txt").u32(kAttrSize).u64(0)))),
              StatusCode::PermissionDenied);
    EXPECT_EQ(read("home/docs/a.txt"), "01");
    EXPECT_EQ(read("outside.txt"), "not yours");
}

TEST_F(SftpHandlerTest, EachClosedFileHandleIsOneLineOfTheTransferLog) {
    TransferLog log;
    ASSERT_TRUE(log.open(path("xferlog")).ok());
    {
        SftpHandler sftp(FileService(path("home"), kEveryRight),
                         SftpTransferLog{.log = &log, .peer = "192.0.2.7", .user = "alice", .anonymous = false});
        const std::string up = handleIn(open(sftp, "/docs/new.bin", kOpenWrite | kOpenCreate));
        EXPECT_EQ(statusIn(ask(sftp, std::move(WireWriter(kWrite).u32(8).string(up).u64(0).string("12345")))),
                  StatusCode::Ok);
        EXPECT_EQ(statusIn(ask(sftp, std::move(WireWriter(kClose).u32(9).string(up)))), StatusCode::Ok);
        const std::string down = handleIn(open(sftp, "docs/a.txt", kOpenRead));
        EXPECT_EQ(ask(sftp, std::move(WireWriter(kRead).u32(10).string(down).u64(0).u32(4))).type, kData);
        // The session ends with it open: broken off.
    }
    const std::string lines = read("xferlog");
    const std::string home = path("home");
    EXPECT_NE(lines.find(" 192.0.2.7 5 " + home + "/docs/new.bin b _ i r alice sftp 0 * c\n"), std::string::npos)
        << lines;
    EXPECT_NE(lines.find(" 192.0.2.7 4 " + home + "/docs/a.txt b _ o r alice sftp 0 * i\n"), std::string::npos)
        << lines;
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 2);
}

TEST_F(SftpHandlerTest, EscapesAndLinksAreRefusedAndTouchNothing) {
    SftpHandler sftp = handler();
    for (const std::string escaped : {"..", "/..", "../outside.txt", "/docs/../../outside.txt"}) {
        SCOPED_TRACE(escaped);
        EXPECT_EQ(statusIn(open(sftp, escaped, kOpenRead)), StatusCode::PermissionDenied);
        EXPECT_EQ(statusIn(ask(sftp, std::move(WireWriter(kRealpath).u32(1).string(escaped)))),
                  StatusCode::PermissionDenied);
        EXPECT_EQ(statusIn(ask(sftp, std::move(WireWriter(kRemove).u32(1).string(escaped)))),
                  StatusCode::PermissionDenied);
    }
    // The machine's absolute path names something below the home, which is not there.
    EXPECT_EQ(statusIn(open(sftp, path("outside.txt"), kOpenRead)), StatusCode::NoSuchFile);
    EXPECT_EQ(statusIn(ask(sftp, std::move(WireWriter(kSymlink).u32(2).string("/link").string("/etc/passwd")))),
              StatusCode::OpUnsupported);
    EXPECT_EQ(
        statusIn(ask(
            sftp,
            std::move(
                WireWriter(kExtended).u32(3).string("hardlink@openssh.com").string("/docs/a.txt").string("/hard")))),
        StatusCode::OpUnsupported);
    EXPECT_FALSE(fs::exists(fs::symlink_status(path("home/link"))));
    EXPECT_FALSE(fs::exists(path("home/hard")));
    EXPECT_EQ(read("outside.txt"), "not yours");
    Reply root = ask(sftp, std::move(WireWriter(kRealpath).u32(4).string("docs/../.")));
    ASSERT_EQ(root.type, kName);
    WireReader names(root.rest);
    EXPECT_EQ(names.u32(), 1u);
    EXPECT_EQ(names.string(), "/");
}

TEST_F(SftpHandlerTest, EachRequestNeedsItsRight) {
    SftpHandler noRead = handler(kEveryRight & ~PERM_READ_FILE);
    EXPECT_EQ(statusIn(open(noRead, "/docs/a.txt", kOpenRead)), StatusCode::PermissionDenied);
    SftpHandler noCreate = handler(kEveryRight & ~PERM_CREATE_FILE);
    EXPECT_EQ(statusIn(open(noCreate, "/new.txt", kOpenWrite | kOpenCreate)), StatusCode::PermissionDenied);
    SftpHandler noList = handler(kEveryRight & ~PERM_LIST);
    EXPECT_EQ(statusIn(ask(noList, std::move(WireWriter(kOpendir).u32(1).string("/docs")))),
              StatusCode::PermissionDenied);
    SftpHandler noRemove = handler(kEveryRight & ~PERM_REMOVE_FILE);
    EXPECT_EQ(statusIn(ask(noRemove, std::move(WireWriter(kRemove).u32(1).string("/docs/a.txt")))),
              StatusCode::PermissionDenied);
    SftpHandler noWrite = handler(kEveryRight & ~PERM_WRITE_FILE);
    EXPECT_EQ(statusIn(ask(noWrite, std::move(WireWriter(kRename).u32(1).string("/docs/a.txt").string("/b.txt")))),
              StatusCode::PermissionDenied);
    SftpHandler noFolders = handler(kEveryRight & ~(PERM_CREATE_DIR | PERM_REMOVE_DIR));
    EXPECT_EQ(statusIn(ask(noFolders, std::move(WireWriter(kMkdir).u32(1).string("/new").u32(0)))),
              StatusCode::PermissionDenied);
    EXPECT_EQ(statusIn(ask(noFolders, std::move(WireWriter(kRmdir).u32(1).string("/docs")))),
              StatusCode::PermissionDenied);
    EXPECT_TRUE(fs::exists(path("home/docs/a.txt")));
    EXPECT_FALSE(fs::exists(path("home/new.txt")));
    EXPECT_FALSE(fs::exists(path("home/new")));
}

TEST_F(SftpHandlerTest, FolderListingsAndChangesOfNames) {
    SftpHandler sftp = handler();
    EXPECT_EQ(statusIn(ask(sftp, std::move(WireWriter(kMkdir).u32(1).string("/docs/sub").u32(0)))), StatusCode::Ok);
    EXPECT_EQ(statusIn(ask(sftp, std::move(WireWriter(kMkdir).u32(1).string("/docs/sub").u32(0)))),
              StatusCode::Failure);
    const std::string folder = handleIn(ask(sftp, std::move(WireWriter(kOpendir).u32(2).string("/docs"))));
    Reply names = ask(sftp, std::move(WireWriter(kReaddir).u32(3).string(folder)));
    ASSERT_EQ(names.type, kName);
    WireReader in(names.rest);
    const std::uint32_t count = in.u32();
    EXPECT_EQ(count, 2u);  // "." and ".." are left out
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::string name(in.string());
        const std::string longName(in.string());
        const Attributes attributes = in.attributes();
        EXPECT_NE(longName.find(name), std::string::npos);
        if (name == "a.txt") {
            EXPECT_EQ(attributes.size, 10u);
            EXPECT_EQ(attributes.permissions & 0170000, 0100000u);
        } else {
            EXPECT_EQ(name, "sub");
            EXPECT_EQ(longName[0], 'd');
        }
    }
    EXPECT_TRUE(in.ok());
    EXPECT_EQ(statusIn(ask(sftp, std::move(WireWriter(kReaddir).u32(4).string(folder)))), StatusCode::Eof);

    // A rename never replaces what is there.
    write("home/docs/b.txt", "b");
    EXPECT_EQ(statusIn(ask(sftp, std::move(WireWriter(kRename).u32(5).string("/docs/a.txt").string("/docs/b.txt")))),
              StatusCode::Failure);
    EXPECT_EQ(statusIn(ask(sftp, std::move(WireWriter(kExtended)
                                               .u32(6)
                                               .string("posix-rename@openssh.com")
                                               .string("/docs/a.txt")
                                               .string("/docs/sub/c.txt")))),
              StatusCode::Ok);
    EXPECT_EQ(read("home/docs/sub/c.txt"), "0123456789");
    EXPECT_EQ(statusIn(ask(sftp, std::move(WireWriter(kRmdir).u32(7).string("/docs/sub")))), StatusCode::Failure);
    EXPECT_EQ(statusIn(ask(sftp, std::move(WireWriter(kRemove).u32(8).string("/docs/sub/c.txt")))), StatusCode::Ok);
    EXPECT_EQ(statusIn(ask(sftp, std::move(WireWriter(kRmdir).u32(9).string("/docs/sub")))), StatusCode::Ok);
    EXPECT_EQ(statusIn(ask(sftp, std::move(WireWriter(kStat).u32(10).string("/docs/sub")))), StatusCode::NoSuchFile);
}

TEST_F(SftpHandlerTest, MalformedRequestsAreBadMessagesAndFramesAreBounded) {
    SftpHandler sftp = handler();
    // An open whose path string claims more bytes than the packet holds.
    EXPECT_EQ(statusIn(parse(sftp.handle(std::string("\x03\0\0\0\x01\0\0\x10\0", 9)))), StatusCode::BadMessage);
    EXPECT_EQ(statusIn(parse(sftp.handle(std::string("\x03\0", 2)))), StatusCode::BadMessage);
    EXPECT_EQ(statusIn(ask(sftp, std::move(WireWriter(99).u32(5)))), StatusCode::OpUnsupported);

    PacketFramer framer;
    WireWriter first(kStat);
    const std::string packet = first.u32(1).string("/").finish();
    framer.append(packet.substr(0, 3));
    EXPECT_FALSE(framer.next());
    framer.append(packet.substr(3) + packet);
    EXPECT_EQ(framer.next(), packet.substr(4));
    EXPECT_EQ(framer.next(), packet.substr(4));
    EXPECT_FALSE(framer.next());
    EXPECT_FALSE(framer.broken());
    framer.append(std::string("\x00\x10\x00\x00", 4));  // 1 MiB announced
    EXPECT_FALSE(framer.next());
    EXPECT_TRUE(framer.broken());
}

}  // namespace
}  // namespace corvel::sftp
