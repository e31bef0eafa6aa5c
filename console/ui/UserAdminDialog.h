// The "User Administration" dialog: lists the accounts of ftpusers.xml and creates,
// modifies and removes them; every change is written at once and the running server
// is asked to reload the file.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QImage>
#include <QString>

#include <memory>

#include "console/logic/UserListEditor.h"

class QTreeWidget;

namespace corvel {

// The list's account picture, size x size pixels: a person in blue, or in grey with a
// red bar when the account is disabled.
QImage userAccountImage(bool disabled, int size);

class UserAdminDialog : public QDialog {
    Q_OBJECT
public:
    // programDirectory ends with '/'; the XML files live there. boxes and picker answer
    // the message boxes and the folder picker (nullptr: the real ones over this
    // dialog). Loads the list at once.
    UserAdminDialog(const QString& programDirectory, QWidget* parent, MessageBoxPort* boxes = nullptr,
                    UserFolderPicker* picker = nullptr);
    ~UserAdminDialog() override;

    const UserListEditor& editor() const { return editor_; }

private slots:
    void createUser();
    void modifyUser();
    void removeUser();

private:
    void showRecords(int selectedRow);
    int selectedRow() const;

    std::unique_ptr<MessageBoxPort> ownBoxes_;
    MessageBoxPort& boxes_;
    std::unique_ptr<UserFolderPicker> ownPicker_;
    UserFolderPicker& picker_;
    UserListEditor editor_;
    QIcon activeIcon_;
    QIcon disabledIcon_;
    QTreeWidget* list_ = nullptr;
};

}  // namespace corvel
