#include "SysInfo.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "TestSupport.h"

namespace {

const char* const kName = "KOVALU_SYSINFO_TEST_VAR";

TEST(UnixSysInfoEnv, SetEmptyAndUnsetVariablesAreReadApart) {
    const std::optional<std::string> values[] = {std::string("a value"), std::string(),
                                                 std::nullopt};
    for (const std::optional<std::string>& value : values) {
        SCOPED_TRACE(value.value_or("<unset>"));
        kvtest::EnvGuard guard(kName, value);
        if (value) {
            EXPECT_EQ(*value, SysInfo::getEnvVariable(kName));
        } else {
            EXPECT_EQ(std::string("getenv(") + kName + ") failed. Variable not set",
                      kvtest::thrownBy([] { SysInfo::getEnvVariable(kName); }).raw);
        }
        EXPECT_EQ(value.value_or("fallback"),
                  SysInfo::getEnvVariable(std::nothrow, kName, "fallback"));
        EXPECT_EQ(value.has_value(), SysInfo::isEnvVariableSet(kName));
    }
}

TEST(UnixSysInfoEnv, SetCreatesAndReplaces) {
    kvtest::EnvGuard guard(kName, std::nullopt);
    SysInfo::setEnvVariable(kName, "first");
    ASSERT_NE(nullptr, std::getenv(kName));
    EXPECT_STREQ("first", std::getenv(kName));
    SysInfo::setEnvVariable(kName, "");
    ASSERT_NE(nullptr, std::getenv(kName));
    EXPECT_STREQ("", std::getenv(kName));
}

TEST(UnixSysInfoEnv, RefusedSetIsAnErrorWithTheSystemText) {
    EXPECT_EQ(std::string("setenv(A=B, v) failed. Error: ") + std::strerror(EINVAL),
              kvtest::thrownBy([] { SysInfo::setEnvVariable("A=B", "v"); }).raw);
    EXPECT_EQ(std::string("setenv(, v) failed. Error: ") + std::strerror(EINVAL),
              kvtest::thrownBy([] { SysInfo::setEnvVariable("", "v"); }).raw);
    EXPECT_EQ(nullptr, std::getenv("A"));
}

} // namespace
