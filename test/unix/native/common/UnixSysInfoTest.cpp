#include "SysInfo.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "ErrorHandling.h"
#include "TestSupport.h"

namespace {

const char* const kName = "KOVALU_SYSINFO_TEST_VAR";

template <class F>
std::string rawMessageOf(F f) {
    try {
        f();
    } catch (const KvError<std::runtime_error>& e) {
        return e.rawMessage();
    }
    ADD_FAILURE() << "nothing thrown";
    return std::string();
}

TEST(UnixSysInfoEnv, SetVariableIsRead) {
    kvtest::EnvGuard guard(kName, std::string("a value"));
    EXPECT_EQ("a value", SysInfo::getEnvVariable(kName));
    EXPECT_EQ("a value", SysInfo::getEnvVariable(std::nothrow, kName, "fallback"));
    EXPECT_TRUE(SysInfo::isEnvVariableSet(kName));
}

TEST(UnixSysInfoEnv, EmptyVariableIsSetAndEmpty) {
    kvtest::EnvGuard guard(kName, std::string());
    EXPECT_EQ("", SysInfo::getEnvVariable(kName));
    EXPECT_EQ("", SysInfo::getEnvVariable(std::nothrow, kName, "fallback"));
    EXPECT_TRUE(SysInfo::isEnvVariableSet(kName));
}

TEST(UnixSysInfoEnv, UnsetVariable) {
    kvtest::EnvGuard guard(kName, std::nullopt);
    EXPECT_EQ(std::string("getenv(") + kName + ") failed. Variable not set",
              rawMessageOf([] { SysInfo::getEnvVariable(kName); }));
    EXPECT_EQ("fallback", SysInfo::getEnvVariable(std::nothrow, kName, "fallback"));
    EXPECT_FALSE(SysInfo::isEnvVariableSet(kName));
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
              rawMessageOf([] { SysInfo::setEnvVariable("A=B", "v"); }));
    EXPECT_EQ(std::string("setenv(, v) failed. Error: ") + std::strerror(EINVAL),
              rawMessageOf([] { SysInfo::setEnvVariable("", "v"); }));
    EXPECT_EQ(nullptr, std::getenv("A"));
}

} // namespace
