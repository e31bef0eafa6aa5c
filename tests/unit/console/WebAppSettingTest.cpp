// The console's check box for <webapp>: read from the file, written only when it
// changes, and the rest of the file kept as it was.
#include <gtest/gtest.h>

#include "console/logic/SettingsEditor.h"
#include "tests/unit/console/UserTestSupport.h"

namespace corvel {
namespace {

TEST(WebAppSetting, TheBoxFollowsTheFileAndWritesOnlyItsElement) {
    testing::ScratchProgramDirectory dir;
    testing::RecordingBoxes boxes;
    SettingsEditor editor{dir.directory(), boxes};
    const std::string original =
        "<config>\n    <listenip>10.1.2.3</listenip>\n    <ftpport>2121</ftpport>\n    <httpport>8081</httpport>\n"
        "    <maxconn>40</maxconn>\n    <pasvmode>yes</pasvmode>\n    <welcomemsg>Hi</welcomemsg>\n"
        "    <future>x</future>\n</config>\n";
    dir.write("ftpconfig.xml", original);
    editor.load();
    SettingsForm form = editor.form();
    EXPECT_FALSE(form.extensions.webApp);
    editor.change(form);
    ASSERT_TRUE(editor.save());
    EXPECT_EQ(dir.read("ftpconfig.xml"), original);  // untouched, unchanged
    form.extensions.webApp = true;
    editor.change(form);
    ASSERT_TRUE(editor.save());
    const std::string saved = dir.read("ftpconfig.xml");
    EXPECT_NE(saved.find("<webapp>yes</webapp>"), std::string::npos) << saved;
    EXPECT_NE(saved.find("<future>x</future>"), std::string::npos);
    editor.load();
    EXPECT_TRUE(editor.form().extensions.webApp);
    EXPECT_TRUE(boxes.shown.empty());
}

}  // namespace
}  // namespace corvel
