#include <gtest/gtest.h>
#include <tinyxml.h>

#include <algorithm>

#include <string>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

#include "common/XmlText.h"
#include "support/ScratchFiles.h"

namespace corvel {
namespace {

using testing::ScratchDirectoryTest;

std::string printed(const TiXmlDocument& doc) {
    TiXmlPrinter printer;
    doc.Accept(&printer);
    return printer.Str();
}

// Where the library's own loader reads bytes alike in either encoding (no
// declaration, a declared 8-bit code page, valid UTF-8), the readers must read
// exactly as it does, and refuse the same broken files with the same reason and line.
class XmlTextFileTest : public ScratchDirectoryTest {
protected:
    void expectSameAsLibrary(const std::string& contents) {
        write("file.xml", contents);
        TiXmlDocument ours;
        TiXmlDocument library;
        const bool oursLoaded = loadXmlFile(ours, path("file.xml"));
        const bool libraryLoaded = library.LoadFile(path("file.xml").c_str());
        ASSERT_EQ(oursLoaded, libraryLoaded) << contents;
        EXPECT_EQ(ours.ErrorId(), library.ErrorId()) << contents;
        EXPECT_EQ(ours.ErrorRow(), library.ErrorRow()) << contents;
        EXPECT_EQ(printed(ours), printed(library)) << contents;
    }
};

TEST_F(XmlTextFileTest, ReadsFilesAsTheLibraryLoaderDoes) {
    const std::vector<std::string> files = {
        "<users><user username=\"a\" password=\"b\" /></users>",
        "<access>\r\n  <iptable type=\"REJECT\">\r\n  </iptable>\r\n</access>\r\n",
        "<config>\r<welcomemsg>one\rtwo\r\nthree\n</welcomemsg></config>\r",
        "\xEF\xBB\xBF<config><ftpport>21</ftpport></config>",
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?><config><welcomemsg>caf\xE9 &#xE9;</welcomemsg></config>",
        "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><config><welcomemsg>caf\xC3\xA9</welcomemsg></config>",
        std::string("<config><ftpport>21</ftpport></config>\0<garbage", 48),
        std::string("<config><ftp\0port>21</ftpport></config>", 39),
        "<users><user username=\"a\" password=\"b\"></users>",
        "<config>\n\n\n<ftpport>21</ftpport>\n</broken>",
        "not xml at all",
        "",
    };
    for (const std::string& contents : files) expectSameAsLibrary(contents);
}

TEST_F(XmlTextFileTest, MissingFilesAndFoldersFailAsUnopenable) {
    TiXmlDocument doc;
    EXPECT_FALSE(loadXmlFile(doc, path("absent.xml")));
    EXPECT_EQ(doc.ErrorId(), TiXmlBase::TIXML_ERROR_OPENING_FILE);
    EXPECT_FALSE(loadXmlFile(doc, dir_));
    EXPECT_EQ(doc.ErrorId(), TiXmlBase::TIXML_ERROR_OPENING_FILE);
}

TEST_F(XmlTextFileTest, LoadingReplacesWhatTheDocumentHeld) {
    write("file.xml", "<second />");
    TiXmlDocument doc;
    ASSERT_TRUE(parseXmlText(doc, "<first />"));
    ASSERT_TRUE(loadXmlFile(doc, path("file.xml")));
    EXPECT_EQ(printed(doc), "<second />\n");
    ASSERT_FALSE(parseXmlText(doc, "<broken"));
    ASSERT_TRUE(parseXmlText(doc, "<third />"));
    EXPECT_FALSE(doc.Error());
    EXPECT_EQ(printed(doc), "<third />\n");
}

// Code-page bytes before a quote, bracket or ampersand stay single bytes even when
// the declaration says UTF-8, and the printed document reads back the same.
TEST(XmlText, EightBitTextsAreBytesWhateverTheDeclarationSays) {
    std::string names;
    for (int byte = 0x80; byte <= 0xFF; ++byte) names += "<user username=\"n" + std::string(1, static_cast<char>(byte)) + "\" />";
    const std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><users>" + names +
                             "<user username=\"&#xE9;&amp;\xDA&lt;\">caf\xE9</user></users>";
    TiXmlDocument doc;
    ASSERT_TRUE(parseXmlText(doc, text)) << doc.ErrorDesc();
    std::vector<std::string> read;
    for (const TiXmlElement* user = doc.RootElement()->FirstChildElement("user"); user;
         user = user->NextSiblingElement("user"))
        read.push_back(user->Attribute("username"));
    ASSERT_EQ(read.size(), 0x81u);
    for (int byte = 0x80; byte <= 0xFF; ++byte) EXPECT_EQ(read[byte - 0x80], "n" + std::string(1, static_cast<char>(byte)));
    EXPECT_EQ(read.back(), "\xE9&\xDA<");
    EXPECT_STREQ(doc.RootElement()->LastChild()->FirstChild()->Value(), "caf\xE9");

    TiXmlDocument again;
    ASSERT_TRUE(parseXmlText(again, printed(doc)));
    EXPECT_EQ(printed(again), printed(doc));
}

// Found by fuzzing the users file: after a text that ends inside a multi-byte
// UTF-8 sequence the library steps over its terminator and reads on.
const std::vector<std::string>& truncatedSequenceTexts() {
    static const std::vector<std::string> texts = [] {
        const std::vector<std::string> prefixes = {
            "<", "<u", "<users ", "<users a", "<users a=\"", "<users a=\"1", "<users>", "<users>x",
            "<!--", "<!-- c", "<?xml version=\"", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><u a=\"",
            "\xEF\xBB\xBF<u>", "<![CDATA[", "<u>&#x", "<u>&",
        };
        std::vector<std::string> all;
        for (int lead = 0x80; lead <= 0xFF; ++lead)
            for (const std::string& prefix : prefixes)
                for (std::size_t repeat : {1, 40}) all.push_back(prefix + std::string(repeat, static_cast<char>(lead)));
        return all;
    }();
    return texts;
}

// Two pages, the second unreadable: a text placed right before it with the
// padding after it makes any read beyond the padding a crash.
class GuardedText {
public:
    GuardedText() {
        page_ = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        void* area = ::mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (area != MAP_FAILED) {
            area_ = static_cast<char*>(area);
            ::mprotect(area_ + page_, page_, PROT_NONE);
        }
    }
    ~GuardedText() {
        if (area_) ::munmap(area_, 2 * page_);
    }
    GuardedText(const GuardedText&) = delete;
    GuardedText& operator=(const GuardedText&) = delete;

    bool ready() const { return area_ != nullptr; }
    // The text followed by exactly padding NULs, ending at the guard page.
    const char* place(const std::string& text, std::size_t padding) {
        char* start = area_ + page_ - text.size() - padding;
        std::copy(text.begin(), text.end(), start);
        std::fill_n(start + text.size(), padding, '\0');
        return start;
    }

private:
    std::size_t page_ = 0;
    char* area_ = nullptr;
};

// Read as UTF-8 (padding 1) the library crashes here; byte by byte it must not.
TEST(XmlTextGuardTest, ByteByByteTheLibraryNeverReadsBeyondTheTerminator) {
    GuardedText guarded;
    ASSERT_TRUE(guarded.ready());
    for (const std::string& text : truncatedSequenceTexts()) {
        TiXmlDocument doc;
        doc.Parse(guarded.place(text, 1), nullptr, TIXML_ENCODING_LEGACY);
    }
}

// Texts and files that end inside a multi-byte sequence load or fail alike.
TEST_F(XmlTextFileTest, TextsEndingInsideMultiByteSequencesLoadAlikeFromTextAndFile) {
    TiXmlDocument fuzzed;
    EXPECT_FALSE(loadXmlFile(fuzzed, CORVEL_TESTDATA_DIR "/users-truncated-multibyte-name.xml"));
    for (const std::string& text : truncatedSequenceTexts()) {
        TiXmlDocument fromText;
        TiXmlDocument fromFile;
        write("file.xml", text);
        EXPECT_EQ(parseXmlText(fromText, text), loadXmlFile(fromFile, path("file.xml"))) << text;
    }
}

}  // namespace
}  // namespace corvel
