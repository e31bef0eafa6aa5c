#include "console/logic/SettingsEditor.h"

#include <algorithm>

#include <QFile>
#include <tinyxml.h>

#include "accounts/XmlStore.h"
#include "common/DecimalText.h"
#include "common/XmlFiles.h"
#include "common/XmlText.h"
#include "console/logic/FileText.h"
#include "platform/AtomicFile.h"

namespace corvel {
namespace {

constexpr char kRestartTitle[] = "Restart Service";
constexpr char kRestartQuestion[] = "Restart service to load new settings?";
constexpr char kSaveTitle[] = "Save Settings";

// The element's text when its first child is a non-empty text node, else empty.
QString elementText(const TiXmlElement* element) {
    const char* text = element->GetText();
    return text ? textFromFileBytes(text) : QString();
}

QString textOr(const TiXmlElement* element, const char* fallback) {
    const char* text = element->GetText();
    return (text && *text) ? textFromFileBytes(text) : QString::fromLatin1(fallback);
}

void appendTextElement(TiXmlElement& root, const char* name, const QString& text) {
    TiXmlElement element(name);
    element.InsertEndChild(TiXmlText(fileBytesFromText(text)));
    root.InsertEndChild(element);
}

}  // namespace

QString stepConnectionLimit(const QString& text, int delta) {
    long long value = scanDecimal(text.toStdString());
    value = std::clamp<long long>(value, 0, kConnectionLimitStepMax) + delta;
    if (value > kConnectionLimitStepMax) value = 0;
    if (value < 0) value = kConnectionLimitStepMax;
    return QString::number(value);
}

SettingsEditor::SettingsEditor(const QString& programDirectory, MessageBoxPort& prompt)
    : path_(programDirectory + QString::fromLatin1(kSettingsFileName)), prompt_(prompt) {}

void SettingsEditor::load() {
    form_ = SettingsForm();
    modified_ = false;
    readOnly_ = false;
    const std::string path = QFile::encodeName(path_).toStdString();
    TiXmlDocument doc;
    const EditorLoad loaded = loadForEditing(doc, path, kSettingsFileName, prompt_);
    if (loaded != EditorLoad::Loaded) {
        readOnly_ = loaded == EditorLoad::Unreadable;
        return;
    }
    const TiXmlElement* root = doc.RootElement();
    if (!root) return;
    if (const TiXmlElement* e = root->FirstChildElement("listenip")) {
        form_.listenAddress = elementText(e);
        form_.bind = !form_.listenAddress.isEmpty();
    }
    if (const TiXmlElement* e = root->FirstChildElement("ftpport")) form_.ftpPort = textOr(e, "21");
    if (const TiXmlElement* e = root->FirstChildElement("httpport")) form_.webPort = textOr(e, "8080");
    if (const TiXmlElement* e = root->FirstChildElement("maxconn")) form_.maxConnections = textOr(e, "256");
    if (const TiXmlElement* e = root->FirstChildElement("pasvmode")) form_.passiveMode = elementText(e) == "yes";
    if (const TiXmlElement* e = root->FirstChildElement("welcomemsg")) {
        form_.welcomeMessage = elementText(e);
        form_.welcomeMessage.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    }
}

void SettingsEditor::change(const SettingsForm& form) {
    form_ = form;
    modified_ = true;
}

SettingsEditor::SaveOutcome SettingsEditor::saveFile() {
    if (readOnly_) {
        reportLeftUnchanged(prompt_, QString::fromLatin1(kSaveTitle), path_);
        return SaveOutcome::Invalid;
    }
    TiXmlDocument doc;
    parseXmlText(doc, "<config></config>");
    TiXmlElement& root = *doc.RootElement();
    appendTextElement(root, "listenip", form_.bind ? form_.listenAddress : QString());

    struct Required {
        const char* element;
        const QString& text;
        const char* emptyMessage;
    };
    const Required required[] = {
        {"ftpport", form_.ftpPort, "FTP port can not be empty"},
        {"httpport", form_.webPort, "Web port can not be empty"},
        {"maxconn", form_.maxConnections, "Max Simultaneous Connection can not be empty"},
    };
    for (const Required& field : required) {
        if (field.text.isEmpty()) {
            showError(prompt_, QString::fromLatin1(kSaveTitle), QString::fromLatin1(field.emptyMessage));
            return SaveOutcome::Invalid;
        }
        appendTextElement(root, field.element, field.text);
    }
    appendTextElement(root, "pasvmode", form_.passiveMode ? QStringLiteral("yes") : QStringLiteral("no"));
    // The server sends the text inside its greeting as it is, so lines end in CR LF.
    QString welcome = form_.welcomeMessage;
    welcome.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    appendTextElement(root, "welcomemsg", welcome);

    if (!saveAtomically(doc, QFile::encodeName(path_).toStdString())) {
        showError(prompt_, QString::fromLatin1(kSaveTitle),
                          QStringLiteral("%1 could not be written; the settings were not saved and the "
                                         "service was not restarted.")
                              .arg(path_));
        return SaveOutcome::WriteFailed;
    }
    modified_ = false;
    return SaveOutcome::Written;
}

bool SettingsEditor::save() { return saveFile() == SaveOutcome::Written; }

SettingsStep SettingsEditor::ok() {
    if (readOnly_) return {true, false};
    if (!askYesNo(prompt_, QString::fromLatin1(kRestartTitle), QString::fromLatin1(kRestartQuestion)))
        return {true, false};
    switch (saveFile()) {
        case SaveOutcome::Written: return {true, true};
        case SaveOutcome::Invalid: return {true, false};
        case SaveOutcome::WriteFailed: return {false, false};
    }
    return {true, false};
}

SettingsStep SettingsEditor::cancel() {
    if (!modified_ || readOnly_) return {true, false};
    if (!askYesNo(prompt_, QStringLiteral("Basic Settings"),
                          QStringLiteral("Settings has been changed, sure to save it and restart the service?")))
        return {true, false};
    const SaveOutcome saved = saveFile();
    return {saved != SaveOutcome::WriteFailed, saved == SaveOutcome::Written};
}

SettingsStep SettingsEditor::apply() {
    if (!modified_ || readOnly_) return {};
    if (!askYesNo(prompt_, QString::fromLatin1(kRestartTitle), QString::fromLatin1(kRestartQuestion))) return {};
    return {false, save()};
}

}  // namespace corvel
