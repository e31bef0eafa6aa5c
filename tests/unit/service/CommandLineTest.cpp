// The corveld command-line grammar on its edge cases: which action wins, where "-l"
// and "-p" take their value, and what "/nontservice" needs to count.
#include <gtest/gtest.h>

#include "service/CommandLine.h"

namespace corvel {
namespace {

using Args = std::vector<std::string>;

TEST(CommandLine, NothingRecordedMeansTheNoArgumentRow) {
    EXPECT_EQ(parseCommandLine({}).action, CommandAction::NoAction);
    EXPECT_EQ(parseCommandLine({"start", "/i", "-", ""}).action, CommandAction::NoAction);
}

TEST(CommandLine, UnknownLettersAndLaterCharactersAreIgnored) {
    EXPECT_EQ(parseCommandLine({"-x", "-z", "-I"}).action, CommandAction::NoAction);
    EXPECT_EQ(parseCommandLine({"-install"}).action, CommandAction::Install);
    EXPECT_EQ(parseCommandLine({"-debug"}).action, CommandAction::DebugConsole);
}

TEST(CommandLine, TheLastRecordedActionWins) {
    EXPECT_EQ(parseCommandLine({"-i", "-u"}).action, CommandAction::Remove);
    EXPECT_EQ(parseCommandLine({"-u", "-i"}).action, CommandAction::Install);
    EXPECT_EQ(parseCommandLine({"-s", "-x", "-e"}).action, CommandAction::Stop);
}

TEST(CommandLine, DebugAndFacelessActAtOnceAndEndTheScan) {
    EXPECT_EQ(parseCommandLine({"-d", "-i"}).action, CommandAction::DebugConsole);
    EXPECT_EQ(parseCommandLine({"-i", "-d"}).action, CommandAction::DebugConsole);
    EXPECT_EQ(parseCommandLine({"-f", "-d"}).action, CommandAction::Faceless);
    // The account after "-d" is never read.
    CommandLine parsed = parseCommandLine({"-d", "-lalice"});
    EXPECT_FALSE(parsed.account.has_value());
}

TEST(CommandLine, AccountInTheSameOrTheNextArgumentIsTheSame) {
    for (const Args& args : {Args{"-lalice", "-i"}, Args{"-l", "alice", "-i"}, Args{"-i", "-l", "alice"}}) {
        CommandLine parsed = parseCommandLine(args);
        EXPECT_EQ(parsed.action, CommandAction::Install);
        ASSERT_TRUE(parsed.account.has_value());
        EXPECT_EQ(*parsed.account, "alice");
    }
    CommandLine same = parseCommandLine({"-psecret", "-i"});
    CommandLine next = parseCommandLine({"-p", "secret", "-i"});
    EXPECT_EQ(same.password, next.password);
    EXPECT_EQ(*same.password, "secret");
}

TEST(CommandLine, TheNextArgumentIsTakenWhateverItSays) {
    // "-l -u": "-u" is the account name, not an action.
    CommandLine parsed = parseCommandLine({"-i", "-l", "-u"});
    EXPECT_EQ(parsed.action, CommandAction::Install);
    EXPECT_EQ(parsed.account, std::optional<std::string>("-u"));
}

TEST(CommandLine, AccountLetterLastSetsNothing) {
    CommandLine parsed = parseCommandLine({"-i", "-l"});
    EXPECT_EQ(parsed.action, CommandAction::Install);
    EXPECT_FALSE(parsed.account.has_value());
    parsed = parseCommandLine({"-p"});
    EXPECT_EQ(parsed.action, CommandAction::NoAction);
    EXPECT_FALSE(parsed.password.has_value());
}

TEST(CommandLine, LaterAccountReplacesEarlier) {
    EXPECT_EQ(parseCommandLine({"-lbob", "-lalice", "-i"}).account, std::optional<std::string>("alice"));
}

TEST(CommandLine, NontserviceCountsOnlyAlone) {
    EXPECT_EQ(parseCommandLine({"/nontservice"}).action, CommandAction::Plain);
    EXPECT_EQ(parseCommandLine({"/nontservice", "x"}).action, CommandAction::NoAction);
    EXPECT_EQ(parseCommandLine({"x", "/nontservice"}).action, CommandAction::NoAction);
    EXPECT_EQ(parseCommandLine({"/nontservice", "-i"}).action, CommandAction::Install);
    EXPECT_EQ(parseCommandLine({"/NONTSERVICE"}).action, CommandAction::NoAction);
}

}  // namespace
}  // namespace corvel
