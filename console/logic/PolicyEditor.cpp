#include "console/logic/PolicyEditor.h"

#include <QFile>

#include "admin/ReloadRequest.h"
#include "common/XmlFiles.h"
#include "console/logic/FileText.h"

namespace corvel {

PolicyEditor::PolicyEditor(const QString& programDirectory, MessageBoxPort& prompt)
    : path_(programDirectory + QString::fromLatin1(kAccessFileName)), prompt_(prompt) {}

void PolicyEditor::load() {
    type_ = PolicyType::Unset;
    entries_.clear();
    modified_ = false;
    readOnly_ = false;
    file_.reset();
    const std::string path = QFile::encodeName(path_).toStdString();
    AccessFile file = AccessFile::read(path);
    if (file.status() == FileRead::Unreadable) {
        readOnly_ = true;
        reportUnreadableFile(prompt_, QString::fromLatin1(kAccessFileName), QString::fromUtf8(file.error().c_str()),
                             file.errorLine());
        return;
    }
    if (file.status() == FileRead::Missing) {
        // The default document is written, and the dialog opens with no type chosen.
        file = AccessFile::defaultDocument();
        if (!file.save(path)) reportWriteFailure(prompt_, QString::fromLatin1(kErrorTitle), path_);
        file_.emplace(std::move(file));
        return;
    }
    switch (file.mode()) {
        case AccessMode::NoTable: break;
        case AccessMode::Reject: type_ = PolicyType::Reject; break;
        case AccessMode::Permit: type_ = PolicyType::Permit; break;
    }
    for (const std::string& pattern : file.patterns()) entries_.append(textFromFileBytes(pattern));
    file_.emplace(std::move(file));
}

void PolicyEditor::setType(PolicyType type) {
    type_ = type;
    modified_ = true;
}

bool PolicyEditor::append(const QString& text) {
    if (text.isEmpty()) return false;
    if (entries_.contains(text, Qt::CaseSensitive)) {
        showError(prompt_, QString::fromLatin1(kErrorTitle), QStringLiteral("The IP already exist"));
        return false;
    }
    entries_.append(text);
    modified_ = true;
    return true;
}

bool PolicyEditor::removeAt(int row) {
    if (row < 0 || row >= entries_.size()) {
        showError(prompt_, QString::fromLatin1(kErrorTitle), QStringLiteral("Please select a record"));
        return false;
    }
    entries_.removeAt(row);
    modified_ = true;
    return true;
}

bool PolicyEditor::save() {
    if (readOnly_) {
        reportLeftUnchanged(prompt_, QString::fromLatin1(kErrorTitle), path_);
        return false;
    }
    AccessFile next = file_ ? file_->copy() : AccessFile::parse("<access></access>");
    std::vector<std::string> patterns;
    for (const QString& entry : entries_) patterns.push_back(fileBytesFromText(entry));
    next.setPolicy(type_ == PolicyType::Permit ? AccessMode::Permit : AccessMode::Reject, patterns);
    if (!next.save(QFile::encodeName(path_).toStdString())) {
        reportWriteFailure(prompt_, QStringLiteral("Policy"), path_);
        return false;
    }
    file_.emplace(std::move(next));
    if (requestReload(ReloadAccess) == ReloadOutcome::TimedOut)
        reportReloadTimedOut(prompt_, QStringLiteral("Policy"), QString::fromLatin1(kAccessFileName));
    modified_ = false;
    return true;
}

PolicyStep PolicyEditor::ok() {
    if (!modified_ || readOnly_) return {true};
    return {save()};
}

PolicyStep PolicyEditor::cancel() {
    if (!modified_ || readOnly_) return {true};
    if (!askYesNo(prompt_, QStringLiteral("Policy"), QStringLiteral("Policy has been changed, save it??"))) return {true};
    return {save()};
}

PolicyStep PolicyEditor::apply() {
    if (modified_ && !readOnly_) (void)save();
    return {false};
}

}  // namespace corvel
