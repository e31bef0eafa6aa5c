// What a running corveld does with the files the dialogs write: accounts and the
// access policy take effect without a restart; settings after the restart the
// settings dialog asks for.
#include <gtest/gtest.h>

#include "console/logic/PolicyEditor.h"
#include "console/logic/SettingsEditor.h"
#include "console/logic/UserListEditor.h"
#include "tests/unit/console/UserServerProcess.h"

namespace corvel {
namespace {

using namespace corvel::testing;

// The server loop turns several times a second; this bounds "at its next turn".
constexpr int kTurnBoundMs = 3000;

TEST(DialogsWithServer, ACreatedAccountLogsInWithoutRestartAndRemovingItLocksItOut) {
    ScratchProgramDirectory dir;
    std::filesystem::create_directory(dir.file("bobhome"));
    ServerProcess server(dir);
    ASSERT_TRUE(server.start());
    RecordingBoxes boxes;
    UserListEditor users(dir.directory(), boxes);
    users.load();
    ASSERT_FALSE(ftpLogin(server.ftpPort, "bob", "s3cret"));

    UserInfoForm form;
    form.username = QStringLiteral("bob");
    form.password = form.verify = QStringLiteral("s3cret");
    form.home = QString::fromStdString(dir.file("bobhome/"));
    ASSERT_TRUE(users.create(form));
    EXPECT_TRUE(waitUntil([&] { return ftpLogin(server.ftpPort, "bob", "s3cret"); }, kTurnBoundMs));
    EXPECT_FALSE(ftpLogin(server.ftpPort, "bob", "wrong"));

    boxes.answers = {true};
    const int row = static_cast<int>(users.records().size()) - 1;
    ASSERT_TRUE(users.remove(row));
    EXPECT_TRUE(waitUntil([&] { return !ftpLogin(server.ftpPort, "bob", "s3cret"); }, kTurnBoundMs));
    EXPECT_TRUE(boxes.shown.size() == 1u) << "only the removal question";
}

TEST(DialogsWithServer, APermitListWithoutLoopbackClosesTheNextConnectionUngreeted) {
    ScratchProgramDirectory dir;
    ServerProcess server(dir);
    ASSERT_TRUE(server.start());
    RecordingBoxes boxes;
    PolicyEditor policy(dir.directory(), boxes);
    policy.load();
    policy.setType(PolicyType::Permit);
    ASSERT_TRUE(policy.append(QStringLiteral("10.*")));
    ASSERT_TRUE(policy.ok().close);
    EXPECT_TRUE(waitUntil(
        [&] {
            FtpClient client(server.ftpPort);
            return client.connected() && client.reply().empty();
        },
        kTurnBoundMs));
    EXPECT_TRUE(boxes.shown.empty());
}

TEST(DialogsWithServer, SavedSettingsServeOnTheNewPortAfterTheRestart) {
    ScratchProgramDirectory dir;
    ServerProcess server(dir);
    ASSERT_TRUE(server.start());
    RecordingBoxes boxes;
    SettingsEditor settings(dir.directory(), boxes);
    settings.load();
    SettingsForm form = settings.form();
    const int newPort = freeLoopbackPort();
    form.ftpPort = QString::number(newPort);
    form.welcomeMessage = QStringLiteral("first\nsecond");
    settings.change(form);
    boxes.answers = {true};
    const SettingsStep step = settings.ok();
    ASSERT_TRUE(step.restartServer);

    // The restart as the console performs it: stop event, then a new server.
    ASSERT_TRUE(server.stopByEvent());
    server.ftpPort = newPort;
    ASSERT_TRUE(server.start());
    FtpClient client(newPort);
    EXPECT_NE(client.reply().find("220- first\r\nsecond\r\n220 \r\n"), std::string::npos);
}

}  // namespace
}  // namespace corvel
