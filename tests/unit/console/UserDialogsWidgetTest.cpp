// The three editing dialogs as widgets, without a display: what their controls show
// after loading, the Apply button's state, object names, and (when
// CORVEL_SCREENSHOT_DIR is set) their pictures for the documentation, the settings
// dialog's Encryption and Network tabs included.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeWidget>

#include <cstdlib>

#include "console/ui/PolicyDialog.h"
#include "console/ui/SettingsDialog.h"
#include "console/ui/UserAdminDialog.h"
#include "console/ui/UserInfoDialog.h"
#include "tests/unit/console/GuiApplication.h"
#include "tests/unit/console/UserTestSupport.h"

namespace corvel {
namespace {

using testing::RecordingBoxes;
using testing::ScratchProgramDirectory;
using testing::ScriptedPicker;

template <typename T>
T* child(QWidget& dialog, const char* name) {
    T* found = dialog.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

// The parts Qt builds inside a combo box or an item view are theirs, not ours.
bool insideCompositeControl(const QWidget* widget) {
    for (const QWidget* parent = widget->parentWidget(); parent; parent = parent->parentWidget())
        if (qobject_cast<const QComboBox*>(parent) || qobject_cast<const QAbstractItemView*>(parent)) return true;
    return false;
}

void expectNamedControls(QWidget& dialog) {
    for (QWidget* widget : dialog.findChildren<QWidget*>()) {
        const bool interactive = qobject_cast<QAbstractButton*>(widget) || qobject_cast<QComboBox*>(widget) ||
                                 qobject_cast<QPlainTextEdit*>(widget) || qobject_cast<QAbstractItemView*>(widget) ||
                                 qobject_cast<QLineEdit*>(widget);
        if (interactive && !insideCompositeControl(widget)) {
            EXPECT_FALSE(widget->objectName().isEmpty()) << widget->metaObject()->className();
        }
    }
}

void saveScreenshot(QWidget& dialog, const char* fileName) {
    const char* directory = std::getenv("CORVEL_SCREENSHOT_DIR");
    if (!directory) return;
    dialog.show();
    QApplication::processEvents();
    EXPECT_TRUE(dialog.grab().save(QString::fromLocal8Bit(directory) + QLatin1Char('/') + QString::fromLatin1(fileName)));
}

struct DialogWidgetTest : ::testing::Test {
    DialogWidgetTest() { guiApplication(); }
    ScratchProgramDirectory dir;
    RecordingBoxes boxes;
};

TEST_F(DialogWidgetTest, SettingsDialogShowsTheFileAndEnablesApplyOnlyAfterAChange) {
    dir.write("ftpconfig.xml",
              "<config><listenip>127.0.0.1</listenip><ftpport>2121</ftpport><httpport>8080</httpport>"
              "<maxconn/><pasvmode>yes</pasvmode><welcomemsg>Welcome to my ftp server</welcomemsg></config>");
    SettingsDialog dialog(dir.directory(), nullptr, &boxes);
    EXPECT_EQ(dialog.windowTitle(), "Basic Setting");
    EXPECT_EQ(child<QLineEdit>(dialog, "ftpPortEdit")->text(), "2121");
    EXPECT_EQ(child<QLineEdit>(dialog, "maxConnectionsEdit")->text(), "256");
    EXPECT_TRUE(child<QCheckBox>(dialog, "passiveCheck")->isChecked());
    EXPECT_EQ(child<QComboBox>(dialog, "addressCombo")->currentText(), "127.0.0.1");
    EXPECT_TRUE(child<QComboBox>(dialog, "addressCombo")->isEnabled());
    QPushButton* apply = child<QPushButton>(dialog, "applyButton");
    EXPECT_FALSE(apply->isEnabled());
    expectNamedControls(dialog);
    saveScreenshot(dialog, "dialog-settings.png");

    child<QToolButton>(dialog, "maxConnectionsUp")->click();
    EXPECT_EQ(child<QLineEdit>(dialog, "maxConnectionsEdit")->text(), "0");
    EXPECT_TRUE(apply->isEnabled());
    child<QCheckBox>(dialog, "bindCheck")->click();
    EXPECT_FALSE(child<QComboBox>(dialog, "addressCombo")->isEnabled());
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(DialogWidgetTest, SettingsDialogTabsShowTheExtensionsAndApplySavesThem) {
    dir.write("ftpconfig.xml", "<config><ftpport>2121</ftpport><httpport>8080</httpport><maxconn>5</maxconn>"
                               "<tls>explicit</tls><pasvports>50000-50099</pasvports><ftpext>yes</ftpext>"
                               "<webext>yes</webext><webapp>yes</webapp><webcharset>utf-8</webcharset></config>");
    SettingsDialog dialog(dir.directory(), nullptr, &boxes);
    auto* tabs = child<QTabWidget>(dialog, "settingsTabs");
    ASSERT_EQ(tabs->count(), 3);
    EXPECT_EQ(tabs->tabText(0), "General");
    EXPECT_EQ(tabs->tabText(1), "Encryption");
    EXPECT_EQ(tabs->tabText(2), "Network");
    EXPECT_EQ(child<QComboBox>(dialog, "tlsModeCombo")->currentText(), "explicit");
    EXPECT_TRUE(child<QCheckBox>(dialog, "tlsReuseCheck")->isChecked());
    EXPECT_EQ(child<QLineEdit>(dialog, "certificateLine")->text(), "Made on first start");
    QLineEdit* ports = child<QLineEdit>(dialog, "passivePortsEdit");
    EXPECT_EQ(ports->text(), "50000-50099");
    EXPECT_TRUE(child<QCheckBox>(dialog, "ftpExtensionsCheck")->isChecked());
    EXPECT_EQ(child<QLineEdit>(dialog, "webCharsetEdit")->text(), "utf-8");
    QPlainTextEdit* hostKeys = child<QPlainTextEdit>(dialog, "hostKeyText");
    EXPECT_TRUE(hostKeys->isReadOnly());
    EXPECT_EQ(hostKeys->toPlainText(), "No SFTP port");
    EXPECT_TRUE(child<QCheckBox>(dialog, "webAppCheck")->isChecked());
    tabs->setCurrentIndex(1);
    saveScreenshot(dialog, "dialog-settings-encryption.png");
    tabs->setCurrentIndex(2);
    saveScreenshot(dialog, "dialog-settings-network.png");
    ports->setText(QStringLiteral("50000-50001"));
    boxes.answers = {true};
    child<QPushButton>(dialog, "applyButton")->click();
    const std::string saved = dir.read("ftpconfig.xml");
    EXPECT_NE(saved.find("<pasvports>50000-50001</pasvports>"), std::string::npos) << saved;
    EXPECT_NE(saved.find("<tls>explicit</tls>"), std::string::npos);
    EXPECT_EQ(saved.find("tlsreuse"), std::string::npos);
    // The host keys follow the saved file: with an SFTP port, the two made on first start.
    child<QLineEdit>(dialog, "sftpPortEdit")->setText(QStringLiteral("2222"));
    boxes.answers = {true};
    child<QPushButton>(dialog, "applyButton")->click();
    EXPECT_TRUE(hostKeys->toPlainText().startsWith("Made on first start (")) << hostKeys->toPlainText().toStdString();
    EXPECT_EQ(hostKeys->toPlainText().count(QLatin1Char('\n')), 1);
}

TEST_F(DialogWidgetTest, SettingsDialogOnAMalformedFileOffersNoEditing) {
    dir.write("ftpconfig.xml", "<config>");
    SettingsDialog dialog(dir.directory(), nullptr, &boxes);
    EXPECT_EQ(boxes.shown.size(), 1u);
    EXPECT_FALSE(child<QLineEdit>(dialog, "ftpPortEdit")->isEnabled());
    EXPECT_FALSE(child<QLineEdit>(dialog, "passivePortsEdit")->isEnabled());
}

TEST_F(DialogWidgetTest, UserAdminDialogListsAccountsWithTheirState) {
    dir.write("ftpusers.xml",
              "<users><user username=\"anonymous\" password=\"anonymous\" alias=\"anonymous\" privilege=\"131074\" "
              "work_dir=\"/srv/ftp/anonymous\" welcome_msg=\"\" disabled=\"no\"/>"
              "<user username=\"alice\" password=\"D98C1DD404B2008F980980E97E42F8EC\" alias=\"Accounts team\" "
              "privilege=\"196623\" work_dir=\"/srv/ftp/alice/\" welcome_msg=\"\" disabled=\"no\"/>"
              "<user username=\"guest\" password=\"D98C1DD404B2008F980980E97E42F8EC\" alias=\"Former guest\" "
              "privilege=\"131074\" work_dir=\"/srv/ftp/guest/\" welcome_msg=\"\" disabled=\"yes\"/></users>");
    UserAdminDialog dialog(dir.directory(), nullptr, &boxes);
    EXPECT_EQ(dialog.windowTitle(), "User Administration");
    QTreeWidget* list = child<QTreeWidget>(dialog, "userList");
    ASSERT_EQ(list->topLevelItemCount(), 3);
    EXPECT_EQ(list->headerItem()->text(2), "Home Directory");
    EXPECT_EQ(list->topLevelItem(1)->text(1), "Accounts team");
    EXPECT_FALSE(list->topLevelItem(2)->icon(0).isNull());
    EXPECT_NE(userAccountImage(true, 16), userAccountImage(false, 16));
    expectNamedControls(dialog);
    list->setCurrentItem(list->topLevelItem(1));
    saveScreenshot(dialog, "dialog-users.png");
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(DialogWidgetTest, UserInfoDialogStartsWithListAndReadOrTheRecordsFixedFields) {
    ScriptedPicker picker;
    UserInfoDialog create(nullptr, nullptr, boxes, picker);
    EXPECT_EQ(create.form().privilege, 131074);
    EXPECT_TRUE(child<QLineEdit>(create, "usernameEdit")->isEnabled());
    expectNamedControls(create);

    const UserRecord record{QStringLiteral("alice"), QStringLiteral("D98C"), QStringLiteral("A"),
                            QStringLiteral("/srv/a/"), {}, 0x40008, true};
    UserInfoDialog modify(&record, nullptr, boxes, picker);
    EXPECT_FALSE(child<QLineEdit>(modify, "passwordEdit")->isEnabled());
    EXPECT_EQ(child<QLineEdit>(modify, "passwordEdit")->text(), "******");
    EXPECT_TRUE(child<QCheckBox>(modify, "removeDirectoryCheck")->isChecked());
    EXPECT_TRUE(child<QCheckBox>(modify, "inactiveCheck")->isChecked());
    EXPECT_EQ(modify.form().privilege, 0x40008);

    picker.answer = {FolderChoice::Outcome::Chosen, QStringLiteral("/srv/b")};
    child<QPushButton>(modify, "browseButton")->click();
    EXPECT_EQ(child<QLineEdit>(modify, "homeEdit")->text(), "/srv/b/");
}

TEST_F(DialogWidgetTest, PolicyDialogStartsUnchosenForANewFileAndAppendsInOrder) {
    PolicyDialog dialog(dir.directory(), nullptr, &boxes);
    EXPECT_EQ(dialog.windowTitle(), "Policy");
    EXPECT_FALSE(child<QRadioButton>(dialog, "rejectRadio")->isChecked());
    EXPECT_FALSE(child<QRadioButton>(dialog, "permitRadio")->isChecked());
    QLineEdit* edit = child<QLineEdit>(dialog, "addressEdit");
    for (const char* address : {"127.0.0.1", "192.168.1.*", "10.0.0.?"}) {
        edit->setText(QString::fromLatin1(address));
        child<QPushButton>(dialog, "appendButton")->click();
    }
    EXPECT_TRUE(edit->text().isEmpty());
    child<QRadioButton>(dialog, "permitRadio")->click();
    child<QRadioButton>(dialog, "rejectRadio")->click();
    EXPECT_FALSE(child<QRadioButton>(dialog, "permitRadio")->isChecked());
    child<QRadioButton>(dialog, "permitRadio")->click();
    QListWidget* list = child<QListWidget>(dialog, "addressList");
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->item(2)->text(), "10.0.0.?");
    EXPECT_TRUE(child<QPushButton>(dialog, "applyButton")->isEnabled());
    expectNamedControls(dialog);
    list->setCurrentRow(1);
    saveScreenshot(dialog, "dialog-policy.png");
    EXPECT_TRUE(boxes.shown.empty());
}

}  // namespace
}  // namespace corvel
