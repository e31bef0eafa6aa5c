// The command line: help at every level, options in any place and form, and every
// kind of usage error ending with status 2 and the --help hint.
#include <gtest/gtest.h>

#include <filesystem>

#include "ctl/Arguments.h"
#include "tests/unit/ctl/CtlTestSupport.h"

namespace corvel {
namespace {

using testing::CtlFixture;

ParsedArguments parse(std::vector<std::string> arguments) { return parseArguments(arguments); }

TEST(CorvelctlArguments, HelpIsPrintedForTheLevelNamedSoFarAndWinsOverErrors) {
    struct Case {
        std::vector<std::string> arguments;
        const char* usageStart;
    } cases[] = {
        {{"--help"}, "Usage: corvelctl [--dir PROGRAM_DIR] [--json] COMMAND ..."},
        {{"-h"}, "Usage: corvelctl [--dir PROGRAM_DIR] [--json] COMMAND ..."},
        {{"user", "--help"}, "Usage: corvelctl [--dir PROGRAM_DIR] [--json] user COMMAND ..."},
        {{"user", "add", "--help"}, "Usage: corvelctl [--dir PROGRAM_DIR] [--json] user add NAME --home DIR"},
        {{"--help", "policy", "mode"}, "Usage: corvelctl [--dir PROGRAM_DIR] [--json] policy mode permit|reject"},
        {{"settings", "set", "-h", "nokey"}, "Usage: corvelctl [--dir PROGRAM_DIR] [--json] settings set KEY VALUE"},
        {{"stop", "extra", "--bogus", "--help"}, "Usage: corvelctl [--dir PROGRAM_DIR] [--json] stop"},
        {{"frobnicate", "--help"}, "Usage: corvelctl [--dir PROGRAM_DIR] [--json] COMMAND ..."},
    };
    for (const Case& c : cases) {
        const ParsedArguments parsed = parse(c.arguments);
        ASSERT_EQ(parsed.outcome, ParseOutcome::Help) << c.arguments.front();
        EXPECT_EQ(parsed.text.rfind(c.usageStart, 0), 0u) << parsed.text;
    }
    // Every command's help names each of its options.
    for (const CommandEntry& entry : commandTable()) {
        std::vector<std::string> arguments;
        if (!entry.group.empty()) arguments.emplace_back(entry.group);
        arguments.emplace_back(entry.name);
        arguments.emplace_back("--help");
        const std::string help = parse(arguments).text;
        for (const OptionEntry& option : entry.options) EXPECT_NE(help.find(option.name), std::string::npos) << help;
    }
}

TEST(CorvelctlArguments, OptionsStandAnywhereAfterTheirCommandInEitherForm) {
    const ParsedArguments parsed = parse({"--json", "user", "add", "--home=/srv/a", "alice", "--dir", "/opt/x",
                                          "--rights", "read", "--welcome", "--help-is-a-value", "--disabled"});
    ASSERT_EQ(parsed.outcome, ParseOutcome::Run) << parsed.text;
    const Invocation& invocation = parsed.invocation;
    EXPECT_EQ(invocation.command, CommandId::UserAdd);
    EXPECT_EQ(invocation.operands, (std::vector<std::string>{"alice"}));
    EXPECT_TRUE(invocation.json);
    EXPECT_EQ(invocation.programDirectory, "/opt/x");
    EXPECT_EQ(*invocation.value("--home"), "/srv/a");
    EXPECT_EQ(*invocation.value("--welcome"), "--help-is-a-value");
    EXPECT_TRUE(invocation.has("--disabled"));
    EXPECT_FALSE(invocation.has("--description"));

    // "--" lets an operand start with '-'; the last of a repeated option counts.
    const ParsedArguments dashed = parse({"policy", "add", "--", "-1"});
    ASSERT_EQ(dashed.outcome, ParseOutcome::Run);
    EXPECT_EQ(dashed.invocation.operands, (std::vector<std::string>{"-1"}));
    const ParsedArguments repeated = parse({"user", "set", "bob", "--home", "/a", "--home", "/b"});
    EXPECT_EQ(*repeated.invocation.value("--home"), "/b");
}

TEST(CorvelctlArguments, EveryMistakeIsAUsageErrorThatSaysWhat) {
    struct Case {
        std::vector<std::string> arguments;
        const char* says;
    } cases[] = {
        {{}, "no command given"},
        {{"user"}, "'user' needs a command: list, add, passwd, set, del"},
        {{"users", "list"}, "unknown command 'users'"},
        {{"user", "remove", "bob"}, "unknown command 'user remove'"},
        {{"user", "add", "alice"}, "needs --home DIR"},
        {{"user", "add", "--home", "/h"}, "needs NAME"},
        {{"user", "del", "a", "b"}, "unexpected argument 'b'"},
        {{"user", "list", "--home", "/h"}, "unknown option '--home' for 'corvelctl user list'"},
        {{"--home", "/h", "user", "add", "a"}, "unknown option '--home'"},
        {{"user", "add", "a", "--home"}, "--home needs a value"},
        {{"user", "add", "a", "--home", "/h", "--disabled=yes"}, "--disabled takes no value"},
        {{"--json=1", "status"}, "--json takes no value"},
        {{"user", "set", "a", "--disable", "--enable"}, "--disable and --enable exclude each other"},
        {{"user", "set", "a"}, "nothing to change"},
        {{"policy", "mode", "allow"}, "takes one of permit, reject, not 'allow'"},
        {{"reload", "settings"}, "takes one of users, policy, not 'settings'"},
        {{"settings", "set", "port", "21"}, "takes one of listenip, ftpport, httpport, maxconn, pasvmode, welcomemsg"},
        {{"settings", "set", "ftpport"}, "needs VALUE"},
        {{"settings", "unset", "ftpport"}, "settings unset' takes one of tls, tlscert,"},
        {{"--dir"}, "--dir needs a value"},
    };
    for (const Case& c : cases) {
        const ParsedArguments parsed = parse(c.arguments);
        EXPECT_EQ(parsed.outcome, ParseOutcome::UsageError) << c.says;
        EXPECT_NE(parsed.text.find(c.says), std::string::npos) << "got: " << parsed.text;
    }
}

TEST(CorvelctlArguments, UserKeyIsAGroupWithinUser) {
    ParsedArguments parsed = parse({"user", "key", "add", "alice", "ssh-ed25519 AAAA x"});
    ASSERT_EQ(parsed.outcome, ParseOutcome::Run) << parsed.text;
    EXPECT_EQ(parsed.invocation.command, CommandId::UserKeyAdd);
    EXPECT_EQ(parsed.invocation.operands, (std::vector<std::string>{"alice", "ssh-ed25519 AAAA x"}));
    parsed = parse({"user", "key", "add", "alice", "--file", "id.pub"});
    ASSERT_EQ(parsed.outcome, ParseOutcome::Run) << parsed.text;
    EXPECT_EQ(*parsed.invocation.value("--file"), "id.pub");
    parsed = parse({"--json", "user", "key", "list", "alice"});
    ASSERT_EQ(parsed.outcome, ParseOutcome::Run) << parsed.text;
    EXPECT_EQ(parsed.invocation.command, CommandId::UserKeyList);
    EXPECT_EQ(parse({"user", "key", "del", "alice", "SHA256:x"}).invocation.command, CommandId::UserKeyDel);

    EXPECT_EQ(parse({"user", "key", "del", "alice"}).text, "'corvelctl user key del' needs FINGERPRINT");
    EXPECT_EQ(parse({"user", "key"}).text, "'user key' needs a command: add, list, del");
    EXPECT_EQ(parse({"user"}).text, "'user' needs a command: list, add, passwd, set, del, key");
    EXPECT_EQ(parse({"user", "key", "frob"}).text, "unknown command 'user key frob' (user key takes: add, list, del)");
    // The help of user lists the key commands; theirs is their own.
    EXPECT_NE(parse({"user", "--help"}).text.find("user key add NAME KEY"), std::string::npos);
    EXPECT_EQ(parse({"user", "key", "--help"}).text.rfind("Usage: corvelctl [--dir PROGRAM_DIR] [--json] user key COMMAND", 0),
              0u);
    EXPECT_EQ(parse({"user", "key", "add", "-h"}).text.rfind(
                  "Usage: corvelctl [--dir PROGRAM_DIR] [--json] user key add NAME KEY [--file", 0),
              0u);
}

TEST(CorvelctlArguments, ReloadTakesTheExtensionsWordsAndNamesThemWhenRefusing) {
    const ParsedArguments log = parse({"reload", "log"});
    EXPECT_NE(log.outcome, ParseOutcome::UsageError) << log.text;
    EXPECT_EQ(log.invocation.command, CommandId::Reload);
    EXPECT_EQ(log.invocation.operands, (std::vector<std::string>{"log"}));
    const ParsedArguments wrong = parse({"reload", "logs"});
    EXPECT_EQ(wrong.outcome, ParseOutcome::UsageError);
    EXPECT_NE(wrong.text.find("takes one of users, policy, not 'logs' (for the extensions also log, tls)"),
              std::string::npos)
        << wrong.text;
}

struct CorvelctlExitStatus : CtlFixture {};

TEST_F(CorvelctlExitStatus, UsageErrorsExitTwoWithTheHintAndHelpExitsZeroOnStandardOutput) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{}, {"user"}, {"user", "add", "bob", "--home", "/h", "--rights", "read,fly"},
          {"settings", "set", "nokey", "1"}, {"status", "now"}}) {
        const testing::CtlResult result = run(arguments);
        EXPECT_EQ(result.status, 2);
        EXPECT_TRUE(result.out.empty());
        EXPECT_EQ(result.err.rfind("corvelctl: ", 0), 0u) << result.err;
        EXPECT_NE(result.err.find("--help"), std::string::npos);
    }
    const testing::CtlResult rights = run({"user", "add", "bob", "--home", "/h", "--rights", "read,fly"});
    EXPECT_NE(rights.err.find("'fly'"), std::string::npos) << rights.err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("ftpusers.xml")));

    const testing::CtlResult help = run({"user", "passwd", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.err.empty());
    EXPECT_NE(help.out.find("--password-stdin"), std::string::npos);
}

TEST_F(CorvelctlExitStatus, AProgramDirectoryThatIsNotThereIsRefused) {
    const testing::CtlResult result = run({"--dir", dir.file("nowhere"), "user", "list"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("nowhere/ does not exist"), std::string::npos) << result.err;
}

}  // namespace
}  // namespace corvel
