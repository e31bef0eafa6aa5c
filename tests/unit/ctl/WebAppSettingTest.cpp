// <webapp> through corvelctl: shown with its default, set to yes or no only, and
// written without disturbing the elements around it.
#include <gtest/gtest.h>

#include "tests/unit/ctl/CtlTestSupport.h"

namespace corvel {
namespace {

struct WebAppSetting : testing::CtlFixture {};

TEST_F(WebAppSetting, ShowSetAndUnsetKeepTheOtherElements) {
    const std::string original = "<config><ftpport>2121</ftpport><future a=\"1\">x</future></config>";
    dir.write("ftpconfig.xml", original);
    EXPECT_NE(run({"settings", "show"}).out.find("\nwebapp        (not set: no)\n"), std::string::npos);
    const testing::CtlResult refused = run({"settings", "set", "webapp", "maybe"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(dir.read("ftpconfig.xml"), original);
    ASSERT_EQ(run({"settings", "set", "webapp", "yes"}).status, 0);
    const std::string written = dir.read("ftpconfig.xml");
    EXPECT_NE(written.find("<webapp>yes</webapp>"), std::string::npos) << written;
    EXPECT_NE(written.find("<future a=\"1\">x</future>"), std::string::npos);
    EXPECT_NE(run({"settings", "show"}).out.find("\nwebapp        yes\n"), std::string::npos);
    ASSERT_EQ(run({"settings", "unset", "webapp"}).status, 0);
    EXPECT_EQ(dir.read("ftpconfig.xml").find("webapp"), std::string::npos);
}

}  // namespace
}  // namespace corvel
