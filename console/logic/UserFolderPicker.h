// The folder picker the user dialog's "&Browse..." opens, behind an interface that
// tests answer.
#pragma once

#include <QString>

namespace corvel {

struct FolderChoice {
    enum class Outcome { Chosen, Cancelled, Failed };
    Outcome outcome = Outcome::Cancelled;
    QString path;  // the chosen directory when Chosen
};

// Asks for an existing directory. Used on the user-interface thread only.
class UserFolderPicker {
public:
    virtual ~UserFolderPicker() = default;
    virtual FolderChoice pickDirectory(const QString& title, const QString& startDirectory) = 0;
};

}  // namespace corvel
