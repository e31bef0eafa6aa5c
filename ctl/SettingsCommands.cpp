#include "ctl/SettingsCommands.h"

#include "accounts/SettingsFile.h"
#include "common/DecimalText.h"
#include "common/XmlFiles.h"
#include "ctl/JsonWriter.h"
#include "ctl/SettingKeys.h"
#include "ctl/TextTable.h"

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

}  // namespace

int showSettings(const CommandContext& context) {
    bool missing = false;
    int exitCode = kExitRefused;
    std::optional<SettingsFile> file = readSettings(context, &missing, &exitCode);
    if (!file) return exitCode;
    if (context.invocation.json) {
        JsonWriter json;
        json.beginObject();
        for (const SettingKey& key : settingKeys()) {
            json.key(key.name);
            if (std::optional<std::string> text = file->text(key.name))
                json.string(*text);
            else
                json.null();
        }
        json.endObject();
        context.io.out << json.text() << "\n";
        return kExitDone;
    }
    std::vector<std::vector<std::string>> rows;
    for (const SettingKey& key : settingKeys()) {
        std::optional<std::string> text = file->text(key.name);
        std::string shown = !text ? "(not set; the server uses " +
                                        (*key.serverDefault ? std::string(key.serverDefault) : std::string("\"\"")) + ")"
                            : text->empty() ? std::string("\"\"")
                                            : displayText(*text);
        rows.push_back({key.name, shown});
    }
    if (missing) context.io.out << context.path(kSettingsFileName) << " does not exist yet.\n";
    context.io.out << formatTable(rows);
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
    const std::string path = context.path(kSettingsFileName);
    if (!next.save(path)) return context.refuse(path + " could not be written; nothing was changed");
    context.io.out << "Saved " << kSettingsFileName
                   << "; restart the server (corveld -e, corveld -s, or the console) to apply it.\n";
    return kExitDone;
}

}  // namespace corvel
