// corvelctl's settings commands (show, set) on ftpconfig.xml, through SettingsFile,
// for the keys of SettingKeys.
#pragma once

#include "ctl/CommandContext.h"

namespace corvel {

int showSettings(const CommandContext& context);
// Checks the value, writes the whole file (keeping every element it does not know)
// and says that the server applies it only at its next start.
int setSetting(const CommandContext& context);

}  // namespace corvel
