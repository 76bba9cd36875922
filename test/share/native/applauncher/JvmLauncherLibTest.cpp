#include "JvmLauncherLib.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include <gtest/gtest.h>

#include "JvmLauncher.h"
#include "TestSupport.h"

namespace {

// A table of spies: counts the calls and answers what the test chose.
struct SpyState {
    int closeCalls = 0;
    int sizeCalls = 0;
    int initCalls = 0;
    int32_t size = 0;
    bool initSucceeds = true;
    int32_t initBufferSize = 0;
    JvmlLauncherHandle closedHandle = nullptr;
};
SpyState spy;

void spyClose(JvmlLauncherHandle h) {
    ++spy.closeCalls;
    spy.closedHandle = h;
}

int32_t spySize(JvmlLauncherHandle) {
    ++spy.sizeCalls;
    return spy.size;
}

JvmlLauncherData* spyInit(JvmlLauncherHandle, void* buffer, int32_t bufferSize) {
    ++spy.initCalls;
    spy.initBufferSize = bufferSize;
    if (!spy.initSucceeds) {
        return nullptr;
    }
    std::memset(buffer, 0, bufferSize);
    return static_cast<JvmlLauncherData*>(buffer);
}

class JvmLauncherCreate : public ::testing::Test {
protected:
    JvmLauncherCreate() { spy = SpyState(); }

    JvmlLauncherAPI table = {spyClose, spySize, spyInit};
    int handleObject = 0;
    JvmlLauncherHandle handle = &handleObject;
};

typedef std::unique_ptr<JvmlLauncherData, decltype(&free)> Block;

// Stands in for JLI_Launch: notes the variables it sees and returns a
// recognisable code.
std::vector<std::string> envSeen;

int32_t recordingLaunch(int32_t, char**, int32_t, const char**, int32_t, const char**,
                        const char*, const char*, const char*, const char*, unsigned char,
                        unsigned char, unsigned char, int32_t) {
    for (const char* name : {"KVTEST_LIB_A", "KVTEST_LIB_B", "KOVALU_DEBUG"}) {
        const char* value = std::getenv(name);
        envSeen.push_back(value ? value : "<unset>");
    }
    return 42;
}

void* recordingLaunchAddress() {
    return reinterpret_cast<void*>(&recordingLaunch);
}

Block blockOf(const Jvm& jvm, int32_t* size = nullptr) {
    return Block(jvmLauncherCreateJvmlLauncherData(jvmLauncherGetAPI(), jvm.exportLauncher(), size),
                 free);
}

} // namespace

TEST_F(JvmLauncherCreate, NullHandleTouchesNothing) {
    int32_t size = 77;
    EXPECT_EQ(nullptr, jvmLauncherCreateJvmlLauncherData(&table, nullptr, &size));
    EXPECT_EQ(77, size);
    EXPECT_EQ(0, spy.closeCalls + spy.sizeCalls + spy.initCalls);
}

TEST_F(JvmLauncherCreate, BlockOnlyForAPositiveSizeAndAWriteTheHandleClosedAlways) {
    struct Case {
        const char* name;
        int32_t size;
        bool initSucceeds;
        bool askSize; ///< whether the caller asks for the size
        bool block;
        int32_t stored; ///< the size the caller is given; 77 is its own value
    };
    // A refused write's memory is freed: the leak checker of the sanitizer build watches it.
    const Case cases[] = {
        {"zero size", 0, true, true, false, 77},
        {"negative size", -1, true, true, false, 77},
        {"refused write", 64, false, true, false, 77},
        {"written block with its size", 48, true, true, true, 48},
        {"written block, size not asked for", 48, true, false, true, 77},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        spy = SpyState();
        spy.size = c.size;
        spy.initSucceeds = c.initSucceeds;
        int32_t stored = 77;
        Block block(jvmLauncherCreateJvmlLauncherData(&table, handle, c.askSize ? &stored : nullptr),
                    free);
        EXPECT_EQ(c.block, block != nullptr);
        EXPECT_EQ(c.stored, stored);
        EXPECT_EQ(1, spy.sizeCalls);
        EXPECT_EQ(c.size >= 1 ? 1 : 0, spy.initCalls);
        EXPECT_EQ(c.size >= 1 ? c.size : 0, spy.initBufferSize);
        EXPECT_EQ(1, spy.closeCalls);
        EXPECT_EQ(handle, spy.closedHandle);
    }
}

TEST(JvmLauncherCreateFromJvm, StoresTheSizeOfTheWrittenBlock) {
    Jvm jvm;
    jvm.setLibraryPath("L");
    jvm.addArgument("a").addArgument("bc").addEnvironmentVariable("N", "V");
    int32_t size = 0;
    Block block = blockOf(jvm, &size);
    ASSERT_NE(nullptr, block);
    EXPECT_EQ(91, size);
    EXPECT_EQ(2, block->argc);
    EXPECT_STREQ("L", block->libPath);
}

TEST(JvmLauncherLog, PrintsOneLineOnlyWhenDebugIsExactlyTrue) {
    {
        kvtest::EnvGuard debug("KOVALU_DEBUG", std::string("true"));
        kvtest::StderrCapture err;
        jvmLauncherLog("value %d of %s", 5, "x");
        jvmLauncherLog("second");
        EXPECT_EQ("value 5 of x\nsecond\n", err.finish());
    }
    const std::optional<std::string> values[] = {"TRUE", "1", "true ", "", std::nullopt};
    for (const std::optional<std::string>& value : values) {
        kvtest::EnvGuard debug("KOVALU_DEBUG", value);
        kvtest::StderrCapture err;
        jvmLauncherLog("value %d", 5);
        EXPECT_EQ("", err.finish()) << "KOVALU_DEBUG=" << value.value_or("<unset>");
    }
}

class JvmLauncherStart : public ::testing::Test {
protected:
    JvmLauncherStart()
        : aGuard("KVTEST_LIB_A", std::nullopt), bGuard("KVTEST_LIB_B", std::string("old")),
          debugGuard("KOVALU_DEBUG", std::string("true")) {
        envSeen.clear();
        jvm.setLibraryPath("/rt/libjli.dylib");
        jvm.addArgument("/Demo").addArgument("100%s%n%d").addArgument("two words");
    }

    kvtest::EnvGuard aGuard;
    kvtest::EnvGuard bGuard;
    kvtest::EnvGuard debugGuard;
    Jvm jvm;
};

TEST_F(JvmLauncherStart, LogsLibraryAndArgumentsLiterally) {
    Block block = blockOf(jvm);
    ASSERT_NE(nullptr, block);
    kvtest::StderrCapture err;
    EXPECT_EQ(42, jvmLauncherStartJvm(block.get(), recordingLaunchAddress()));
    EXPECT_EQ("jli lib: [/rt/libjli.dylib]\n"
              "jli arg[0]: [/Demo]\n"
              "jli arg[1]: [100%s%n%d]\n"
              "jli arg[2]: [two words]\n",
              err.finish());
}

TEST_F(JvmLauncherStart, LogsEveryPairBeforeSettingAny) {
    // The first pair switches debugging off: had it been set before the
    // second pair was logged, that line would be missing.
    jvm.addEnvironmentVariable("KOVALU_DEBUG", "off").addEnvironmentVariable("KVTEST_LIB_A", "a=1");
    Block block = blockOf(jvm);
    ASSERT_NE(nullptr, block);
    kvtest::StderrCapture err;
    jvmLauncherStartJvm(block.get(), recordingLaunchAddress());
    const std::string out = err.finish();
    EXPECT_NE(std::string::npos,
              out.find("env var[0]: KOVALU_DEBUG=[off]\nenv var[1]: KVTEST_LIB_A=[a=1]\n"))
        << out;
    EXPECT_EQ((std::vector<std::string>{"a=1", "old", "off"}), envSeen);
}

TEST_F(JvmLauncherStart, ReplacesExistingVariablesAndGoesOnAfterAFailedOne) {
    jvm.addEnvironmentVariable("BAD=NAME", "x")
        .addEnvironmentVariable("KVTEST_LIB_B", "new")
        .addEnvironmentVariable("KVTEST_LIB_A", "");
    Block block = blockOf(jvm);
    ASSERT_NE(nullptr, block);
    kvtest::StderrCapture err;
    EXPECT_EQ(42, jvmLauncherStartJvm(block.get(), recordingLaunchAddress()));
    const std::string out = err.finish();
    EXPECT_NE(std::string::npos, out.find("\nsetenv(0) failed\n")) << out;
    EXPECT_EQ(std::string::npos, out.find("setenv(1)")) << out;
    EXPECT_EQ((std::vector<std::string>{"", "new", "true"}), envSeen);
}
