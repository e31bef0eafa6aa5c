#include "console/logic/ConsoleProbes.h"

#include <ctime>

#include "common/SharedBlocks.h"

namespace corvel {

StatusSnapshot SystemConsoleProbes::readStatus() { return corvel::readStatus(kBlockMutexWaitMs); }

std::uint32_t SystemConsoleProbes::now() { return std::uint32_t(std::time(nullptr)); }

}  // namespace corvel
