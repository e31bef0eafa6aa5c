#include "console/logic/UserListEditor.h"

#include <QFile>

#include "admin/ReloadRequest.h"
#include "config/SettingsFile.h"
#include "accounts/StoredPassword.h"
#include "common/XmlFiles.h"
#include "console/logic/FileText.h"

namespace corvel {
namespace {

void reportLocked(MessageBoxPort& prompt) {
    showError(prompt, QString::fromLatin1(kErrorTitle),
              QStringLiteral("%1 is locked by another program; try again later.")
                  .arg(QString::fromLatin1(kUsersFileName)));
}

UserRecord recordOf(const UserAccount& account) {
    UserRecord record;
    record.username = textFromFileBytes(account.username);
    record.password = textFromFileBytes(account.password);
    record.alias = textFromFileBytes(account.alias);
    record.homeDirectory = textFromFileBytes(account.workDir);
    record.welcomeMessage = textFromFileBytes(account.welcomeMessage);
    record.privilege = account.privilege;
    record.disabled = account.disabled;
    return record;
}

UserAccount accountOf(const UserRecord& record, int element) {
    UserAccount account;
    account.username = fileBytesFromText(record.username);
    account.password = fileBytesFromText(record.password);
    account.alias = fileBytesFromText(record.alias);
    account.workDir = fileBytesFromText(record.homeDirectory);
    account.welcomeMessage = fileBytesFromText(record.welcomeMessage);
    account.privilege = record.privilege;
    account.disabled = record.disabled;
    account.element = element;
    return account;
}

}  // namespace

UserListEditor::UserListEditor(const QString& programDirectory, MessageBoxPort& prompt)
    : path_(programDirectory + QString::fromLatin1(kUsersFileName)),
      settingsPath_(programDirectory + QString::fromLatin1(kSettingsFileName)),
      prompt_(prompt) {}

void UserListEditor::load() {
    records_.clear();
    elements_.clear();
    file_.reset();
    readOnly_ = false;
    const std::string path = QFile::encodeName(path_).toStdString();
    UsersFileLock lock(kUsersFileWaitMs);
    if (!lock.held()) {
        readOnly_ = true;
        reportLocked(prompt_);
        return;
    }
    UsersFile file = UsersFile::read(path);
    if (file.status() == FileRead::Unreadable) {
        readOnly_ = true;
        reportUnreadableFile(prompt_, QString::fromLatin1(kUsersFileName), QString::fromUtf8(file.error().c_str()),
                             file.errorLine());
        return;
    }
    if (file.status() == FileRead::Missing) {
        file = UsersFile::empty();
        if (!file.save(path)) reportWriteFailure(prompt_, QString::fromLatin1(kErrorTitle), path_);
    }
    for (const UserAccount& account : file.accounts()) {
        records_.push_back(recordOf(account));
        elements_.push_back(account.element);
    }
    file_.emplace(std::move(file));
}

bool UserListEditor::saveRecords(const std::vector<UserRecord>& records, const std::vector<int>& elements) {
    const std::string path = QFile::encodeName(path_).toStdString();
    {
        UsersFileLock lock(kUsersFileWaitMs);
        if (!lock.held()) {
            reportLocked(prompt_);
            return false;
        }
        UsersFile next = file_ ? file_->copy() : UsersFile::empty();
        std::vector<UserAccount> accounts;
        for (std::size_t i = 0; i < records.size(); ++i) accounts.push_back(accountOf(records[i], elements[i]));
        next.replaceAccounts(accounts);
        if (!next.save(path)) {
            reportWriteFailure(prompt_, QString::fromLatin1(kErrorTitle), path_);
            return false;
        }
        file_.emplace(std::move(next));
    }
    // Lock order as in the server: the users-file mutex is released before the
    // control block's mutex is taken.
    if (requestReload(ReloadUsers) == ReloadOutcome::TimedOut)
        reportReloadTimedOut(prompt_, QString::fromLatin1(kErrorTitle), QString::fromLatin1(kUsersFileName));
    return true;
}

bool UserListEditor::commit(std::vector<UserRecord> records, std::vector<int> elements) {
    if (readOnly_) {
        reportLeftUnchanged(prompt_, QString::fromLatin1(kErrorTitle), path_);
        return false;
    }
    if (!saveRecords(records, elements)) return false;
    records_ = std::move(records);
    // The file now holds the records' elements in their order.
    elements_.clear();
    for (std::size_t i = 0; i < records_.size(); ++i) elements_.push_back(static_cast<int>(i));
    return true;
}

bool UserListEditor::create(const UserInfoForm& form) {
    for (const UserRecord& record : records_) {
        if (record.username == form.username) {
            showError(prompt_, QString::fromLatin1(kErrorTitle), QStringLiteral("User has already exists"));
            return false;
        }
    }
    // Stored as ftpconfig.xml's <passwordhash> says, as the server stores a changed one.
    const SettingsFile settings = SettingsFile::read(QFile::encodeName(settingsPath_).toStdString());
    const PasswordScheme scheme = settings.loaded() ? passwordSchemeOf(settings) : PasswordScheme::Designed;
    const std::optional<std::string> stored = storedPasswordFor(form.password.toStdString(), scheme);
    if (!stored) {
        showError(prompt_, QString::fromLatin1(kErrorTitle),
                  QStringLiteral("The password could not be stored: the system gave no random salt"));
        return false;
    }
    UserRecord record;
    record.username = form.username;
    record.password = QString::fromStdString(*stored);
    record.alias = form.description;
    record.homeDirectory = form.home;
    record.welcomeMessage = form.welcomeMessage;
    record.privilege = form.privilege;
    record.disabled = form.disabled;
    std::vector<UserRecord> changed = records_;
    changed.push_back(std::move(record));
    std::vector<int> elements = elements_;
    elements.push_back(-1);
    return commit(std::move(changed), std::move(elements));
}

bool UserListEditor::checkSelection(int row, const char* message) {
    if (row >= 0 && static_cast<std::size_t>(row) < records_.size()) return true;
    showError(prompt_, QString::fromLatin1(kErrorTitle), QString::fromLatin1(message));
    return false;
}

bool UserListEditor::checkModifySelection(int row) {
    return checkSelection(row, "Please select the user which needs to modify");
}

bool UserListEditor::modify(int row, const UserInfoForm& form) {
    if (!checkModifySelection(row)) return false;
    std::vector<UserRecord> changed = records_;
    UserRecord& record = changed[static_cast<std::size_t>(row)];
    record.alias = form.description;
    record.homeDirectory = form.home;
    record.welcomeMessage = form.welcomeMessage;
    record.privilege = form.privilege;
    record.disabled = form.disabled;
    return commit(std::move(changed), elements_);
}

bool UserListEditor::remove(int row) {
    if (!checkSelection(row, "Please select the user which needs to remove")) return false;
    if (!askYesNo(prompt_, QStringLiteral("Remove User"), QStringLiteral("Sure to remove the user?"))) return false;
    std::vector<UserRecord> changed = records_;
    changed.erase(changed.begin() + row);
    std::vector<int> elements = elements_;
    elements.erase(elements.begin() + row);
    return commit(std::move(changed), std::move(elements));
}

}  // namespace corvel
