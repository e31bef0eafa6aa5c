#include "console/logic/UserPrompt.h"

#include "common/SharedBlocks.h"

namespace corvel {

void showError(MessageBoxPort& boxes, const QString& title, const QString& text) {
    boxes.show(text.toStdString(), title.toStdString(), MessageIcon::Error);
}

bool askYesNo(MessageBoxPort& boxes, const QString& title, const QString& text) {
    return boxes.askYesNo(text.toStdString(), title.toStdString());
}

void reportUnreadableFile(MessageBoxPort& boxes, const QString& fileName, const QString& reason, int line) {
    QString detail = reason;
    if (line > 0) detail += QStringLiteral(" at line %1").arg(line);
    showError(boxes, QString::fromLatin1(kErrorTitle),
              QStringLiteral("%1 cannot be read or is not well-formed XML (%2).\n\n"
                             "The file is left as it is and nothing can be saved here "
                             "until it is corrected or removed.")
                  .arg(fileName, detail));
}

void reportWriteFailure(MessageBoxPort& boxes, const QString& title, const QString& path) {
    showError(boxes, title, QStringLiteral("%1 could not be written; nothing was changed.").arg(path));
}

void reportLeftUnchanged(MessageBoxPort& boxes, const QString& title, const QString& path) {
    showError(boxes, title, QStringLiteral("%1 is left as it is because it could not be read.").arg(path));
}

void reportReloadTimedOut(MessageBoxPort& boxes, const QString& title, const QString& fileName) {
    showError(boxes, title,
              QStringLiteral("%1 was saved, but the running server did not take the reload request within %2 "
                             "seconds; it reads the file at its next reload or start.")
                  .arg(fileName)
                  .arg(kBlockMutexWaitMs / 1000));
}

}  // namespace corvel
