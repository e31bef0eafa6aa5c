// The "Basic Setting" rules: what a file loads as, what saving writes and refuses,
// and which questions each button asks.
#include <gtest/gtest.h>

#include <filesystem>

#include "console/logic/SettingsEditor.h"
#include "tests/unit/console/UserTestSupport.h"

namespace corvel {
namespace {

using testing::RecordingBoxes;
using testing::ScratchProgramDirectory;

constexpr char kFull[] =
    "<config><listenip>10.1.2.3</listenip><ftpport>2121</ftpport><httpport>8081</httpport>"
    "<maxconn>40</maxconn><pasvmode>yes</pasvmode><welcomemsg>Hello there</welcomemsg><extra>x</extra></config>";

struct SettingsEditorTest : ::testing::Test {
    ScratchProgramDirectory dir;
    RecordingBoxes boxes;
    SettingsEditor editor{dir.directory(), boxes};

    SettingsForm loaded(const std::string& text) {
        dir.write("ftpconfig.xml", text);
        editor.load();
        return editor.form();
    }
};

TEST_F(SettingsEditorTest, RoundTripKeepsValuesInTheFixedElementOrderAndElementsItDoesNotShow) {
    loaded(kFull);
    editor.change(editor.form());
    ASSERT_TRUE(editor.save());
    EXPECT_EQ(dir.read("ftpconfig.xml"),
              "<config>\n    <listenip>10.1.2.3</listenip>\n    <ftpport>2121</ftpport>\n"
              "    <httpport>8081</httpport>\n    <maxconn>40</maxconn>\n    <pasvmode>yes</pasvmode>\n"
              "    <welcomemsg>Hello there</welcomemsg>\n    <extra>x</extra>\n</config>\n");
    EXPECT_FALSE(editor.isModified());
    const SettingsForm before = editor.form();
    editor.load();
    EXPECT_EQ(editor.form(), before);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(SettingsEditorTest, ElementsWithoutTextShowTheServerDefaults) {
    const SettingsForm form = loaded(
        "<config><listenip/><ftpport/><httpport></httpport><maxconn/><pasvmode/><welcomemsg/></config>");
    EXPECT_EQ(form.ftpPort, "21");
    EXPECT_EQ(form.webPort, "8080");
    EXPECT_EQ(form.maxConnections, "256");
    EXPECT_FALSE(form.passiveMode);
    EXPECT_FALSE(form.bind);
    EXPECT_TRUE(form.listenAddress.isEmpty());
}

TEST_F(SettingsEditorTest, AbsentElementsLeaveFieldsEmptyAndSavingRefusesThem) {
    const std::string text = "<config><ftpport>21</ftpport><httpport>80</httpport></config>";
    const SettingsForm form = loaded(text);
    EXPECT_TRUE(form.maxConnections.isEmpty());
    editor.change(form);
    EXPECT_FALSE(editor.save());
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].title, "Save Settings");
    EXPECT_EQ(boxes.shown[0].text, "Max Simultaneous Connection can not be empty");
    EXPECT_EQ(dir.read("ftpconfig.xml"), text);
    EXPECT_TRUE(editor.isModified());
}

TEST_F(SettingsEditorTest, EmptyRequiredFieldsAreRefusedOneAtATimeInOrder) {
    SettingsForm form;
    const char* expected[] = {"FTP port can not be empty", "Web port can not be empty",
                              "Max Simultaneous Connection can not be empty"};
    QString* fields[] = {&form.ftpPort, &form.webPort, &form.maxConnections};
    for (int i = 0; i < 3; ++i) {
        boxes.shown.clear();
        editor.change(form);
        EXPECT_FALSE(editor.save());
        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].text, expected[i]);
        *fields[i] = QStringLiteral("abc");  // not checked to be a number
    }
    editor.change(form);
    EXPECT_TRUE(editor.save());
    EXPECT_FALSE(dir.exists("ftpconfig.xml.broken"));
}

TEST_F(SettingsEditorTest, PassiveModeIsOnlyTheExactLowerCaseYes) {
    SettingsForm form = loaded("<config><ftpport>21</ftpport><httpport>80</httpport><maxconn>5</maxconn>"
                               "<pasvmode>YES</pasvmode></config>");
    EXPECT_FALSE(form.passiveMode);
    editor.change(form);
    ASSERT_TRUE(editor.save());
    EXPECT_NE(dir.read("ftpconfig.xml").find("<pasvmode>no</pasvmode>"), std::string::npos);
}

TEST_F(SettingsEditorTest, UncheckedBindSavesAnEmptyAddress) {
    SettingsForm form = loaded(kFull);
    EXPECT_TRUE(form.bind);
    form.bind = false;
    editor.change(form);
    ASSERT_TRUE(editor.save());
    editor.load();
    EXPECT_TRUE(editor.form().listenAddress.isEmpty());
    EXPECT_FALSE(editor.form().bind);
}

TEST_F(SettingsEditorTest, WelcomeLinesAreStoredWithCrLfAndComeBackAsTyped) {
    SettingsForm form = loaded(kFull);
    form.welcomeMessage = QStringLiteral("line one\nline two");
    editor.change(form);
    ASSERT_TRUE(editor.save());
    EXPECT_NE(dir.read("ftpconfig.xml").find("line one&#x0D;&#x0A;line two"), std::string::npos);
    editor.load();
    EXPECT_EQ(editor.form().welcomeMessage, "line one\nline two");
}

TEST_F(SettingsEditorTest, CancelWithoutChangesAsksNothingAndWritesNothing) {
    editor.load();
    EXPECT_EQ(editor.cancel().close, true);
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_FALSE(dir.exists("ftpconfig.xml"));
}

TEST_F(SettingsEditorTest, OkAlwaysAsksAndNoDiscardsTheEdits) {
    loaded(kFull);
    const SettingsStep step = editor.ok();
    EXPECT_TRUE(step.close);
    EXPECT_FALSE(step.restartServer);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].title, "Restart Service");
    EXPECT_EQ(boxes.shown[0].text, "Restart service to load new settings?");
    EXPECT_EQ(dir.read("ftpconfig.xml"), kFull);
}

TEST_F(SettingsEditorTest, OkWithAFailedCheckStillClosesWithoutRestart) {
    loaded("<config></config>");
    boxes.answers = {true};
    const SettingsStep step = editor.ok();
    EXPECT_TRUE(step.close);
    EXPECT_FALSE(step.restartServer);
    EXPECT_EQ(boxes.texts().back(), "FTP port can not be empty");
}

TEST_F(SettingsEditorTest, CancelAfterAChangeAsksToSaveAndRestart) {
    SettingsForm form = loaded(kFull);
    form.ftpPort = QStringLiteral("2200");
    editor.change(form);
    boxes.answers = {true};
    const SettingsStep step = editor.cancel();
    EXPECT_TRUE(step.close);
    EXPECT_TRUE(step.restartServer);
    EXPECT_EQ(boxes.shown[0].title, "Basic Settings");
    EXPECT_EQ(boxes.shown[0].text, "Settings has been changed, sure to save it and restart the service?");
    EXPECT_NE(dir.read("ftpconfig.xml").find("<ftpport>2200</ftpport>"), std::string::npos);
}

TEST_F(SettingsEditorTest, ApplySavesRestartsAndStaysOpenClean) {
    SettingsForm form = loaded(kFull);
    EXPECT_FALSE(editor.apply().restartServer);  // nothing changed: Apply is disabled
    form.maxConnections = QStringLiteral("12");
    editor.change(form);
    boxes.answers = {true};
    const SettingsStep step = editor.apply();
    EXPECT_FALSE(step.close);
    EXPECT_TRUE(step.restartServer);
    EXPECT_FALSE(editor.isModified());
}

TEST_F(SettingsEditorTest, MalformedFileIsReportedAndNeverOverwritten) {
    const std::string broken = "<config><ftpport>21</config>";
    const SettingsForm form = loaded(broken);
    EXPECT_TRUE(editor.isReadOnly());
    EXPECT_EQ(form, SettingsForm());
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_NE(boxes.shown[0].text.find("ftpconfig.xml"), std::string::npos);
    SettingsForm typed;
    typed.ftpPort = typed.webPort = typed.maxConnections = QStringLiteral("1");
    editor.change(typed);
    boxes.answers = {true, true};
    EXPECT_FALSE(editor.save());
    EXPECT_FALSE(editor.ok().restartServer);
    EXPECT_FALSE(editor.apply().restartServer);
    EXPECT_EQ(dir.read("ftpconfig.xml"), broken);
    EXPECT_FALSE(dir.exists("ftpconfig.xml.broken"));
}

TEST_F(SettingsEditorTest, WriteFailureIsReportedAndRequestsNoRestart) {
    loaded(kFull);
    std::filesystem::remove_all(dir.root());
    editor.change(editor.form());
    boxes.answers = {true};
    const SettingsStep step = editor.ok();
    EXPECT_FALSE(step.close);  // the edits stay so the user may retry or cancel
    EXPECT_FALSE(step.restartServer);
    EXPECT_TRUE(editor.isModified());
    EXPECT_EQ(boxes.shown.back().title, "Save Settings");
    EXPECT_NE(boxes.shown.back().text.find("could not be written"), std::string::npos);
}

TEST(ConnectionLimitStep, StaysInRangeAndWrapsAtBothEnds) {
    EXPECT_EQ(stepConnectionLimit(QStringLiteral("31"), +1), "32");
    EXPECT_EQ(stepConnectionLimit(QStringLiteral("256"), +1), "0");
    EXPECT_EQ(stepConnectionLimit(QStringLiteral("0"), -1), "256");
    EXPECT_EQ(stepConnectionLimit(QString(), +1), "1");
    EXPECT_EQ(stepConnectionLimit(QStringLiteral("900"), -1), "255");
}

}  // namespace
}  // namespace corvel
