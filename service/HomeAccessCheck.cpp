#include "service/HomeAccessCheck.h"

#include <cstdint>

#include "common/Permissions.h"

namespace corvel {
namespace {

// The rights that change what a home holds; an account with none of them only reads.
constexpr std::uint32_t kChangingRights =
    PERM_CREATE_FILE | PERM_WRITE_FILE | PERM_REMOVE_FILE | PERM_CREATE_DIR | PERM_REMOVE_DIR;

}  // namespace

std::vector<std::string> homeAccessWarnings(const std::vector<UserAccount>& accounts, const DirectoryProbe& probe) {
    std::vector<std::string> warnings;
    for (const UserAccount& account : accounts) {
        if (account.disabled || account.workDir.empty() || account.workDir.front() != '/') continue;
        const bool changes = (static_cast<std::uint32_t>(account.privilege) & kChangingRights) != 0;
        const DirectoryUse use = changes ? DirectoryUse::Write : DirectoryUse::Read;
        const std::string problem = probe(account.workDir, use);
        if (problem.empty()) continue;
        warnings.push_back("The home directory " + account.workDir + " of the account " + account.username +
                           " cannot be " + (changes ? "written" : "read") + " by the service: " + problem +
                           ". A home below /home, /root, /run/user, /tmp, /var/tmp, /usr, /etc or /boot that "
                           "was added after the service was installed needs its unit written again: run "
                           "corveld -u, then corveld -i.");
    }
    return warnings;
}

}  // namespace corvel
