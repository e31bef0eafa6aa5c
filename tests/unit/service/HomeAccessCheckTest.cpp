// The start-up warnings about homes the service cannot use: which accounts are asked
// about and for what use, and what the warning tells the administrator.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "common/Permissions.h"
#include "service/HomeAccessCheck.h"

namespace corvel {
namespace {

UserAccount account(std::string name, std::string home, std::uint32_t rights, bool disabled = false) {
    UserAccount user;
    user.username = std::move(name);
    user.workDir = std::move(home);
    user.privilege = static_cast<std::int32_t>(rights);
    user.disabled = disabled;
    return user;
}

TEST(HomeAccessCheck, AsksEachEnabledAbsoluteHomeForTheUseItsRightsNeed) {
    std::vector<std::pair<std::string, DirectoryUse>> asked;
    auto probe = [&asked](const std::string& path, DirectoryUse use) {
        asked.emplace_back(path, use);
        return std::string();
    };
    const std::vector<UserAccount> accounts = {
        account("reader", "/srv/read", PERM_LIST | PERM_READ_FILE),
        account("uploader", "/srv/up", PERM_LIST | PERM_CREATE_FILE),
        account("cleaner", "/srv/clean", PERM_REMOVE_DIR),
        account("off", "/srv/off", PERM_WRITE_FILE, true),
        account("relative", "ftp/home", PERM_WRITE_FILE),
        account("none", "", PERM_WRITE_FILE),
    };
    EXPECT_TRUE(homeAccessWarnings(accounts, probe).empty());
    const std::vector<std::pair<std::string, DirectoryUse>> expected = {
        {"/srv/read", DirectoryUse::Read}, {"/srv/up", DirectoryUse::Write}, {"/srv/clean", DirectoryUse::Write}};
    EXPECT_EQ(asked, expected);
}

TEST(HomeAccessCheck, NamesTheHomeTheAccountTheReasonAndTheRemedy) {
    const std::map<std::string, std::string> problems = {{"/home/bob/ftp", "Read-only file system"},
                                                         {"/root/pub", "No such file or directory"}};
    auto probe = [&problems](const std::string& path, DirectoryUse) {
        auto found = problems.find(path);
        return found == problems.end() ? std::string() : found->second;
    };
    const std::vector<std::string> warnings =
        homeAccessWarnings({account("bob", "/home/bob/ftp", PERM_CREATE_FILE), account("ok", "/srv/ftp", PERM_LIST),
                            account("guest", "/root/pub", PERM_LIST)},
                           probe);
    ASSERT_EQ(warnings.size(), 2u);
    const std::string remedy =
        ". A home below /home, /root, /run/user, /tmp, /var/tmp, /usr, /etc or /boot that was added after the "
        "service was installed needs its unit written again: run corveld -u, then corveld -i.";
    EXPECT_EQ(warnings[0], "The home directory /home/bob/ftp of the account bob cannot be written by the service: "
                           "Read-only file system" + remedy);
    EXPECT_EQ(warnings[1], "The home directory /root/pub of the account guest cannot be read by the service: "
                           "No such file or directory" + remedy);
}

}  // namespace
}  // namespace corvel
