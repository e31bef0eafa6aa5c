// <webapp> as the server reads it: off while absent, yes or no only.
#include <gtest/gtest.h>

#include "server/ServerSettings.h"

namespace corvel {
namespace {

TEST(WebAppSetting, OffUntilSaidYesAndAnyOtherValueIsAProblem) {
    ServerSettings settings;
    ASSERT_TRUE(applySettingsDocument("<c><ftpport>21</ftpport></c>", settings));
    EXPECT_FALSE(settings.webApp);
    ASSERT_TRUE(applySettingsDocument("<c><webapp>yes</webapp></c>", settings));
    EXPECT_TRUE(settings.webApp);
    EXPECT_TRUE(settings.problems.empty());
    // Taken away again, it is off again.
    ASSERT_TRUE(applySettingsDocument("<c></c>", settings));
    EXPECT_FALSE(settings.webApp);
    ASSERT_TRUE(applySettingsDocument("<c><webapp>on</webapp></c>", settings));
    EXPECT_FALSE(settings.webApp);
    ASSERT_EQ(settings.problems.size(), 1u);
    EXPECT_NE(settings.problems[0].find("<webapp>on</webapp>"), std::string::npos) << settings.problems[0];
}

}  // namespace
}  // namespace corvel
