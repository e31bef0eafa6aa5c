#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "common/PasswordDigest.h"

namespace corvel {
namespace {

std::string fromHex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(char(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

TEST(PasswordDigest, MatchesEveryReferenceRow) {
    std::ifstream file(CORVEL_TESTDATA_DIR "/password-digests.tsv");
    ASSERT_TRUE(file.is_open());
    std::string line;
    int rows = 0;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string hex, length, expected;
        std::getline(fields, hex, '\t');
        std::getline(fields, length, '\t');
        std::getline(fields, expected, '\t');
        std::string password = fromHex(hex);
        ASSERT_EQ(password.size(), std::stoul(length)) << line;
        EXPECT_EQ(passwordDigest(password), expected) << "length " << length;
        ++rows;
    }
    EXPECT_GE(rows, 10);
}

TEST(PasswordDigest, ShortPasswordsAreMd5WithEachWordPrintedAsANumber) {
    EXPECT_EQ(passwordDigest("abc"), "98500190B04FD23C7D3F96D6727FE128");
    EXPECT_EQ(passwordDigest(""), "D98C1DD404B2008F980980E97E42F8EC");
}

TEST(PasswordDigest, LongPasswordsDependOnlyOnFirstBlockAndTail) {
    // From 128 bytes on, whole blocks after the first are left out of the mixing.
    std::string a = std::string(64, 'a') + std::string(64, 'b') + "tail";
    std::string b = std::string(64, 'a') + std::string(64, 'c') + "tail";
    EXPECT_EQ(passwordDigest(a), passwordDigest(b));
    EXPECT_NE(passwordDigest(a), passwordDigest(std::string(64, 'a') + std::string(64, 'b') + "tale"));
    EXPECT_EQ(passwordDigest(std::string(1000, 'z')).size(), 32u);
}

}  // namespace
}  // namespace corvel
