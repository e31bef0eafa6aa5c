#include "ctl/SettingsCommands.h"

#include "config/ExtensionSettings.h"
#include "config/SettingsFile.h"
#include "common/DecimalText.h"
#include "common/XmlFiles.h"
#include "ctl/JsonWriter.h"
#include "ctl/SettingKeys.h"
#include "ctl/TextTable.h"
#include "tls/CertificateStatus.h"
#include "tls/SshKeys.h"

namespace corvel {
namespace {

// Reads the file. Missing: nullopt in *file with exit status 0, for the caller to
// decide; unreadable: refused, and the file is never rewritten.
std::optional<SettingsFile> readSettings(const CommandContext& context, bool* missing, int* exitCode) {
    const std::string path = context.path(kSettingsFileName);
    SettingsFile file = SettingsFile::read(path);
    *missing = file.status() == FileRead::Missing;
    if (file.status() == FileRead::Unreadable) {
        *exitCode = context.refuse(unreadableFileText(path, file.error(), file.errorLine()));
        return std::nullopt;
    }
    return file;
}

// The port the server would listen on for this element, as it reads the file.
std::uint16_t portOf(const SettingsFile& file, const char* element, std::uint16_t fallback) {
    const std::optional<std::string> text = file.text(element);
    if (!text || text->empty()) return fallback;
    return static_cast<std::uint16_t>(scanDecimal(*text));
}

// What the server would use as its certificate; nullopt while TLS stays off.
std::optional<CertificateStatus> certificateOf(const SettingsFile& file, const CommandContext& context) {
    if (!tlsIsOn(file)) return std::nullopt;
    return certificateStatus(file.text("tlscert").value_or(""), file.text("tlskey").value_or(""),
                             context.programDirectory);
}

// The host keys the server would use; none while SFTP stays off (no <sftpport>).
std::vector<SshHostKeyStatus> hostKeysOf(const SettingsFile& file, const CommandContext& context) {
    const std::optional<std::string> port = file.text("sftpport");
    if (!port || port->empty()) return {};
    return sshHostKeyStatuses(file.text("sftphostkey").value_or(""), context.programDirectory);
}

std::string hostKeyText(const SshHostKeyStatus& status) {
    if (status.madeOnFirstStart) return "made by the server on its first start with SFTP on (no file yet)";
    if (status.key) return status.key->type + " " + status.key->fingerprint();
    return "none: " + displayText(status.error) + "; the server will not start with SFTP on";
}

std::string fingerprintText(const CertificateStatus& status) {
    if (status.madeOnFirstStart) return "made by the server on its first start with TLS on (no file yet)";
    if (status.fingerprint) return *status.fingerprint;
    return "none: " + displayText(status.error) + "; the server will not start with TLS on";
}

void writeJson(const SettingsFile& file, const std::optional<CertificateStatus>& certificate,
               const std::vector<SshHostKeyStatus>& hostKeys, const CommandContext& context) {
    JsonWriter json;
    json.beginObject();
    for (const SettingKey& key : settingKeys()) {
        const std::optional<std::string> text = file.text(key.name);
        json.key(key.name);
        if (text)
            json.string(*text);
        else
            json.null();
    }
    if (certificate) {
        json.key("tlsCertificate").beginObject();
        json.key("certificateFile").string(certificate->certificateFile);
        json.key("keyFile").string(certificate->keyFile);
        json.key("madeOnFirstStart").boolean(certificate->madeOnFirstStart);
        json.key("fingerprint");
        if (certificate->fingerprint)
            json.string(*certificate->fingerprint);
        else
            json.null();
        if (!certificate->madeOnFirstStart && !certificate->fingerprint) json.key("error").string(certificate->error);
        json.endObject();
    }
    if (!hostKeys.empty()) {
        json.key("sftpHostKeys").beginArray();
        for (const SshHostKeyStatus& key : hostKeys) {
            json.beginObject().key("file").string(key.file).key("madeOnFirstStart").boolean(key.madeOnFirstStart);
            json.key("type");
            if (key.key)
                json.string(key.key->type).key("fingerprint").string(key.key->fingerprint());
            else
                json.null().key("fingerprint").null();
            if (!key.madeOnFirstStart && !key.key) json.key("error").string(key.error);
            json.endObject();
        }
        json.endArray();
    }
    json.endObject();
    context.io.out << json.text() << "\n";
}

// Writes next, or says why not; the one end of set and unset.
int saveSettings(const CommandContext& context, const SettingsFile& next) {
    const std::string path = context.path(kSettingsFileName);
    if (!next.save(path)) return context.refuse(path + " could not be written; nothing was changed");
    context.io.out << "Saved " << kSettingsFileName
                   << "; restart the server (corveld -e, corveld -s, or the console) to apply it.\n";
    return kExitDone;
}

}  // namespace

int showSettings(const CommandContext& context) {
    bool missing = false;
    int exitCode = kExitRefused;
    std::optional<SettingsFile> file = readSettings(context, &missing, &exitCode);
    if (!file) return exitCode;
    const std::optional<CertificateStatus> certificate = certificateOf(*file, context);
    const std::vector<SshHostKeyStatus> hostKeys = hostKeysOf(*file, context);
    if (context.invocation.json) {
        writeJson(*file, certificate, hostKeys, context);
        return kExitDone;
    }
    // The six values of every file, then the extensions in a table of their own, so
    // that the first keeps its layout.
    std::vector<std::vector<std::string>> rows, extensionRows;
    for (const SettingKey& key : settingKeys()) {
        std::optional<std::string> text = file->text(key.name);
        const std::string fallback = *key.serverDefault ? std::string(key.serverDefault) : std::string("\"\"");
        std::string shown = text ? (text->empty() ? std::string("\"\"") : displayText(*text))
                            : key.optional ? "(not set: " + fallback + ")"
                                           : "(not set; the server uses " + fallback + ")";
        (key.optional ? extensionRows : rows).push_back({key.name, shown});
    }
    if (missing) context.io.out << context.path(kSettingsFileName) << " does not exist yet.\n";
    context.io.out << formatTable(rows) << "\n" << formatTable(extensionRows);
    if (certificate) {
        context.io.out << "\n"
                       << formatTable({{"TLS certificate", displayText(certificate->certificateFile)},
                                       {"TLS key", displayText(certificate->keyFile)},
                                       {"SHA-256", fingerprintText(*certificate)}});
    }
    if (!hostKeys.empty()) {
        std::vector<std::vector<std::string>> keyRows;
        for (const SshHostKeyStatus& key : hostKeys) {
            keyRows.push_back({"SSH host key", displayText(key.file)});
            keyRows.push_back({"SHA-256", hostKeyText(key)});
        }
        context.io.out << "\n" << formatTable(keyRows);
    }
    return kExitDone;
}

int setSetting(const CommandContext& context) {
    const SettingKey* key = findSettingKey(context.operand(0));
    if (!key) return context.usageError("unknown setting '" + context.operand(0) + "'");
    const SettingValue value = key->check(context.operand(1));
    if (!value.fileText) return context.refuse(std::string(key->name) + ": " + value.error);

    bool missing = false;
    int exitCode = kExitRefused;
    std::optional<SettingsFile> file = readSettings(context, &missing, &exitCode);
    if (!file) return exitCode;
    // A new file starts as the one the server would write, so every value is in it.
    SettingsFile next = missing ? SettingsFile::parse(kDefaultSettingsDocument) : file->copy();
    next.setText(key->name, *value.fileText);
    const std::uint16_t ftpPort = portOf(next, "ftpport", 21), webPort = portOf(next, "httpport", 8080);
    if (ftpPort == webPort)
        return context.refuse("ftpport and httpport would both be " + std::to_string(ftpPort) +
                              ", and the server cannot listen twice on one port");
    // A file with an IPv6 listen address (written by hand: listenip takes IPv4 only
    // here) keeps the FTP extensions it needs.
    if (key->name == std::string_view("ftpext"))
        if (std::optional<std::string> why = listenAddressProblem(next)) return context.refuse(*why);
    return saveSettings(context, next);
}

int unsetSetting(const CommandContext& context) {
    const SettingKey* key = findSettingKey(context.operand(0));
    if (!key || !key->optional) return context.usageError("'" + context.operand(0) + "' cannot be unset");
    bool missing = false;
    int exitCode = kExitRefused;
    std::optional<SettingsFile> file = readSettings(context, &missing, &exitCode);
    if (!file) return exitCode;
    if (missing || !file->text(key->name)) {
        context.io.out << key->name << " is not set; " << kSettingsFileName << " was left as it is.\n";
        return kExitDone;
    }
    SettingsFile next = file->copy();
    next.remove(key->name);
    if (key->name == std::string_view("ftpext"))
        if (std::optional<std::string> why = listenAddressProblem(next)) return context.refuse(*why);
    return saveSettings(context, next);
}

}  // namespace corvel
