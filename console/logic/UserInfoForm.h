// The "User Information" dialog's values, its permission boxes, the Browse rule and
// the checks its OK runs before it closes.
#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <optional>

#include "common/Permissions.h"
#include "console/logic/UserFolderPicker.h"
#include "console/logic/UserPrompt.h"

namespace corvel {

// One account as the console lists it and writes it.
struct UserRecord {
    QString username;
    QString password;  // the stored passwordDigest text, never the typed password
    QString alias;     // shown as "Description"
    QString homeDirectory;
    QString welcomeMessage;
    std::int32_t privilege = 0;
    bool disabled = false;

    bool operator==(const UserRecord&) const = default;
};

enum class UserInfoMode { Create, Modify };

// What the dialog's fields hold.
struct UserInfoForm {
    QString username;
    QString password;  // typed text; "******" in modify mode
    QString verify;
    QString description;
    QString home;
    QString welcomeMessage;
    std::int32_t privilege = static_cast<std::int32_t>(kDefaultPrivileges);  // List and Read File
    bool disabled = false;
};

// One permission check box of the dialog, in the order they are shown.
struct PermissionBox {
    const char* label;
    std::uint32_t bit;
    const char* objectName;
};

inline constexpr std::array<PermissionBox, 8> kPermissionBoxes{{
    {"List", PERM_LIST, "listCheck"},
    {"Create Directory", PERM_CREATE_DIR, "createDirectoryCheck"},
    {"Remove Directory", PERM_REMOVE_DIR, "removeDirectoryCheck"},
    {"Create File", PERM_CREATE_FILE, "createFileCheck"},
    {"Read File", PERM_READ_FILE, "readFileCheck"},
    {"Write File", PERM_WRITE_FILE, "writeFileCheck"},
    {"Remove File", PERM_REMOVE_FILE, "removeFileCheck"},
    {"Execute", PERM_EXECUTE, "executeCheck"},
}};

// Shown in both password fields in modify mode; the stored digest is never shown.
inline constexpr char kPasswordMask[] = "******";
inline constexpr char kHomePickerTitle[] = "Please User's Select Home Directory:";

// The fields of the dialog opened on record (modify mode).
UserInfoForm userInfoFormFor(const UserRecord& record);

// The OK checks in order: user name, passwords equal, password, home. Shows the box of
// the first that fails and returns false; in modify mode the name and password
// fields are fixed and pass.
[[nodiscard]] bool validateUserInfo(const UserInfoForm& form, UserInfoMode mode, MessageBoxPort& prompt);

// "&Browse...": the new Home text, ending in '/'; nullopt when the picker was
// cancelled or failed (failure is reported with "Get directory failed").
std::optional<QString> browseHomeDirectory(UserFolderPicker& picker, MessageBoxPort& prompt, const QString& current);

}  // namespace corvel
