// Command lines cut from the control connection's bytes, fed directly: every split,
// the length limit, NUL bytes, pipelined lines, and forgetting at a protocol change.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ftp/CommandLineAssembler.h"

namespace corvel {
namespace {

using Kind = CommandLineEvent::Kind;

// Feeds the parts in order and collects every event.
std::vector<CommandLineEvent> events(const std::vector<std::string>& parts) {
    CommandLineAssembler assembler;
    std::vector<CommandLineEvent> out;
    for (const std::string& part : parts) {
        assembler.append(part);
        while (auto event = assembler.next()) out.push_back(*event);
    }
    return out;
}

std::vector<std::string> bytesOf(const std::string& text) {
    std::vector<std::string> bytes;
    for (char c : text) bytes.emplace_back(1, c);
    return bytes;
}

TEST(CommandLineAssembler, EverySplitGivesTheSameLines) {
    const std::string stream = "USER alice\r\nPASS pw\nNOOP \t\r\n" + std::string(5000, 'x') + "\r\nQUIT\r\n";
    const std::vector<CommandLineEvent> whole = events({stream});
    ASSERT_EQ(whole.size(), 5u);
    EXPECT_EQ(whole[0].text, "USER alice\r\n");
    EXPECT_EQ(whole[1].text, "PASS pw\n");
    EXPECT_EQ(whole[3].kind, Kind::TooLong);
    EXPECT_EQ(whole[4].text, "QUIT\r\n");
    auto same = [&](const std::vector<CommandLineEvent>& got) {
        if (got.size() != whole.size()) return false;
        for (std::size_t i = 0; i < got.size(); ++i)
            if (got[i].kind != whole[i].kind || got[i].text != whole[i].text) return false;
        return true;
    };
    EXPECT_TRUE(same(events(bytesOf(stream))));
    for (std::size_t cut = 1; cut < stream.size(); cut += 7)
        EXPECT_TRUE(same(events({stream.substr(0, cut), stream.substr(cut)}))) << cut;
}

TEST(CommandLineAssembler, LengthLimitAndTheTooLongText) {
    // 4093 characters plus LF is still a line; 4094 without an LF is too long.
    EXPECT_EQ(events({std::string(4093, 'a') + "\n"}).at(0).kind, Kind::Line);
    std::vector<CommandLineEvent> tooLong = events({"ABCD " + std::string(4089, 'y') + "\n"});
    ASSERT_EQ(tooLong.size(), 1u);
    EXPECT_EQ(tooLong[0].kind, Kind::TooLong);
    EXPECT_EQ(tooLong[0].text.size(), 4094u);
    // The rest of the line is dropped over any number of arrivals; nothing is reported
    // until its LF comes, and what follows is a new line.
    CommandLineAssembler assembler;
    assembler.append(std::string(4094, 'z'));
    EXPECT_FALSE(assembler.next());
    for (int i = 0; i < 100; ++i) {
        assembler.append(std::string(65536, 'z'));
        EXPECT_FALSE(assembler.next());
    }
    assembler.append("zz\r\nNOOP\r\n");
    EXPECT_EQ(assembler.next()->kind, Kind::TooLong);
    EXPECT_EQ(assembler.next()->text, "NOOP\r\n");
    EXPECT_FALSE(assembler.next());
}

TEST(CommandLineAssembler, ALineEndsAtItsFirstNul) {
    std::vector<CommandLineEvent> got = events({std::string("RETR a\0b\r\nNOOP\r\n", 16)});
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].text, "RETR a");
    EXPECT_EQ(got[1].text, "NOOP\r\n");
}

TEST(CommandLineAssembler, ClearForgetsWhatWasSentBeforeTheSwitch) {
    CommandLineAssembler assembler;
    assembler.append("AUTH TLS\r\nDELE important\r\nSTOR x");
    EXPECT_EQ(assembler.next()->text, "AUTH TLS\r\n");
    assembler.clear();
    EXPECT_TRUE(assembler.empty());
    EXPECT_FALSE(assembler.next());
    assembler.append("NOOP\r\n");
    EXPECT_EQ(assembler.next()->text, "NOOP\r\n");
}

}  // namespace
}  // namespace corvel
