// The "User Information" dialog: the fields of one account, for a new account
// (create mode) or an existing one whose name and password stay fixed (modify mode).
#pragma once

#include <QDialog>

#include <array>

#include "console/logic/UserFolderPicker.h"
#include "console/logic/UserInfoForm.h"

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;

namespace corvel {

// The system's folder picker (directories only), owned by the dialog it opens over.
class QtFolderPicker : public UserFolderPicker {
public:
    explicit QtFolderPicker(QWidget* owner) : owner_(owner) {}
    // An empty answer from the picker counts as cancelled.
    FolderChoice pickDirectory(const QString& title, const QString& startDirectory) override;

private:
    QWidget* owner_;
};

class UserInfoDialog : public QDialog {
    Q_OBJECT
public:
    // Create mode when record is nullptr, else modify mode on *record. boxes and
    // picker must outlive the dialog.
    UserInfoDialog(const UserRecord* record, QWidget* parent, MessageBoxPort& boxes, UserFolderPicker& picker);

    // The entered values; meaningful after the dialog closed with OK.
    UserInfoForm form() const;
    UserInfoMode mode() const { return mode_; }

public slots:
    void accept() override;  // runs the checks; stays open on the first failure

private:
    void browse();

    UserInfoMode mode_;
    MessageBoxPort& boxes_;
    UserFolderPicker& picker_;
    QLineEdit* usernameEdit_ = nullptr;
    QLineEdit* passwordEdit_ = nullptr;
    QLineEdit* verifyEdit_ = nullptr;
    QLineEdit* descriptionEdit_ = nullptr;
    QLineEdit* homeEdit_ = nullptr;
    QPlainTextEdit* welcomeEdit_ = nullptr;
    std::array<QCheckBox*, kPermissionBoxes.size()> permissionChecks_{};
    QCheckBox* inactiveCheck_ = nullptr;
};

}  // namespace corvel
