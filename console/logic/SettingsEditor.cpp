#include "console/logic/SettingsEditor.h"

#include <algorithm>

#include <QFile>
#include <QStringList>

#include "config/ExtensionSettings.h"
#include "common/DecimalText.h"
#include "common/XmlFiles.h"
#include "console/logic/FileText.h"
#include "tls/CertificateStatus.h"
#include "tls/SshKeys.h"

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

// How a field of the extensions holds its element's value.
enum class FieldKind {
    Text,    // an edit: empty means the element is not in the file
    Flag,    // a check box: yes or no
    Choice,  // a combo box of the element's words
};

struct ExtensionField {
    const char* element;
    const char* label;
    FieldKind kind;
    QString ExtensionForm::*text = nullptr;  // Text and Choice
    bool ExtensionForm::*flag = nullptr;     // Flag
    // The server's value while the element is absent: what a box or a combo shows
    // then, and a value that leaves an absent element out (an empty edit always does).
    const char* absent = "";
};

// In the order of the dialog's tabs, which is the order saving checks them in.
const ExtensionField kExtensionFields[] = {
    {"tls", "TLS mode", FieldKind::Choice, &ExtensionForm::tlsMode, nullptr, "off"},
    {"tlscert", "Certificate file", FieldKind::Text, &ExtensionForm::certificateFile},
    {"tlskey", "Key file", FieldKind::Text, &ExtensionForm::keyFile},
    {"webtls", "HTTPS on the web port", FieldKind::Flag, nullptr, &ExtensionForm::webTls, "no"},
    {"tlsreuse", "Require TLS session reuse on data connections", FieldKind::Flag, nullptr,
     &ExtensionForm::tlsReuse, "yes"},
    {"pasvports", "Passive ports", FieldKind::Text, &ExtensionForm::passivePorts},
    {"pasvaddress", "Public address for passive mode", FieldKind::Text, &ExtensionForm::passiveAddress},
    {"ftpext", "FTP extensions", FieldKind::Flag, nullptr, &ExtensionForm::ftpExtensions, "no"},
    {"banfailures", "Ban an address after failed logins", FieldKind::Text, &ExtensionForm::banFailures, nullptr, "0"},
    {"banwindow", "Failed logins count within minutes", FieldKind::Text, &ExtensionForm::banWindow, nullptr, "10"},
    {"banminutes", "Ban lasts minutes", FieldKind::Text, &ExtensionForm::banMinutes, nullptr, "15"},
    {"maxperip", "Connections per address", FieldKind::Text, &ExtensionForm::maxPerAddress, nullptr, "0"},
    {"maxprelogin", "Connections per address not logged in yet", FieldKind::Text,
     &ExtensionForm::maxLoginPerAddress, nullptr, "8"},
    {"webpolicy", "Access policy and rights on the web", FieldKind::Flag, nullptr, &ExtensionForm::webPolicy, "no"},
    {"webext", "Ranges and HEAD on the web", FieldKind::Flag, nullptr, &ExtensionForm::webExtensions, "no"},
    {"webapp", "Web client (uploads, folders) under /app/", FieldKind::Flag, nullptr, &ExtensionForm::webApp, "no"},
    {"webcharset", "Character set of the web pages", FieldKind::Text, &ExtensionForm::webCharset},
    {"maxwebconn", "Web connections at once", FieldKind::Text, &ExtensionForm::maxWebConnections, nullptr, "256"},
    {"webmaxperip", "Web connections per address", FieldKind::Text, &ExtensionForm::webMaxPerAddress, nullptr,
     "16"},
    {"proxyfrom", "PROXY protocol from", FieldKind::Text, &ExtensionForm::proxyFrom},
    {"sftpport", "SFTP port", FieldKind::Text, &ExtensionForm::sftpPort},
    {"sftplistenip", "SFTP listen address", FieldKind::Text, &ExtensionForm::sftpListenAddress},
    {"sftphostkey", "SFTP host key files", FieldKind::Text, &ExtensionForm::sftpHostKeys},
};

// The field's value as the file would hold it (an edit's text without blanks around it).
QString fieldValue(const ExtensionField& field, const ExtensionForm& form) {
    switch (field.kind) {
        case FieldKind::Text: return (form.*field.text).trimmed();
        case FieldKind::Choice: return form.*field.text;
        case FieldKind::Flag: return QString::fromLatin1(form.*field.flag ? "yes" : "no");
    }
    return QString();
}

// Fills the field from the file: an absent element shows its default; a check box
// shows the file's yes or no (its default for any other text).
void loadField(const ExtensionField& field, const SettingsFile& file, ExtensionForm& form) {
    const std::optional<std::string> text = file.text(field.element);
    switch (field.kind) {
        case FieldKind::Text: form.*field.text = text ? textFromFileBytes(*text) : QString(); break;
        case FieldKind::Choice:
            form.*field.text = text ? textFromFileBytes(*text) : QString::fromLatin1(field.absent);
            break;
        case FieldKind::Flag:
            form.*field.flag = yesNoValue(text.value_or(field.absent)).value_or(std::string_view(field.absent) == "yes");
            break;
    }
}

QString certificateTextOf(const SettingsFile* file, const QString& programDirectory) {
    const CertificateStatus status =
        certificateStatus(file ? file->text("tlscert").value_or("") : std::string(),
                          file ? file->text("tlskey").value_or("") : std::string(),
                          QFile::encodeName(programDirectory).toStdString());
    if (status.madeOnFirstStart) return QStringLiteral("Made on first start");
    if (status.fingerprint) return QString::fromStdString(*status.fingerprint);
    return QStringLiteral("Cannot be read: %1").arg(textFromFileBytes(status.error));
}

QString hostKeyTextOf(const SettingsFile* file, const QString& programDirectory) {
    const std::optional<std::string> port = file ? file->text("sftpport") : std::nullopt;
    if (!port || port->empty()) return QStringLiteral("No SFTP port");
    QStringList lines;
    for (const SshHostKeyStatus& status : sshHostKeyStatuses(file->text("sftphostkey").value_or(""),
                                                             QFile::encodeName(programDirectory).toStdString())) {
        const QString name = QFile::decodeName(QByteArray::fromStdString(status.file));
        if (status.madeOnFirstStart)
            lines << QStringLiteral("Made on first start (%1)").arg(name);
        else if (status.key)
            lines << QStringLiteral("%1 %2 (%3)")
                         .arg(QString::fromStdString(status.key->type), QString::fromStdString(status.key->fingerprint()),
                              name);
        else
            lines << QStringLiteral("Cannot be read: %1").arg(textFromFileBytes(status.error));
    }
    return lines.join(QLatin1Char('\n'));
}

}  // namespace

QString extensionFieldLabel(const char* element) {
    for (const ExtensionField& field : kExtensionFields)
        if (std::string_view(field.element) == element) return QString::fromLatin1(field.label);
    return QString::fromLatin1(element);
}

QString stepConnectionLimit(const QString& text, int delta) {
    long long value = scanDecimal(text.toStdString());
    value = std::clamp<long long>(value, 0, kConnectionLimitStepMax) + delta;
    if (value > kConnectionLimitStepMax) value = 0;
    if (value < 0) value = kConnectionLimitStepMax;
    return QString::number(value);
}

SettingsEditor::SettingsEditor(const QString& programDirectory, MessageBoxPort& prompt)
    : programDirectory_(programDirectory),
      path_(programDirectory + QString::fromLatin1(kSettingsFileName)),
      prompt_(prompt) {}

void SettingsEditor::load() {
    form_ = SettingsForm();
    loaded_ = form_;
    certificateText_.clear();
    hostKeyText_.clear();
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
    if (file.status() == FileRead::Missing) {
        certificateText_ = certificateTextOf(nullptr, programDirectory_);
        hostKeyText_ = hostKeyTextOf(nullptr, programDirectory_);
        return;
    }
    if (file.hasRoot()) {
        form_.listenAddress = elementText(file, "listenip");
        form_.bind = !form_.listenAddress.isEmpty();
        form_.ftpPort = textOr(file, "ftpport", "21");
        form_.webPort = textOr(file, "httpport", "8080");
        form_.maxConnections = textOr(file, "maxconn", "256");
        form_.passiveMode = elementText(file, "pasvmode") == QStringLiteral("yes");
        form_.welcomeMessage = elementText(file, "welcomemsg");
        form_.welcomeMessage.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        for (const ExtensionField& field : kExtensionFields) loadField(field, file, form_.extensions);
    }
    loaded_ = form_;
    certificateText_ = certificateTextOf(&file, programDirectory_);
    hostKeyText_ = hostKeyTextOf(&file, programDirectory_);
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
    if (!applyExtensions(next)) return SaveOutcome::Invalid;

    if (!next.save(QFile::encodeName(path_).toStdString())) {
        showError(prompt_, QString::fromLatin1(kSaveTitle),
                  QStringLiteral("%1 could not be written; the settings were not saved and the "
                                 "service was not restarted.")
                      .arg(path_));
        return SaveOutcome::WriteFailed;
    }
    file_.emplace(std::move(next));
    certificateText_ = certificateTextOf(&*file_, programDirectory_);
    hostKeyText_ = hostKeyTextOf(&*file_, programDirectory_);
    loaded_ = form_;
    modified_ = false;
    return SaveOutcome::Written;
}

bool SettingsEditor::applyExtensions(SettingsFile& next) {
    for (const ExtensionField& field : kExtensionFields) {
        const QString value = fieldValue(field, form_.extensions);
        if (value == fieldValue(field, loaded_.extensions)) continue;  // left as it is, whatever it holds
        const bool present = next.text(field.element).has_value();
        if (value.isEmpty()) {
            if (present) next.remove(field.element);
            continue;
        }
        if (!present && value == QLatin1String(field.absent)) continue;
        const std::string bytes = fileBytesFromText(value);
        if (std::optional<std::string> why = extensionValueProblem(*findExtensionElement(field.element), bytes)) {
            showError(prompt_, QString::fromLatin1(kSaveTitle),
                      QStringLiteral("%1: '%2' is refused: %3")
                          .arg(QString::fromLatin1(field.label), value, textFromFileBytes(*why)));
            return false;
        }
        next.setText(field.element, bytes);
    }
    const bool listenChanged = form_.bind != loaded_.bind || form_.listenAddress != loaded_.listenAddress ||
                               form_.extensions.ftpExtensions != loaded_.extensions.ftpExtensions;
    if (std::optional<std::string> why = listenChanged ? listenAddressProblem(next) : std::nullopt) {
        showError(prompt_, QString::fromLatin1(kSaveTitle),
                  QStringLiteral("Bind Service IP: %1").arg(textFromFileBytes(*why)));
        return false;
    }
    return true;
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
