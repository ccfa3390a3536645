// Setting and clearing environment variables: std::getenv sees the change at once.
#include "platform/environment/environment.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace kestrel::platform {
namespace {

TEST(Environment, SetValuesAreSeenByGetenvAndClearedOnesAreGone) {
    const std::string name = "KESTREL_ENVIRONMENT_TEST";
    ASSERT_TRUE(SetEnvironmentValue(name, "first value"));
    ASSERT_NE(std::getenv(name.c_str()), nullptr);
    EXPECT_STREQ(std::getenv(name.c_str()), "first value");
    ASSERT_TRUE(SetEnvironmentValue(name, "second"));
    EXPECT_STREQ(std::getenv(name.c_str()), "second");
    ASSERT_TRUE(ClearEnvironmentValue(name));
    EXPECT_EQ(std::getenv(name.c_str()), nullptr);
    EXPECT_TRUE(ClearEnvironmentValue(name));
}

TEST(Environment, NamesThatCannotBeVariablesAreRefused) {
    EXPECT_FALSE(SetEnvironmentValue("", "x"));
    EXPECT_FALSE(SetEnvironmentValue("A=B", "x"));
    EXPECT_EQ(std::getenv("A"), nullptr);
    EXPECT_FALSE(ClearEnvironmentValue(""));
}

} // namespace
} // namespace kestrel::platform
