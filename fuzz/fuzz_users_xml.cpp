// Fuzzes the users file: arbitrary ftpusers.xml contents are loaded by UserTable,
// then every lookup is asked and a password change is stored and read back.
//
// Per input the scratch program directory is cleared of the users file, its
// ".broken" copy and the anonymous directory, so every input starts alike.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "accounts/UserTable.h"

namespace corvel::fuzzing {
namespace {

std::vector<std::string> namesOf(const std::vector<UserAccount>& accounts) {
    std::vector<std::string> names;
    for (const UserAccount& account : accounts) names.push_back(account.username);
    return names;
}

}  // namespace
}  // namespace corvel::fuzzing

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace corvel;
    using namespace corvel::fuzzing;
    ScratchDirectory& dir = fileTargetDirectory();
    std::error_code ignored;
    std::filesystem::remove_all(dir.file("anonymous"), ignored);
    placeInput(dir, "ftpusers.xml", std::string_view(reinterpret_cast<const char*>(data), size));

    UserTable users(dir.directory());
    users.load();
    const std::vector<UserAccount> accounts = users.accounts();
    for (const UserAccount& account : accounts) {
        check(!account.username.empty() && !account.password.empty() && !account.workDir.empty(),
              "only complete accounts are kept");
        // Compared with the first account of that name: a sentinel text could be a
        // real home directory too.
        std::string home;
        users.homeDirectoryOf(account.username, home);
        auto first = std::find_if(accounts.begin(), accounts.end(),
                                  [&](const UserAccount& a) { return a.username == account.username; });
        check(home == first->workDir, "the home comes from the first account of that name");
        std::string welcome;
        users.welcomeMessageOf(account.username, welcome);
        (void)users.privilegesOf(account.username);
        (void)users.authenticate(account.username, account.password);
    }
    if (users.anonymousEnabled()) check(users.authenticate("anonymous", "any"), "enabled anonymous logs in");
    std::string home = "unchanged";
    users.homeDirectoryOf("no such user \x01", home);
    check(home == "unchanged", "an unknown name leaves the home alone");
    check(!users.authenticate("no such user \x01", ""), "an unknown name cannot log in");

    if (!accounts.empty()) {
        const std::string name = accounts.front().username;
        std::filesystem::remove(dir.file("ftpusers.xml.broken"), ignored);
        if (users.updatePassword(name, "fuzz-new-password")) {
            // The rewritten file must still load and keep every account. (An element
            // that lacked only its password becomes an account, so more may appear.)
            check(!std::filesystem::exists(dir.file("ftpusers.xml.broken"), ignored), "the rewritten file loads");
            std::vector<std::string> after = namesOf(users.accounts());
            for (const std::string& before : namesOf(accounts)) {
                auto found = std::find(after.begin(), after.end(), before);
                check(found != after.end(), "a password change keeps every account");
                after.erase(found);
            }
        }
    }
    return 0;
}
