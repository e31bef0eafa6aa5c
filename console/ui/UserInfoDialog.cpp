#include "console/ui/UserInfoDialog.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "console/ui/Artwork.h"

namespace corvel {

FolderChoice QtFolderPicker::pickDirectory(const QString& title, const QString& startDirectory) {
    const QString path = QFileDialog::getExistingDirectory(owner_, title, startDirectory, QFileDialog::ShowDirsOnly);
    if (path.isEmpty()) return {FolderChoice::Outcome::Cancelled, {}};
    return {FolderChoice::Outcome::Chosen, path};
}

UserInfoDialog::UserInfoDialog(const UserRecord* record, QWidget* parent, MessageBoxPort& boxes,
                               UserFolderPicker& picker)
    : QDialog(parent), mode_(record ? UserInfoMode::Modify : UserInfoMode::Create), boxes_(boxes), picker_(picker) {
    setWindowTitle(QStringLiteral("User Information"));
    setWindowIcon(commandIcon(CommandPicture::Id));

    auto makeEdit = [this](const char* name) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QString::fromLatin1(name));
        return edit;
    };
    usernameEdit_ = makeEdit("usernameEdit");
    passwordEdit_ = makeEdit("passwordEdit");
    passwordEdit_->setEchoMode(QLineEdit::Password);
    verifyEdit_ = makeEdit("verifyEdit");
    verifyEdit_->setEchoMode(QLineEdit::Password);
    descriptionEdit_ = makeEdit("descriptionEdit");
    homeEdit_ = makeEdit("homeEdit");
    auto* browseButton = new QPushButton(style()->standardIcon(QStyle::SP_DirOpenIcon), QStringLiteral("&Browse..."), this);
    browseButton->setObjectName(QStringLiteral("browseButton"));
    auto* homeRow = new QHBoxLayout;
    homeRow->addWidget(homeEdit_, 1);
    homeRow->addWidget(browseButton);

    auto* fields = new QFormLayout;
    fields->addRow(QStringLiteral("Username:"), usernameEdit_);
    fields->addRow(QStringLiteral("Password:"), passwordEdit_);
    fields->addRow(QStringLiteral("Verify:"), verifyEdit_);
    fields->addRow(QStringLiteral("Description:"), descriptionEdit_);
    fields->addRow(QStringLiteral("Home:"), homeRow);

    auto* welcomeGroup = new QGroupBox(QStringLiteral("Welcome Message"), this);
    welcomeEdit_ = new QPlainTextEdit(welcomeGroup);
    welcomeEdit_->setObjectName(QStringLiteral("welcomeEdit"));
    welcomeEdit_->setTabChangesFocus(true);
    welcomeEdit_->setFixedHeight(70);
    (new QVBoxLayout(welcomeGroup))->addWidget(welcomeEdit_);

    auto* permissionGroup = new QGroupBox(QStringLiteral("Permissions"), this);
    auto* permissionGrid = new QGridLayout(permissionGroup);
    for (std::size_t i = 0; i < kPermissionBoxes.size(); ++i) {
        auto* check = new QCheckBox(QString::fromLatin1(kPermissionBoxes[i].label), permissionGroup);
        check->setObjectName(QString::fromLatin1(kPermissionBoxes[i].objectName));
        permissionGrid->addWidget(check, static_cast<int>(i / 3), static_cast<int>(i % 3));
        permissionChecks_[i] = check;
    }
    inactiveCheck_ = new QCheckBox(QStringLiteral("Inactive Accounts"), permissionGroup);
    inactiveCheck_->setObjectName(QStringLiteral("inactiveCheck"));
    permissionGrid->addWidget(inactiveCheck_, 2, 2);

    auto* okButton = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("&OK"), this);
    okButton->setObjectName(QStringLiteral("okButton"));
    okButton->setDefault(true);
    auto* cancelButton =
        new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), QStringLiteral("&Cancel"), this);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(okButton);
    buttons->addWidget(cancelButton);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addWidget(welcomeGroup);
    layout->addWidget(permissionGroup);
    layout->addLayout(buttons);

    connect(browseButton, &QPushButton::clicked, this, &UserInfoDialog::browse);
    connect(okButton, &QPushButton::clicked, this, &UserInfoDialog::accept);
    connect(cancelButton, &QPushButton::clicked, this, &UserInfoDialog::reject);

    const UserInfoForm initial = record ? userInfoFormFor(*record) : UserInfoForm();
    if (record) {
        usernameEdit_->setText(initial.username);
        passwordEdit_->setText(initial.password);
        verifyEdit_->setText(initial.verify);
        for (QLineEdit* fixed : {usernameEdit_, passwordEdit_, verifyEdit_}) fixed->setEnabled(false);
        descriptionEdit_->setText(initial.description);
        homeEdit_->setText(initial.home);
        welcomeEdit_->setPlainText(initial.welcomeMessage);
    }
    for (std::size_t i = 0; i < kPermissionBoxes.size(); ++i)
        permissionChecks_[i]->setChecked((static_cast<std::uint32_t>(initial.privilege) & kPermissionBoxes[i].bit) != 0);
    inactiveCheck_->setChecked(initial.disabled);
}

UserInfoForm UserInfoDialog::form() const {
    UserInfoForm form;
    form.username = usernameEdit_->text();
    form.password = passwordEdit_->text();
    form.verify = verifyEdit_->text();
    form.description = descriptionEdit_->text();
    form.home = homeEdit_->text();
    form.welcomeMessage = welcomeEdit_->toPlainText();
    std::uint32_t bits = 0;
    for (std::size_t i = 0; i < kPermissionBoxes.size(); ++i)
        if (permissionChecks_[i]->isChecked()) bits |= kPermissionBoxes[i].bit;
    form.privilege = static_cast<std::int32_t>(bits);
    form.disabled = inactiveCheck_->isChecked();
    return form;
}

void UserInfoDialog::accept() {
    if (validateUserInfo(form(), mode_, boxes_)) QDialog::accept();
}

void UserInfoDialog::browse() {
    if (std::optional<QString> home = browseHomeDirectory(picker_, boxes_, homeEdit_->text())) homeEdit_->setText(*home);
}

}  // namespace corvel
