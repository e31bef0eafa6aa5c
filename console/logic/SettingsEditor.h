// Load, change tracking, validation and saving behind the "Basic Setting" dialog,
// which edits ftpconfig.xml; the server reads the file only when it starts.
#pragma once

#include <QString>

#include <optional>

#include "accounts/SettingsFile.h"

#include "console/logic/UserPrompt.h"

namespace corvel {

// What the dialog's controls hold. Texts are kept as typed; the server interprets them.
struct SettingsForm {
    QString listenAddress;  // the address combo's text
    bool bind = false;      // "Bind": listenip is written only when checked
    QString ftpPort;
    QString webPort;
    QString maxConnections;
    bool passiveMode = false;
    QString welcomeMessage;  // lines separated by '\n' (CR LF in the file)

    bool operator==(const SettingsForm&) const = default;
};

// What the dialog does after a button.
struct SettingsStep {
    bool close = false;          // close the dialog
    bool restartServer = false;  // the file was written: restart the server
};

// Range of the connection limit's up-down control; a step past an end wraps round.
inline constexpr int kConnectionLimitStepMax = 256;

// The connection-limit text after one up-down step (delta +1 or -1): the text's
// integer value (0 when it has none), kept within 0..256, stepped, wrapping at the ends.
QString stepConnectionLimit(const QString& text, int delta);

// Owned by one dialog, used on the user-interface thread. The file is read and
// written without a lock; every write replaces the file atomically.
class SettingsEditor {
public:
    // programDirectory ends with '/'.
    SettingsEditor(const QString& programDirectory, MessageBoxPort& prompt);

    // Reads the file into the form. Missing: the form stays empty. Present but not
    // readable XML: reported, the form stays empty and the editor is read-only, so
    // the file is never replaced from this dialog.
    void load();

    const SettingsForm& form() const { return form_; }
    // A tracked change: takes the controls' values and marks the form modified.
    void change(const SettingsForm& form);
    bool isModified() const { return modified_; }
    bool isReadOnly() const { return readOnly_; }
    QString path() const { return path_; }

    // OK always asks to restart; Yes saves. The dialog then closes, except when the
    // file could not be written (the edits stay so the user may retry or cancel).
    SettingsStep ok();
    // Asks to save only when modified; the dialog closes (unless a write failed, as for OK).
    SettingsStep cancel();
    // Asks to restart; Yes saves. The dialog stays open.
    SettingsStep apply();

    // Validates (every empty required field is refused with its box), writes the
    // whole file and clears the modified flag. false when nothing was written.
    [[nodiscard]] bool save();

private:
    enum class SaveOutcome { Written, Invalid, WriteFailed };
    SaveOutcome saveFile();

    QString path_;
    MessageBoxPort& prompt_;
    // The file as last read or written; a save changes a copy of it, so elements
    // the dialog does not show (the extensions' settings) are kept.
    std::optional<SettingsFile> file_;
    SettingsForm form_;
    bool modified_ = false;
    bool readOnly_ = false;
};

}  // namespace corvel
