// The access policy dialog's rules: loading ftpaccess.xml, the list edits, the
// buttons, and what saving writes.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/NamedObjectNames.h"
#include "common/SharedBlocks.h"
#include "console/logic/PolicyEditor.h"
#include "platform/NamedObjects.h"
#include "tests/unit/console/UserTestSupport.h"

namespace corvel {
namespace {

using testing::RecordingBoxes;
using testing::ScratchProgramDirectory;

struct PolicyEditorTest : ::testing::Test {
    ScratchProgramDirectory dir;
    RecordingBoxes boxes;
    PolicyEditor editor{dir.directory(), boxes};

    void loadText(const std::string& text) {
        dir.write("ftpaccess.xml", text);
        editor.load();
    }
};

TEST_F(PolicyEditorTest, LoadsTheFirstTableInFileOrder) {
    loadText("<anything><iptable type=\"REJECT\"><ip value=\"10.*\"/><ip/><ip value=\"1.2.3.4\"/>"
             "<other value=\"x\"/></iptable><iptable type=\"PASS\"><ip value=\"no\"/></iptable></anything>");
    EXPECT_EQ(editor.type(), PolicyType::Reject);
    EXPECT_EQ(editor.entries(), QStringList({"10.*", "1.2.3.4"}));
    EXPECT_FALSE(editor.isModified());
}

TEST_F(PolicyEditorTest, AnyTypeButExactRejectIsPermit) {
    for (const char* text : {"<a><iptable type=\"reject\"/></a>", "<a><iptable/></a>"}) {
        loadText(text);
        EXPECT_EQ(editor.type(), PolicyType::Permit) << text;
    }
    loadText("<a></a>");
    EXPECT_EQ(editor.type(), PolicyType::Unset);
}

TEST_F(PolicyEditorTest, MissingFileGetsTheDefaultAndAnUnchosenTypeSavesReject) {
    editor.load();
    EXPECT_EQ(editor.type(), PolicyType::Unset);
    EXPECT_NE(dir.read("ftpaccess.xml").find("<iptable type=\"REJECT\""), std::string::npos);
    ASSERT_TRUE(editor.append(QStringLiteral("10.0.0.1")));
    ASSERT_TRUE(editor.save());
    EXPECT_EQ(dir.read("ftpaccess.xml"),
              "<access>\n    <iptable type=\"REJECT\">\n        <ip value=\"10.0.0.1\" />\n    </iptable>\n</access>\n");
}

TEST_F(PolicyEditorTest, AppendRefusesExactDuplicatesAndIgnoresEmptyText) {
    loadText("<access><iptable type=\"REJECT\"><ip value=\"abc\"/></iptable></access>");
    EXPECT_FALSE(editor.append(QString()));
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_FALSE(editor.isModified());
    EXPECT_FALSE(editor.append(QStringLiteral("abc")));
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].title, "Error - CorvelFtp Server");
    EXPECT_EQ(boxes.shown[0].text, "The IP already exist");
    EXPECT_TRUE(editor.append(QStringLiteral("ABC")));  // any text, compared case-sensitively
    EXPECT_TRUE(editor.isModified());
}

TEST_F(PolicyEditorTest, RemoveNeedsASelection) {
    loadText("<access><iptable type=\"REJECT\"><ip value=\"a\"/><ip value=\"b\"/></iptable></access>");
    EXPECT_FALSE(editor.removeAt(-1));
    EXPECT_FALSE(editor.removeAt(2));
    EXPECT_EQ(boxes.texts(), (std::vector<std::string>{"Please select a record", "Please select a record"}));
    EXPECT_TRUE(editor.removeAt(0));
    EXPECT_EQ(editor.entries(), QStringList({"b"}));
}

TEST_F(PolicyEditorTest, OrderSurvivesASaveAndAReload) {
    editor.load();
    editor.setType(PolicyType::Permit);
    for (const char* entry : {"9.9.9.9", "1.1.1.1", "5.*", "3.3.3.?"}) ASSERT_TRUE(editor.append(QString::fromLatin1(entry)));
    ASSERT_TRUE(editor.removeAt(2));
    ASSERT_TRUE(editor.save());
    EXPECT_FALSE(editor.isModified());
    editor.load();
    EXPECT_EQ(editor.type(), PolicyType::Permit);
    EXPECT_EQ(editor.entries(), QStringList({"9.9.9.9", "1.1.1.1", "3.3.3.?"}));
}

TEST_F(PolicyEditorTest, PermitWithNoEntriesWritesAnEmptyPassTable) {
    loadText("<access><iptable type=\"REJECT\"><ip value=\"a\"/></iptable></access>");
    ASSERT_TRUE(editor.removeAt(0));
    editor.setType(PolicyType::Permit);
    EXPECT_TRUE(editor.ok().close);
    EXPECT_TRUE(boxes.shown.empty());  // Ok saves without asking
    EXPECT_EQ(dir.read("ftpaccess.xml"), "<access>\n    <iptable type=\"PASS\" />\n</access>\n");
}

TEST_F(PolicyEditorTest, CancelAsksOnlyAfterAChange) {
    const std::string text = "<access><iptable type=\"REJECT\"/></access>";
    loadText(text);
    EXPECT_TRUE(editor.cancel().close);
    EXPECT_TRUE(boxes.shown.empty());
    editor.setType(PolicyType::Permit);
    EXPECT_TRUE(editor.cancel().close);  // answered No
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].title, "Policy");
    EXPECT_EQ(boxes.shown[0].text, "Policy has been changed, save it??");
    EXPECT_EQ(dir.read("ftpaccess.xml"), text);
    boxes.answers = {true};
    EXPECT_TRUE(editor.cancel().close);
    EXPECT_NE(dir.read("ftpaccess.xml").find("PASS"), std::string::npos);
}

TEST_F(PolicyEditorTest, ApplySavesRequestsAReloadAndStaysOpen) {
    std::optional<NamedMutex> mutex = NamedMutex::createOrOpen(names::kControlMutex);
    std::optional<SharedBlock> block = SharedBlock::createZeroed(names::kControlBlock, kControlBlockSize);
    ASSERT_TRUE(mutex && block);
    editor.load();
    EXPECT_FALSE(editor.apply().close);
    EXPECT_EQ(readControlWord(block->data()), 0u);  // nothing changed, nothing saved
    editor.setType(PolicyType::Reject);
    EXPECT_FALSE(editor.apply().close);
    EXPECT_EQ(readControlWord(block->data()), ReloadAccess);
    EXPECT_FALSE(editor.isModified());
}

TEST_F(PolicyEditorTest, MalformedFileIsReportedAndLeftUntouched) {
    const std::string broken = "<access><iptable type=\"PASS\"></access>";
    loadText(broken);
    EXPECT_TRUE(editor.isReadOnly());
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_NE(boxes.shown[0].text.find("ftpaccess.xml"), std::string::npos);
    EXPECT_FALSE(editor.save());
    EXPECT_TRUE(editor.ok().close);
    EXPECT_EQ(dir.read("ftpaccess.xml"), broken);
    EXPECT_FALSE(dir.exists("ftpaccess.xml.broken"));
}

TEST_F(PolicyEditorTest, WriteFailureIsReportedAndKeepsTheDialogOpen) {
    editor.load();
    std::filesystem::remove(dir.file("ftpaccess.xml"));
    std::filesystem::create_directories(dir.file("ftpaccess.xml/inside"));
    editor.setType(PolicyType::Permit);
    EXPECT_FALSE(editor.ok().close);
    EXPECT_TRUE(editor.isModified());
    EXPECT_NE(boxes.shown.back().text.find("could not be written"), std::string::npos);
}

}  // namespace
}  // namespace corvel
