// Fuzzes the SFTP packet handler behind the framer, on a scratch home with every
// right: every reply is one whole packet of a reply type, and nothing outside the
// home is ever made, changed or removed, whatever the client sends.
//
// Input: the bytes a client sends on the channel after the subsystem started.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "common/Permissions.h"
#include "sftp/SftpHandler.h"

namespace corvel::fuzzing {
namespace {

constexpr std::uint32_t kEveryRight = PERM_CREATE_FILE | PERM_READ_FILE | PERM_WRITE_FILE | PERM_REMOVE_FILE |
                                      PERM_CREATE_DIR | PERM_LIST | PERM_REMOVE_DIR;

// The scratch tree: home/ with a file and a folder, and a file beside the home that
// no request may reach.
struct Tree {
    Tree() {
        std::error_code ignored;
        std::filesystem::create_directories(dir.file("home/docs"), ignored);
        writeFile(dir.file("outside.txt"), "outside");
    }
    void reset() const {
        std::error_code ignored;
        std::filesystem::remove_all(dir.file("home"), ignored);
        std::filesystem::create_directories(dir.file("home/docs"), ignored);
        writeFile(dir.file("home/docs/a.txt"), "0123456789");
    }
    // Everything in the scratch directory but the home and the runtime folder.
    std::size_t entriesOutside() const {
        std::size_t count = 0;
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(dir.directory(), ignored)) {
            const std::string name = entry.path().filename().string();
            if (name != "home" && name != "run") ++count;
        }
        return count;
    }
    ScratchDirectory dir;
};

std::string contentsOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void checkReply(const std::string& reply) {
    check(reply.size() >= 5, "a reply has a length and a type");
    sftp::WireReader in(reply);
    check(in.u32() == reply.size() - 4, "the length field counts the rest of the reply");
    const std::uint8_t type = in.byte();
    check(type == sftp::kVersion || type == sftp::kStatus || type == sftp::kHandle || type == sftp::kData ||
              type == sftp::kName || type == sftp::kAttrs || type == sftp::kExtendedReply,
          "only reply types are sent");
    check(reply.size() <= sftp::PacketFramer::kMaxPacketBytes + 4, "a reply fits the largest packet");
}

}  // namespace
}  // namespace corvel::fuzzing

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace corvel;
    using namespace corvel::fuzzing;
    static const Tree tree;
    tree.reset();
    {
        sftp::SftpHandler handler(FileService(tree.dir.file("home"), kEveryRight));
        sftp::PacketFramer framer;
        framer.append(std::string_view(reinterpret_cast<const char*>(data), size));
        while (std::optional<std::string> packet = framer.next()) checkReply(handler.handle(*packet));
    }
    check(tree.entriesOutside() == 1, "nothing appears beside the home");
    check(contentsOf(tree.dir.file("outside.txt")) == "outside", "the file outside the home is untouched");
    return 0;
}
