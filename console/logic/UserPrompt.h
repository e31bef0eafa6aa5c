// The dialogs' message boxes: QString helpers over the console's MessageBoxPort, and
// the texts shared by the editing dialogs.
#pragma once

#include <QString>

#include <string>

#include "console/logic/ServiceControlPorts.h"

namespace corvel {

// Title of the dialogs' generic error boxes.
inline constexpr char kErrorTitle[] = "Error - CorvelFtp Server";

// An error box with an OK button.
void showError(MessageBoxPort& boxes, const QString& title, const QString& text);
// A question box with Yes and No; true for Yes.
bool askYesNo(MessageBoxPort& boxes, const QString& title, const QString& text);

// Reports that fileName exists but could not be read as XML (reason and line from
// the parser), and that the console leaves it as it is.
void reportUnreadableFile(MessageBoxPort& boxes, const QString& fileName, const QString& reason, int line);

// Reports that path could not be written, so nothing was changed.
void reportWriteFailure(MessageBoxPort& boxes, const QString& title, const QString& path);

// Says that a running server did not take the reload request within the wait, so
// it reads the saved file only at its next reload or start.
void reportReloadTimedOut(MessageBoxPort& boxes, const QString& title, const QString& fileName);

// Refuses a save in an editor opened on an unreadable file.
void reportLeftUnchanged(MessageBoxPort& boxes, const QString& title, const QString& path);

}  // namespace corvel
