// The account list: what ftpusers.xml loads as, what create/modify/remove write, the
// user dialog's checks and Browse rule, and the reload request.
#include <gtest/gtest.h>

#include <filesystem>

#include "accounts/StoredPassword.h"
#include "admin/ReloadRequest.h"
#include "common/NamedObjectNames.h"
#include "common/PasswordDigest.h"
#include "common/SharedBlocks.h"
#include "console/logic/UserListEditor.h"
#include "platform/NamedObjects.h"
#include "tests/unit/console/UserTestSupport.h"

namespace corvel {
namespace {

using testing::RecordingBoxes;
using testing::ScratchProgramDirectory;
using testing::ScriptedPicker;

constexpr char kTwoUsers[] =
    "<users>"
    "<user username=\"alice\" password=\"D98C1DD404B2008F980980E97E42F8EC\" alias=\"Alice\" privilege=\"131074xyz\" "
    "work_dir=\"/srv/alice\" welcome_msg=\"hi\" disabled=\"no\"/>"
    "<user username=\"nohome\" password=\"X\" work_dir=\"\"/>"
    "<other username=\"ignored\" password=\"X\" work_dir=\"/x\"/>"
    "<user username=\"bob\" password=\"ABC\" work_dir=\"/srv/bob\" privilege=\"abc\" disabled=\"No\"/>"
    "</users>";

// The fake server side of the control block: a block and its mutex, as corveld holds them.
struct FakeServerBlock {
    std::optional<NamedMutex> mutex = NamedMutex::createOrOpen(names::kControlMutex);
    std::optional<SharedBlock> block = SharedBlock::createZeroed(names::kControlBlock, kControlBlockSize);
    std::uint32_t word() const { return readControlWord(block->data()); }
};

struct UserListEditorTest : ::testing::Test {
    ScratchProgramDirectory dir;
    RecordingBoxes boxes;
    UserListEditor editor{dir.directory(), boxes};

    UserInfoForm newUser(const char* name, const char* password = "secret") {
        UserInfoForm form;
        form.username = QString::fromLatin1(name);
        form.password = form.verify = QString::fromLatin1(password);
        form.home = QStringLiteral("/srv/") + form.username;
        return form;
    }
};

TEST_F(UserListEditorTest, LoadsCompleteAccountsInFileOrderWithLenientValues) {
    dir.write("ftpusers.xml", kTwoUsers);
    editor.load();
    ASSERT_EQ(editor.records().size(), 2u);
    const UserRecord& alice = editor.records()[0];
    EXPECT_EQ(alice.username, "alice");
    EXPECT_EQ(alice.alias, "Alice");
    EXPECT_EQ(alice.privilege, 131074);
    EXPECT_FALSE(alice.disabled);
    const UserRecord& bob = editor.records()[1];
    EXPECT_EQ(bob.privilege, 0);
    EXPECT_TRUE(bob.disabled);  // only the exact "no" is active
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(UserListEditorTest, MissingFileIsCreatedWithAnEmptyRoot) {
    editor.load();
    EXPECT_TRUE(editor.records().empty());
    EXPECT_EQ(dir.read("ftpusers.xml"), "<users />\n");
}

TEST_F(UserListEditorTest, NewAccountWithDefaultBoxesIsWrittenInAttributeOrder) {
    editor.load();
    UserInfoForm form = newUser("carol", "pw");
    form.description = QStringLiteral("Carol & co");
    form.welcomeMessage = QStringLiteral("hello");
    ASSERT_TRUE(editor.create(form));
    EXPECT_EQ(dir.read("ftpusers.xml"),
              "<users>\n    <user username=\"carol\" password=\"" + passwordDigest("pw") +
                  "\" alias=\"Carol &amp; co\" privilege=\"131074\" work_dir=\"/srv/carol\" "
                  "welcome_msg=\"hello\" disabled=\"no\" />\n</users>\n");
}

TEST_F(UserListEditorTest, NewAccountGetsArgon2idWhenThePasswordHashElementSaysSo) {
    dir.write("ftpconfig.xml", "<config><passwordhash>argon2id</passwordhash></config>");
    editor.load();
    ASSERT_TRUE(editor.create(newUser("carol", "pw")));
    const std::string stored = UsersFile::read(dir.file("ftpusers.xml")).accounts().at(0).password;
    EXPECT_TRUE(isArgon2idForm(stored)) << stored;
    EXPECT_TRUE(storedPasswordMatches(stored, "pw"));
    EXPECT_EQ(editor.records().at(0).password.toStdString(), stored);
}

TEST_F(UserListEditorTest, CodePageBytesOfOtherAccountsSurviveASave) {
    const std::string account =
        "<user username=\"jos\xE9\" password=\"X\" alias=\"Jos\xC3\xA9\" privilege=\"1\" "
        "work_dir=\"/srv/caf\xE9\" welcome_msg=\"\xA1hola!\" disabled=\"no\" />";
    dir.write("ftpusers.xml", "<users>\n    " + account + "\n</users>\n");
    editor.load();
    ASSERT_EQ(editor.records().size(), 1u);
    EXPECT_EQ(editor.records()[0].alias, QStringLiteral("Jos\u00E9"));
    ASSERT_TRUE(editor.create(newUser("carol")));
    EXPECT_EQ(dir.read("ftpusers.xml").find("<users>\n    " + account + "\n    <user username=\"carol\""), 0u);
}

TEST_F(UserListEditorTest, ExactDuplicateIsRefusedButACaseVariantIsAllowed) {
    dir.write("ftpusers.xml", kTwoUsers);
    editor.load();
    EXPECT_FALSE(editor.create(newUser("alice")));
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].title, "Error - CorvelFtp Server");
    EXPECT_EQ(boxes.shown[0].text, "User has already exists");
    EXPECT_EQ(dir.read("ftpusers.xml"), kTwoUsers);
    EXPECT_TRUE(editor.create(newUser("Alice")));
    EXPECT_EQ(editor.records().size(), 3u);
}

TEST_F(UserListEditorTest, ModifyKeepsNameAndPasswordAndRewritesDisabledAsYes) {
    dir.write("ftpusers.xml", kTwoUsers);
    editor.load();
    UserInfoForm form = userInfoFormFor(editor.records()[0]);
    form.username = QStringLiteral("mallory");
    form.password = form.verify = QStringLiteral("changed");
    form.description = QStringLiteral("New alias");
    form.privilege = 0x40000;
    form.disabled = true;
    ASSERT_TRUE(editor.modify(0, form));
    editor.load();
    const UserRecord& alice = editor.records()[0];
    EXPECT_EQ(alice.username, "alice");
    EXPECT_EQ(alice.password, "D98C1DD404B2008F980980E97E42F8EC");
    EXPECT_EQ(alice.alias, "New alias");
    EXPECT_EQ(alice.privilege, 0x40000);
    EXPECT_TRUE(alice.disabled);
    const std::string text = dir.read("ftpusers.xml");
    EXPECT_EQ(text.find("nohome"), std::string::npos);  // incomplete accounts are not kept
    EXPECT_NE(text.find("username=\"bob\" password=\"ABC\" alias=\"\" privilege=\"0\" work_dir=\"/srv/bob\" "
                        "welcome_msg=\"\" disabled=\"yes\""),
              std::string::npos);
}

TEST_F(UserListEditorTest, RemoveNeedsASelectionAndAYes) {
    dir.write("ftpusers.xml", kTwoUsers);
    editor.load();
    EXPECT_FALSE(editor.remove(-1));
    EXPECT_FALSE(editor.checkModifySelection(5));
    EXPECT_EQ(boxes.texts(), (std::vector<std::string>{"Please select the user which needs to remove",
                                                       "Please select the user which needs to modify"}));
    boxes.shown.clear();
    EXPECT_FALSE(editor.remove(1));  // answered No
    EXPECT_EQ(boxes.shown[0].title, "Remove User");
    EXPECT_EQ(boxes.shown[0].text, "Sure to remove the user?");
    EXPECT_EQ(dir.read("ftpusers.xml"), kTwoUsers);
    boxes.answers = {true, true};
    ASSERT_TRUE(editor.remove(1));
    ASSERT_TRUE(editor.remove(0));
    // The accounts are gone; an element the console does not know stays.
    EXPECT_EQ(dir.read("ftpusers.xml"), "<users>\n    <other username=\"ignored\" password=\"X\" work_dir=\"/x\" />\n</users>\n");
}

TEST_F(UserListEditorTest, MalformedFileIsReportedAndLeftUntouched) {
    const std::string broken = "<users><user username=\"a\" password=\"b\" work_dir=\"/c\"></users>";
    dir.write("ftpusers.xml", broken);
    editor.load();
    EXPECT_TRUE(editor.isReadOnly());
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_NE(boxes.shown[0].text.find("ftpusers.xml"), std::string::npos);
    EXPECT_FALSE(editor.create(newUser("dave")));
    EXPECT_EQ(dir.read("ftpusers.xml"), broken);
    EXPECT_FALSE(dir.exists("ftpusers.xml.broken"));
}

TEST_F(UserListEditorTest, WriteFailureIsReportedUndoneAndRequestsNoReload) {
    FakeServerBlock server;
    dir.write("ftpusers.xml", kTwoUsers);
    editor.load();
    // A directory in the file's place: the rename over it fails.
    std::filesystem::remove(dir.file("ftpusers.xml"));
    std::filesystem::create_directories(dir.file("ftpusers.xml/inside"));
    EXPECT_FALSE(editor.create(newUser("erin")));
    EXPECT_EQ(editor.records().size(), 2u);
    EXPECT_NE(boxes.shown.back().text.find("could not be written"), std::string::npos);
    EXPECT_EQ(server.word(), 0u);
}

TEST_F(UserListEditorTest, EverySaveAsksARunningServerToReloadUsers) {
    FakeServerBlock server;
    ASSERT_TRUE(server.block && server.mutex);
    writeControlWord(server.block->data(), 0x80);
    editor.load();
    ASSERT_TRUE(editor.create(newUser("frank")));
    EXPECT_EQ(server.word(), 0x80u | ReloadUsers);
}

TEST_F(UserListEditorTest, AReloadRequestThatTimesOutIsSaid) {
    FakeServerBlock server;
    std::optional<NamedMutex> holder = NamedMutex::openExisting(names::kControlMutex);
    ASSERT_TRUE(holder);
    NamedMutexLock held(*holder, 1000);
    ASSERT_TRUE(held.ownsLock());
    editor.load();
    ASSERT_TRUE(editor.create(newUser("gina")));  // saved all the same
    ASSERT_FALSE(boxes.shown.empty());
    EXPECT_NE(boxes.shown.back().text.find("did not take the reload request"), std::string::npos);
    EXPECT_EQ(server.word(), 0u);
}

TEST(ReloadRequest, WithoutAServerNothingIsCreated) {
    ScratchProgramDirectory dir;
    EXPECT_EQ(requestReload(ReloadAccess), ReloadOutcome::NoServer);
    EXPECT_FALSE(dir.exists("run/CORVELFTP_PIPE"));
}

TEST(ReloadRequest, ABusyControlBlockIsGivenUpAfterTheBound) {
    ScratchProgramDirectory dir;
    FakeServerBlock server;
    std::optional<NamedMutex> holder = NamedMutex::openExisting(names::kControlMutex);
    ASSERT_TRUE(holder);
    NamedMutexLock held(*holder, 1000);
    ASSERT_TRUE(held.ownsLock());
    EXPECT_EQ(requestReload(ReloadAccess, 50), ReloadOutcome::TimedOut);
    EXPECT_EQ(server.word(), 0u);
}

TEST(UserInfoChecks, RunInOrderAndModifyModeSkipsTheFixedFields) {
    RecordingBoxes boxes;
    UserInfoForm form;
    form.password = QStringLiteral("a");
    form.verify = QStringLiteral("b");
    EXPECT_FALSE(validateUserInfo(form, UserInfoMode::Create, boxes));
    form.username = QStringLiteral("u");
    EXPECT_FALSE(validateUserInfo(form, UserInfoMode::Create, boxes));
    form.password = form.verify = QString();
    EXPECT_FALSE(validateUserInfo(form, UserInfoMode::Create, boxes));
    form.password = form.verify = QStringLiteral("p");
    EXPECT_FALSE(validateUserInfo(form, UserInfoMode::Create, boxes));
    form.home = QStringLiteral("/h");
    EXPECT_TRUE(validateUserInfo(form, UserInfoMode::Create, boxes));
    EXPECT_EQ(boxes.texts(), (std::vector<std::string>{"Username can not be empty",
                                                       "Verify Password isn't equal with Password",
                                                       "Password can not be empty", "Home Directory can not be empty"}));
    EXPECT_EQ(boxes.shown[0].title, "User Information");
    EXPECT_EQ(boxes.shown[1].title, "Error - CorvelFtp Server");
    EXPECT_EQ(boxes.shown[3].title, "User Information");

    UserRecord record{QStringLiteral("x"), QStringLiteral("D"), {}, QStringLiteral("/h"), {}, 0, false};
    EXPECT_TRUE(validateUserInfo(userInfoFormFor(record), UserInfoMode::Modify, boxes));
    EXPECT_EQ(userInfoFormFor(record).password, "******");
    EXPECT_EQ(UserInfoForm().privilege, 131074);
}

TEST(UserInfoBrowse, CancelKeepsHomeFailureIsReportedAndPathsEndInASlash) {
    RecordingBoxes boxes;
    ScriptedPicker picker;
    EXPECT_FALSE(browseHomeDirectory(picker, boxes, {}));
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(picker.lastTitle, "Please User's Select Home Directory:");
    picker.answer = {FolderChoice::Outcome::Failed, {}};
    EXPECT_FALSE(browseHomeDirectory(picker, boxes, {}));
    EXPECT_EQ(boxes.texts(), std::vector<std::string>{"Get directory failed"});
    picker.answer = {FolderChoice::Outcome::Chosen, QStringLiteral("/srv/ftp")};
    EXPECT_EQ(browseHomeDirectory(picker, boxes, {}), QStringLiteral("/srv/ftp/"));
    picker.answer = {FolderChoice::Outcome::Chosen, QStringLiteral("/")};
    EXPECT_EQ(browseHomeDirectory(picker, boxes, {}), QStringLiteral("/"));
}

}  // namespace
}  // namespace corvel
