#include "console/logic/SettingsEditor.h"

#include <algorithm>

#include <QFile>

#include "common/DecimalText.h"
#include "common/XmlFiles.h"
#include "console/logic/FileText.h"

namespace corvel {
namespace {

constexpr char kRestartTitle[] = "Restart Service";
constexpr char kRestartQuestion[] = "Restart service to load new settings?";
constexpr char kSaveTitle[] = "Save Settings";

// The element's text; empty when it has none or is missing.
QString elementText(const SettingsFile& file, const char* name) {
    return textFromFileBytes(file.text(name).value_or(std::string()));
}

// The element's text, or fallback when it is empty (an element that is missing
// leaves the field empty).
QString textOr(const SettingsFile& file, const char* name, const char* fallback) {
    std::optional<std::string> text = file.text(name);
    if (!text) return QString();
    return text->empty() ? QString::fromLatin1(fallback) : textFromFileBytes(*text);
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
    file_.reset();
    SettingsFile file = SettingsFile::read(QFile::encodeName(path_).toStdString());
    if (file.status() == FileRead::Unreadable) {
        readOnly_ = true;
        reportUnreadableFile(prompt_, QString::fromLatin1(kSettingsFileName), QString::fromUtf8(file.error().c_str()),
                             file.errorLine());
        return;
    }
    if (file.status() == FileRead::Missing) return;
    if (file.hasRoot()) {
        form_.listenAddress = elementText(file, "listenip");
        form_.bind = !form_.listenAddress.isEmpty();
        form_.ftpPort = textOr(file, "ftpport", "21");
        form_.webPort = textOr(file, "httpport", "8080");
        form_.maxConnections = textOr(file, "maxconn", "256");
        form_.passiveMode = elementText(file, "pasvmode") == QStringLiteral("yes");
        form_.welcomeMessage = elementText(file, "welcomemsg");
        form_.welcomeMessage.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    }
    file_.emplace(std::move(file));
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
    SettingsFile next = file_ ? file_->copy() : SettingsFile::empty();
    next.setText("listenip", fileBytesFromText(form_.bind ? form_.listenAddress : QString()));

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
        next.setText(field.element, fileBytesFromText(field.text));
    }
    next.setText("pasvmode", form_.passiveMode ? "yes" : "no");
    // The server sends the text inside its greeting as it is, so lines end in CR LF.
    QString welcome = form_.welcomeMessage;
    welcome.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    next.setText("welcomemsg", fileBytesFromText(welcome));

    if (!next.save(QFile::encodeName(path_).toStdString())) {
        showError(prompt_, QString::fromLatin1(kSaveTitle),
                  QStringLiteral("%1 could not be written; the settings were not saved and the "
                                 "service was not restarted.")
                      .arg(path_));
        return SaveOutcome::WriteFailed;
    }
    file_.emplace(std::move(next));
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
