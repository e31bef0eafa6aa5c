// The reject or permit list behind the "Policy" dialog: loads ftpaccess.xml, appends
// and removes addresses, saves the whole file and asks a running server to reload it.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

#include "config/AccessFile.h"

#include "console/logic/UserPrompt.h"

namespace corvel {

enum class PolicyType {
    Unset,   // neither radio button checked (a new file); saved as REJECT
    Reject,  // the listed addresses are refused
    Permit,  // only the listed addresses are admitted
};

// What the dialog does after a button.
struct PolicyStep {
    bool close = false;
};

// Owned by one dialog, used on the user-interface thread. The file is read and
// written without a lock; every write replaces it atomically.
class PolicyEditor {
public:
    // programDirectory ends with '/'.
    PolicyEditor(const QString& programDirectory, MessageBoxPort& prompt);

    // Reads the first iptable's type and its ip values in file order. A missing file
    // is created from the default document, with no type chosen. A file that exists
    // but is not readable XML is reported and the editor is read-only: nothing is
    // ever written over it from this dialog.
    void load();

    PolicyType type() const { return type_; }
    const QStringList& entries() const { return entries_; }
    bool isModified() const { return modified_; }
    bool isReadOnly() const { return readOnly_; }
    QString path() const { return path_; }

    // A radio button click.
    void setType(PolicyType type);
    // "A&ppend": nothing for an empty text; "The IP already exist" for an exact
    // duplicate. true when added (the dialog then clears its edit).
    bool append(const QString& text);
    // "&Remove": "Please select a record" when row is not an entry.
    bool removeAt(int row);

    // Ok saves without asking when modified, then closes (stays open when the file
    // could not be written, keeping the edits).
    PolicyStep ok();
    // Asks "Policy has been changed, save it??" when modified; Yes saves. Closes
    // unless the write failed.
    PolicyStep cancel();
    // Saves when modified; stays open.
    PolicyStep apply();

    // Writes the whole file, requests the reload and clears the modified flag;
    // false (reported) when the file could not be written.
    [[nodiscard]] bool save();

private:
    QString path_;
    MessageBoxPort& prompt_;
    // The file as last read or written; a save changes a copy of it.
    std::optional<AccessFile> file_;
    PolicyType type_ = PolicyType::Unset;
    QStringList entries_;
    bool modified_ = false;
    bool readOnly_ = false;
};

}  // namespace corvel
