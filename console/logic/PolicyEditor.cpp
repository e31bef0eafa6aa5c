#include "console/logic/PolicyEditor.h"

#include <QFile>

#include <tinyxml.h>

#include "accounts/XmlStore.h"
#include "common/XmlFiles.h"
#include "common/XmlText.h"
#include "console/logic/FileText.h"
#include "console/logic/ReloadRequest.h"
#include "platform/AtomicFile.h"

namespace corvel {

PolicyEditor::PolicyEditor(const QString& programDirectory, MessageBoxPort& prompt)
    : path_(programDirectory + QString::fromLatin1(kAccessFileName)), prompt_(prompt) {}

void PolicyEditor::load() {
    type_ = PolicyType::Unset;
    entries_.clear();
    modified_ = false;
    readOnly_ = false;
    const std::string path = QFile::encodeName(path_).toStdString();
    TiXmlDocument doc;
    const EditorLoad loaded = loadForEditing(doc, path, kAccessFileName, prompt_);
    if (loaded == EditorLoad::Unreadable) {
        readOnly_ = true;
        return;
    }
    if (loaded == EditorLoad::Missing) {
        TiXmlDocument fresh;
        parseXmlText(fresh, kDefaultAccessDocument);
        if (!saveAtomically(fresh, path)) reportWriteFailure(prompt_, QString::fromLatin1(kErrorTitle), path_);
        return;
    }
    const TiXmlElement* root = doc.RootElement();
    const TiXmlElement* table = root ? root->FirstChildElement("iptable") : nullptr;
    if (!table) return;
    const char* type = table->Attribute("type");
    type_ = (type && std::string(type) == "REJECT") ? PolicyType::Reject : PolicyType::Permit;
    for (const TiXmlElement* ip = table->FirstChildElement("ip"); ip; ip = ip->NextSiblingElement("ip")) {
        if (const char* value = ip->Attribute("value")) entries_.append(textFromFileBytes(value));
    }
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
    TiXmlDocument doc;
    parseXmlText(doc, "<access></access>");
    TiXmlElement table("iptable");
    table.SetAttribute("type", type_ == PolicyType::Permit ? "PASS" : "REJECT");
    for (const QString& entry : entries_) {
        TiXmlElement ip("ip");
        ip.SetAttribute("value", fileBytesFromText(entry));
        table.InsertEndChild(ip);
    }
    doc.RootElement()->InsertEndChild(table);
    if (!saveAtomically(doc, QFile::encodeName(path_).toStdString())) {
        reportWriteFailure(prompt_, QStringLiteral("Policy"), path_);
        return false;
    }
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
