// The two dialects of the replies: the designed bytes stay as they are, and the
// standard forms are what strict clients parse (quoting, multi-line replies, no
// trailing blanks), plus the OPTS MLST fact selection.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ftp/FtpReplies.h"
#include "ftp/MlsxFacts.h"

namespace corvel {
namespace {

using replies::Dialect;

// Every line of a reply ends in CR LF with no blank before it, and a multi-line
// reply starts its lines with "ddd-" (or, as FEAT's, with a blank) but its last,
// which is "ddd " and text.
void expectWellFormed(const std::string& reply) {
    SCOPED_TRACE(reply);
    ASSERT_GE(reply.size(), 6u);
    ASSERT_EQ(reply.substr(reply.size() - 2), "\r\n");
    const std::string code = reply.substr(0, 3);
    std::size_t start = 0;
    while (start < reply.size()) {
        const std::size_t end = reply.find("\r\n", start);
        ASSERT_NE(end, std::string::npos);
        const std::string line = reply.substr(start, end - start);
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << "a bare CR or LF inside a line";
        EXPECT_NE(line.back(), ' ') << "a trailing blank";
        const bool last = end + 2 == reply.size();
        if (last)
            EXPECT_EQ(line.substr(0, 4), code + " ");
        else
            EXPECT_TRUE(line.substr(0, 4) == code + "-" || line.front() == ' ') << line;
        start = end + 2;
    }
}

TEST(ReplyDialect, DesignedRepliesKeepTheirBytes) {
    const replies::DialectTexts& designed = replies::textsOf(Dialect::Designed);
    EXPECT_STREQ(designed.typeBinary, "220 Type set to I\r\n");
    EXPECT_STREQ(designed.fileActionDone, "250 command ok \r\n");
    EXPECT_STREQ(designed.tooManyConnections, "550 Too Many Connection\r\n");
    EXPECT_STREQ(designed.abortIdle, "426 Connection closed; Transfer aborted\r\n");
    EXPECT_EQ(replies::greeting(Dialect::Designed, "Hi\nthere"),
              "220- CorvelFtp Server powered by Tessaly\r\n220- Hi\nthere\r\n220 \r\n");
    EXPECT_EQ(replies::loggedIn(Dialect::Designed, "", 3609, "u"),
              "230- \r\n230- Service has run for 1h-0m-9s\r\n230 u logged in.\r\n");
    EXPECT_EQ(replies::currentDirectory(Dialect::Designed, "/"), "257 \"//\" is current directory.\r\n");
    EXPECT_EQ(replies::currentDirectory(Dialect::Designed, "pub/in"), "257 \"pub/in/\" is current directory.\r\n");
    EXPECT_EQ(replies::directoryCreated(Dialect::Designed, "x/../n", "n"), "257 \"x/../n\" directory created.\r\n");
    EXPECT_EQ(replies::directoryChanged(Dialect::Designed, "pub"), "250 Directory changed to pub\r\n");
    EXPECT_EQ(replies::transferOpening(Dialect::Designed, false, "a", 12),
              "150 Opening BINARY mode data connection for a(12 bytes)\r\n");
    EXPECT_EQ(replies::transferOpening(Dialect::Designed, true, "a"), "150 Opening ASCII mode data connection for a\r\n");
}

TEST(ReplyDialect, StandardPathsAreAbsoluteWithQuotesDoubled) {
    EXPECT_EQ(replies::currentDirectory(Dialect::Standard, "/"), "257 \"/\" is current directory.\r\n");
    EXPECT_EQ(replies::currentDirectory(Dialect::Standard, ""), "257 \"/\" is current directory.\r\n");
    EXPECT_EQ(replies::currentDirectory(Dialect::Standard, "pub/in"), "257 \"/pub/in\" is current directory.\r\n");
    EXPECT_EQ(replies::currentDirectory(Dialect::Standard, "say \"hi\""),
              "257 \"/say \"\"hi\"\"\" is current directory.\r\n");
    EXPECT_EQ(replies::directoryCreated(Dialect::Standard, "x/../\"n\"", "\"n\""),
              "257 \"/\"\"n\"\"\" directory created.\r\n");
    EXPECT_EQ(replies::directoryChanged(Dialect::Standard, "pub"), "250 Directory changed to /pub\r\n");
    EXPECT_EQ(replies::directoryChanged(Dialect::Standard, ""), "250 Directory changed to /\r\n");
    EXPECT_EQ(replies::transferOpening(Dialect::Standard, false, "a", 12),
              "150 Opening BINARY mode data connection for a (12 bytes)\r\n");
}

TEST(ReplyDialect, StandardRepliesAreWellFormedWhateverTheWelcome) {
    const replies::DialectTexts& standard = replies::textsOf(Dialect::Standard);
    for (const char* text : {standard.typeAscii, standard.typeBinary, standard.fileActionDone,
                             standard.tooManyConnections, standard.abortIdle})
        expectWellFormed(text);
    EXPECT_EQ(std::string(standard.typeBinary).substr(0, 4), "200 ");
    EXPECT_EQ(std::string(standard.tooManyConnections).substr(0, 4), "421 ");
    EXPECT_EQ(std::string(standard.abortIdle).substr(0, 4), "226 ");
    for (const char* welcome : {"", "Hello", "Two\r\nlines", "bare\nLF and\rCR", "ends with a break\n",
                                "220 looks like a last line", "\n\n"}) {
        expectWellFormed(replies::greeting(Dialect::Standard, welcome));
        expectWellFormed(replies::loggedIn(Dialect::Standard, welcome, 0, "u"));
    }
    EXPECT_EQ(replies::greeting(Dialect::Standard, "Two\r\nlines"),
              "220-CorvelFtp Server powered by Tessaly\r\n220-Two\r\n220-lines\r\n220 Service ready for new user.\r\n");
    EXPECT_EQ(replies::greeting(Dialect::Standard, ""), replies::greeting(Dialect::Designed, ""));
    EXPECT_EQ(replies::loggedIn(Dialect::Standard, "", 59, "u"), "230-Service has run for 0h-0m-59s\r\n230 u logged in.\r\n");
    expectWellFormed(replies::mlstOptions(""));
    expectWellFormed(replies::mlstOptions("type;size;"));
    expectWellFormed(replies::features(replies::extensionFeatures("type*;")));
}

TEST(FactSelection, OptsMlstChoosesFactsByNameWithoutCase) {
    const FactSubject file{FactType::File, 12, 0, 0644};
    EXPECT_EQ(formatFacts(file, 0), "type=file;size=12;modify=19700101000000;perm=;unix.mode=0644;");

    const FactSelection sizeAndType = parseFactSelection("Size;TYPE;lang;");
    EXPECT_EQ(selectedFactList(sizeAndType), "type;size;");  // the server's order; unknown facts dropped
    EXPECT_EQ(markedFactList(sizeAndType), "type*;size*;modify;perm;unix.mode;");
    EXPECT_EQ(formatFacts(file, 0, sizeAndType), "type=file;size=12;");
    EXPECT_EQ(formatMlsdLine(file, 0, "a b", sizeAndType), "type=file;size=12; a b\r\n");

    const FactSelection none = parseFactSelection("");
    EXPECT_EQ(selectedFactList(none), "");
    EXPECT_EQ(replies::mlstOptions(selectedFactList(none)), "200 MLST OPTS\r\n");
    EXPECT_EQ(formatMlsdLine(file, 0, "a", none), " a\r\n");  // RFC 3659: the blank stays before the name
    EXPECT_EQ(selectedFactList(parseFactSelection("unix.mode")), "unix.mode;");  // the last ';' may be missing
    EXPECT_EQ(markedFactList(FactSelection{}), "type*;size*;modify*;perm*;unix.mode*;");
}

}  // namespace
}  // namespace corvel
