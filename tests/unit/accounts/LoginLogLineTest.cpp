// The login lines fail2ban reads: one fixed form for every port's service.
#include <gtest/gtest.h>

#include "accounts/LoginGuard.h"

namespace corvel {
namespace {

TEST(LoginLogLine, EachServiceIsNamedInTheSameForm) {
    EXPECT_EQ(loginLogLine(true, LoginService::Ftp, "192.0.2.7", "alice"),
              "login succeeded: service=ftp address=192.0.2.7 user=\"alice\"");
    EXPECT_EQ(loginLogLine(false, LoginService::Web, "192.0.2.7", "alice"),
              "login failed: service=web address=192.0.2.7 user=\"alice\"");
    EXPECT_EQ(loginLogLine(false, LoginService::Sftp, "192.0.2.7", "a\"b\n"),
              "login failed: service=sftp address=192.0.2.7 user=\"a\\x22b\\x0A\"");
}

}  // namespace
}  // namespace corvel
