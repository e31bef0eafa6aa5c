// Load, change tracking, validation and saving behind the "Basic Setting" dialog,
// which edits ftpconfig.xml; the server reads the file only when it starts.
// The General tab holds the six values of every file; the Encryption and Network
// tabs the optional elements of the extensions, checked by the server's own rules.
#pragma once

#include <QString>

#include <optional>

#include "config/SettingsFile.h"

#include "console/logic/UserPrompt.h"

namespace corvel {

// The Encryption and Network tabs: one field per optional element. A field at the
// server's default (an empty text, a box as the server has it without the element)
// leaves an element that is absent out of the file.
struct ExtensionForm {
    QString tlsMode = QStringLiteral("off");  // <tls>: off, explicit, required (or the file's odd text)
    QString certificateFile;                  // <tlscert>
    QString keyFile;                          // <tlskey>
    bool webTls = false;                      // <webtls>
    bool tlsReuse = true;                     // <tlsreuse>
    QString passivePorts;                     // <pasvports>
    QString passiveAddress;                   // <pasvaddress>
    bool ftpExtensions = false;               // <ftpext>
    QString banFailures;                      // <banfailures>
    QString banWindow;                        // <banwindow>
    QString banMinutes;                       // <banminutes>
    QString maxPerAddress;                    // <maxperip>
    QString maxLoginPerAddress;               // <maxprelogin>
    bool webPolicy = false;                   // <webpolicy>
    bool webExtensions = false;               // <webext>
    bool webApp = false;                      // <webapp>
    QString webCharset;                       // <webcharset>
    QString maxWebConnections;                // <maxwebconn>
    QString webMaxPerAddress;                 // <webmaxperip>
    QString proxyFrom;                        // <proxyfrom>
    QString sftpPort;                         // <sftpport>
    QString sftpListenAddress;                // <sftplistenip>
    QString sftpHostKeys;                     // <sftphostkey>

    bool operator==(const ExtensionForm&) const = default;
};

// The label of an extension element's field in the dialog ("Passive ports"), which
// the refusal of its value names too.
QString extensionFieldLabel(const char* element);

// What the dialog's controls hold. The General tab's texts are kept as typed (the
// server interprets them); the extensions' are checked on saving.
struct SettingsForm {
    QString listenAddress;  // the address combo's text
    bool bind = false;      // "Bind": listenip is written only when checked
    QString ftpPort;
    QString webPort;
    QString maxConnections;
    bool passiveMode = false;
    QString welcomeMessage;  // lines separated by '\n' (CR LF in the file)
    ExtensionForm extensions;

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
    // The certificate the server would use as the file was loaded: its SHA-256
    // fingerprint, "Made on first start" when the server will make it, or why it
    // cannot be read. Worked out by load() and again after each save.
    QString certificateText() const { return certificateText_; }
    // The SSH host keys the SFTP port would use as the file was loaded, one line each:
    // "ssh-ed25519 SHA256:... (file)", "Made on first start (file)" or why a file
    // cannot be read; "No SFTP port" without <sftpport>. Worked out as certificateText.
    QString hostKeyText() const { return hostKeyText_; }

    // OK always asks to restart; Yes saves. The dialog then closes, except when the
    // file could not be written (the edits stay so the user may retry or cancel).
    SettingsStep ok();
    // Asks to save only when modified; the dialog closes (unless a write failed, as for OK).
    SettingsStep cancel();
    // Asks to restart; Yes saves. The dialog stays open.
    SettingsStep apply();

    // Validates (every empty required field is refused with its box, then every
    // extension value that was changed by the server's rules, then an IPv6 listen
    // address against the FTP extensions), writes the whole file and clears the
    // modified flag. false when nothing was written. An extension field left as it
    // was loaded leaves its element exactly as it is; a cleared text removes it.
    [[nodiscard]] bool save();

private:
    enum class SaveOutcome { Written, Invalid, WriteFailed };
    SaveOutcome saveFile();
    // Writes the changed extension fields into next; false (a box shown) when one is refused.
    bool applyExtensions(SettingsFile& next);

    QString programDirectory_;
    QString path_;
    MessageBoxPort& prompt_;
    // The file as last read or written; a save changes a copy of it, so elements
    // the dialog does not show (the extensions' settings) are kept.
    std::optional<SettingsFile> file_;
    SettingsForm form_;
    SettingsForm loaded_;  // the form as load() filled it, to tell which fields changed
    QString certificateText_;
    QString hostKeyText_;
    bool modified_ = false;
    bool readOnly_ = false;
};

}  // namespace corvel
