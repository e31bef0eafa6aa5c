// The account list behind the "User Administration" dialog: loads ftpusers.xml,
// creates, modifies and removes accounts, rewrites the file after every change and
// asks a running server to reload it.
#pragma once

#include <QString>

#include <optional>
#include <vector>

#include "config/UsersFile.h"
#include "console/logic/UserInfoForm.h"
#include "console/logic/UserPrompt.h"

namespace corvel {

// Longest wait for the users-file mutex, which the server holds only while it reads
// the file (milliseconds). A longer hold is reported instead of freezing the console.
inline constexpr int kUsersFileWaitMs = 10000;

// Owned by one dialog, used on the user-interface thread. The file is read and
// written under the LUMOXMLUSERTABLE mutex, every write replaces it atomically, and a
// change that could not be written is undone in the list and reported.
class UserListEditor {
public:
    // programDirectory ends with '/'.
    UserListEditor(const QString& programDirectory, MessageBoxPort& prompt);

    // Reads the accounts that have a name, a password and a home directory, in file
    // order. A missing file is created holding an empty root. A file that exists but
    // is not readable XML (or stays locked) is reported and the editor is read-only:
    // nothing is ever written over it from this dialog.
    void load();

    const std::vector<UserRecord>& records() const { return records_; }
    bool isReadOnly() const { return readOnly_; }
    QString path() const { return path_; }

    // Adds an account from the info dialog's OK (the password is stored in the form
    // ftpconfig.xml's <passwordhash> names). Refuses an exact duplicate name with "User has already exists". true
    // when the account was added and the file written.
    bool create(const UserInfoForm& form);

    // "Please select the user which needs to modify" when row is not a listed row.
    bool checkModifySelection(int row);
    // Copies description, home, welcome message, privilege and disabled into the
    // row's record (name and password stay) and saves. true when written.
    bool modify(int row, const UserInfoForm& form);

    // Checks the selection, asks "Sure to remove the user?", deletes and saves.
    bool remove(int row);

private:
    bool checkSelection(int row, const char* message);
    // Writes records to the file and requests the reload; reports a failure.
    bool saveRecords(const std::vector<UserRecord>& records, const std::vector<int>& elements);
    bool commit(std::vector<UserRecord> records, std::vector<int> elements);

    QString path_;
    QString settingsPath_;  // ftpconfig.xml, for how a new password is stored
    MessageBoxPort& prompt_;
    std::vector<UserRecord> records_;
    // For each record, the file's user element it came from (-1: new), so a save keeps
    // what else that element holds.
    std::vector<int> elements_;
    // The file as last read or written; a save changes a copy of it.
    std::optional<UsersFile> file_;
    bool readOnly_ = false;
};

}  // namespace corvel
