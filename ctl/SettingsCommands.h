// corvelctl's settings commands (show, set, unset) on ftpconfig.xml, through
// SettingsFile, for the keys of SettingKeys.
#pragma once

#include "ctl/CommandContext.h"

namespace corvel {

// The six values of every file, then every extension value (or its default), and with TLS on
// the certificate's files and fingerprint.
int showSettings(const CommandContext& context);
// Checks the value, writes the whole file (keeping every element it does not know)
// and says that the server applies it only at its next start.
int setSetting(const CommandContext& context);
// Takes an optional element away, so the server uses its default again; nothing is
// written when the file does not have it.
int unsetSetting(const CommandContext& context);

}  // namespace corvel
