#include "console/logic/UserListEditor.h"

#include <QFile>

#include <tinyxml.h>

#include "accounts/XmlStore.h"
#include "common/DecimalText.h"
#include "common/NamedObjectNames.h"
#include "common/PasswordDigest.h"
#include "common/XmlFiles.h"
#include "common/XmlText.h"
#include "console/logic/FileText.h"
#include "console/logic/ReloadRequest.h"
#include "platform/AtomicFile.h"
#include "platform/NamedObjects.h"

namespace corvel {
namespace {

QString attributeText(const TiXmlElement* element, const char* name) {
    const char* value = element->Attribute(name);
    return value ? textFromFileBytes(value) : QString();
}

void reportLocked(MessageBoxPort& prompt) {
    showError(prompt, QString::fromLatin1(kErrorTitle),
                     QStringLiteral("%1 is locked by another program; try again later.")
                         .arg(QString::fromLatin1(kUsersFileName)));
}

}  // namespace

UserListEditor::UserListEditor(const QString& programDirectory, MessageBoxPort& prompt)
    : path_(programDirectory + QString::fromLatin1(kUsersFileName)), prompt_(prompt) {}

void UserListEditor::load() {
    records_.clear();
    readOnly_ = false;
    const std::string path = QFile::encodeName(path_).toStdString();
    std::optional<NamedMutex> fileMutex = NamedMutex::createOrOpen(names::kUsersFileMutex);
    std::optional<NamedMutexLock> held;
    if (fileMutex) held.emplace(*fileMutex, kUsersFileWaitMs);
    if (!held || !held->ownsLock()) {
        readOnly_ = true;
        reportLocked(prompt_);
        return;
    }

    TiXmlDocument doc;
    const EditorLoad loaded = loadForEditing(doc, path, kUsersFileName, prompt_);
    if (loaded == EditorLoad::Unreadable) {
        readOnly_ = true;
        return;
    }
    if (loaded == EditorLoad::Missing) {
        TiXmlDocument empty;
        parseXmlText(empty, "<users></users>");
        if (!saveAtomically(empty, path, kPrivateFileMode)) reportWriteFailure(prompt_, QString::fromLatin1(kErrorTitle), path_);
        return;
    }
    const TiXmlElement* root = doc.RootElement();
    if (!root) return;
    for (const TiXmlElement* user = root->FirstChildElement("user"); user; user = user->NextSiblingElement("user")) {
        UserRecord record;
        record.username = attributeText(user, "username");
        record.password = attributeText(user, "password");
        record.alias = attributeText(user, "alias");
        record.welcomeMessage = attributeText(user, "welcome_msg");
        record.homeDirectory = attributeText(user, "work_dir");
        record.privilege = static_cast<std::int32_t>(scanDecimal(attributeText(user, "privilege").toStdString()));
        const char* disabled = user->Attribute("disabled");
        record.disabled = disabled && std::string(disabled) != "no";
        if (!record.username.isEmpty() && !record.password.isEmpty() && !record.homeDirectory.isEmpty())
            records_.push_back(std::move(record));
    }
}

bool UserListEditor::saveRecords(const std::vector<UserRecord>& records) {
    const std::string path = QFile::encodeName(path_).toStdString();
    {
        std::optional<NamedMutex> fileMutex = NamedMutex::createOrOpen(names::kUsersFileMutex);
        std::optional<NamedMutexLock> held;
        if (fileMutex) held.emplace(*fileMutex, kUsersFileWaitMs);
        if (!held || !held->ownsLock()) {
            reportLocked(prompt_);
            return false;
        }
        TiXmlDocument doc;
        parseXmlText(doc, "<users></users>");
        TiXmlElement& root = *doc.RootElement();
        for (const UserRecord& record : records) {
            TiXmlElement user("user");
            user.SetAttribute("username", fileBytesFromText(record.username));
            user.SetAttribute("password", fileBytesFromText(record.password));
            user.SetAttribute("alias", fileBytesFromText(record.alias));
            user.SetAttribute("privilege", std::to_string(record.privilege));
            user.SetAttribute("work_dir", fileBytesFromText(record.homeDirectory));
            user.SetAttribute("welcome_msg", fileBytesFromText(record.welcomeMessage));
            user.SetAttribute("disabled", record.disabled ? "yes" : "no");
            root.InsertEndChild(user);
        }
        if (!saveAtomically(doc, path, kPrivateFileMode)) {
            reportWriteFailure(prompt_, QString::fromLatin1(kErrorTitle), path_);
            return false;
        }
    }
    // Lock order as in the server: the users-file mutex is released before the
    // control block's mutex is taken.
    if (requestReload(ReloadUsers) == ReloadOutcome::TimedOut)
        reportReloadTimedOut(prompt_, QString::fromLatin1(kErrorTitle), QString::fromLatin1(kUsersFileName));
    return true;
}

bool UserListEditor::commit(std::vector<UserRecord> records) {
    if (readOnly_) {
        reportLeftUnchanged(prompt_, QString::fromLatin1(kErrorTitle), path_);
        return false;
    }
    if (!saveRecords(records)) return false;
    records_ = std::move(records);
    return true;
}

bool UserListEditor::create(const UserInfoForm& form) {
    for (const UserRecord& record : records_) {
        if (record.username == form.username) {
            showError(prompt_, QString::fromLatin1(kErrorTitle), QStringLiteral("User has already exists"));
            return false;
        }
    }
    UserRecord record;
    record.username = form.username;
    record.password = QString::fromStdString(passwordDigest(form.password.toStdString()));
    record.alias = form.description;
    record.homeDirectory = form.home;
    record.welcomeMessage = form.welcomeMessage;
    record.privilege = form.privilege;
    record.disabled = form.disabled;
    std::vector<UserRecord> changed = records_;
    changed.push_back(std::move(record));
    return commit(std::move(changed));
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
    return commit(std::move(changed));
}

bool UserListEditor::remove(int row) {
    if (!checkSelection(row, "Please select the user which needs to remove")) return false;
    if (!askYesNo(prompt_, QStringLiteral("Remove User"), QStringLiteral("Sure to remove the user?"))) return false;
    std::vector<UserRecord> changed = records_;
    changed.erase(changed.begin() + row);
    return commit(std::move(changed));
}

}  // namespace corvel
