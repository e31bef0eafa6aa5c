#include "console/logic/UserInfoForm.h"

namespace corvel {

UserInfoForm userInfoFormFor(const UserRecord& record) {
    UserInfoForm form;
    form.username = record.username;
    form.password = QString::fromLatin1(kPasswordMask);
    form.verify = form.password;
    form.description = record.alias;
    form.home = record.homeDirectory;
    form.welcomeMessage = record.welcomeMessage;
    form.privilege = record.privilege;
    form.disabled = record.disabled;
    return form;
}

bool validateUserInfo(const UserInfoForm& form, UserInfoMode mode, MessageBoxPort& prompt) {
    const QString infoTitle = QStringLiteral("User Information");
    const QString errorTitle = QString::fromLatin1(kErrorTitle);
    if (mode == UserInfoMode::Create) {
        if (form.username.isEmpty()) {
            showError(prompt, infoTitle, QStringLiteral("Username can not be empty"));
            return false;
        }
        if (form.password != form.verify) {
            showError(prompt, errorTitle, QStringLiteral("Verify Password isn't equal with Password"));
            return false;
        }
        if (form.password.isEmpty()) {
            showError(prompt, errorTitle, QStringLiteral("Password can not be empty"));
            return false;
        }
    }
    if (form.home.isEmpty()) {
        showError(prompt, infoTitle, QStringLiteral("Home Directory can not be empty"));
        return false;
    }
    return true;
}

std::optional<QString> browseHomeDirectory(UserFolderPicker& picker, MessageBoxPort& prompt, const QString& current) {
    const FolderChoice choice = picker.pickDirectory(QString::fromLatin1(kHomePickerTitle), current);
    if (choice.outcome == FolderChoice::Outcome::Cancelled) return std::nullopt;
    if (choice.outcome == FolderChoice::Outcome::Failed || choice.path.isEmpty()) {
        showError(prompt, QString::fromLatin1(kErrorTitle), QStringLiteral("Get directory failed"));
        return std::nullopt;
    }
    QString path = choice.path;
    if (!path.endsWith(QLatin1Char('/'))) path += QLatin1Char('/');
    return path;
}

}  // namespace corvel
