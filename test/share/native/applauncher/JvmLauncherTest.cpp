#include "JvmLauncher.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <tuple>

#include <gtest/gtest.h>

#include "CfgFile.h"
#include "SysInfo.h"
#include "TestSupport.h"

namespace {

typedef std::vector<std::string> Strings;

using kvtest::isLoaded;
using kvtest::LogRecorder;

std::string pointerText(const void* p) {
    return (tstrings::any() << p).str();
}

std::string appPathArg() {
    return "-Dkovalu.app-path=" + SysInfo::getProcessModulePath();
}

Strings argsFromConfig(const CfgFile& cfg) {
    Jvm jvm;
    jvm.initFromConfigFile(cfg);
    return jvm.getArguments();
}

// A pointer slot of the packed block; read byte-wise as the block's users must.
const char* slot(const unsigned char* block, std::size_t offset) {
    const char* value;
    std::memcpy(&value, block + offset, sizeof(value));
    return value;
}

JvmlLauncherData header(const unsigned char* block) {
    JvmlLauncherData result;
    std::memcpy(&result, block, sizeof(result));
    return result;
}

// A handle released through the table when it goes out of scope.
struct HandleCloser {
    void operator()(void* h) const { api.closeHandle(h); }
};
typedef std::unique_ptr<void, HandleCloser> Handle;

Handle exportOf(const Jvm& jvm) {
    return Handle(jvm.exportLauncher());
}

} // namespace

TEST(JvmInitFromConfigFile, EachPropertyAddsItsArgumentsInTheirPlace) {
    const auto cfg = [](std::initializer_list<std::tuple<CfgFile::Id<CfgFile::SectionNameTag>,
                                                         CfgFile::Id<CfgFile::PropertyNameTag>,
                                                         Strings>> properties) {
        CfgFile result;
        for (const auto& [section, name, values] : properties) {
            result.setPropertyValue(section, name, values);
        }
        return result;
    };
    const auto& app = SectionName::Application;
    const std::tuple<const char*, CfgFile, Strings> cases[] = {
        {"options before the main class, arguments last",
         cfg({{app, PropertyName::classpath, {"/p/1.jar", "/p/2.jar"}},
              {app, PropertyName::mainclass, {"Old", "com.ex.Main"}},
              {SectionName::JavaOptions, PropertyName::javaOptions, {"-Da=b c"}},
              {SectionName::ArgOptions, PropertyName::arguments, {"first", "with blank"}}}),
         {"-classpath", "/p/1.jar:/p/2.jar", "-Da=b c", appPathArg(), "com.ex.Main", "first",
          "with blank"}},
        {"nothing configured", CfgFile(), {appPathArg()}},
        {"every module path entry", cfg({{app, PropertyName::modulepath, {"M1", "M2"}}}),
         {"--module-path", "M1", "--module-path", "M2", appPathArg()}},
        {"single class path entry", cfg({{app, PropertyName::classpath, {"/only.jar"}}}),
         {"-classpath", "/only.jar", appPathArg()}},
        {"main module before main jar",
         cfg({{app, PropertyName::mainjar, {"app.jar"}},
              {app, PropertyName::mainmodule, {"mod/cls"}}}),
         {appPathArg(), "-m", "mod/cls", "-jar", "app.jar"}},
    };
    for (const auto& [name, config, expected] : cases) {
        Jvm jvm;
        jvm.addArgument("/bundle/Contents/MacOS/Demo").initFromConfigFile(config);
        Strings withLauncher{"/bundle/Contents/MacOS/Demo"};
        withLauncher.insert(withLauncher.end(), expected.begin(), expected.end());
        EXPECT_EQ(withLauncher, jvm.getArguments()) << name;
    }
}

TEST(JvmInitFromConfigFile, SplashImageIsUsedOnlyWhenItExists) {
    kvtest::TempDir dir;
    const std::string image = dir / "splash.png";
    kvtest::writeFile(image, "png");
    const std::string missing = dir / "missing.png";
    CfgFile present;
    present.setPropertyValue(SectionName::Application, PropertyName::splash, {image})
        .setPropertyValue(SectionName::JavaOptions, PropertyName::javaOptions, {"-Xss1m"});
    CfgFile absent;
    absent.setPropertyValue(SectionName::Application, PropertyName::splash, {missing});

    LogRecorder log;
    EXPECT_EQ((Strings{"-splash:" + image, "-Xss1m", appPathArg()}), argsFromConfig(present));
    EXPECT_EQ(Strings{appPathArg()}, argsFromConfig(absent));
    Strings warnings;
    for (const std::string& record : log.from("JvmLauncher.cpp")) {
        if (record.rfind("TRACE ", 0) != 0) {
            warnings.push_back(record);
        }
    }
    EXPECT_EQ(Strings{"WARNING initFromConfigFile: Splash property ignored. File \"" + missing +
                      "\" not found"},
              warnings);
}

TEST(JvmSettings, SplashIsDetectedByExactLowerCasePrefix) {
    EXPECT_FALSE(Jvm().addArgument("-SPLASH:/a.png").isWithSplash());
    EXPECT_TRUE(Jvm().addArgument("x").addArgument("-splash:").isWithSplash());
    EXPECT_FALSE(Jvm().isWithSplash());
}

TEST(JvmSettings, SetEnvVariablesSetsEveryPairInOrder) {
    kvtest::EnvGuard a("KVTEST_JVM_ENV_A", std::nullopt);
    kvtest::EnvGuard b("KVTEST_JVM_ENV_B", std::string("old"));
    Jvm jvm;
    jvm.addEnvironmentVariable("KVTEST_JVM_ENV_A", "one")
        .addEnvironmentVariable("KVTEST_JVM_ENV_B", "two words")
        .addEnvironmentVariable("KVTEST_JVM_ENV_A", "again");
    jvm.setEnvVariables();
    EXPECT_STREQ("again", std::getenv("KVTEST_JVM_ENV_A"));
    EXPECT_STREQ("two words", std::getenv("KVTEST_JVM_ENV_B"));
}

TEST(JvmSettings, ConstructionAndDestructionAreTraced) {
    LogRecorder log;
    Jvm* jvm = new Jvm();
    const std::string address = pointerText(jvm);
    delete jvm;

    EXPECT_EQ((Strings{"TRACE Jvm: Jvm(" + address + ")::Jvm()",
                       "TRACE ~Jvm: Jvm(" + address + ")::~Jvm()"}),
              log.from("JvmLauncher.cpp"));
    EXPECT_EQ(0u, address.find("0x"));
}

TEST(JvmlLauncherDataLayout, EveryItemAtItsOffsetPackedWithoutAlignment) {
    struct Case {
        const char* name;
        std::string lib;
        Strings args;
        std::vector<std::pair<std::string, std::string>> env;
        int32_t size, argvAt, envNamesAt, envValuesAt;
    };
    const Case cases[] = {
        {"worked example", "L", {"a", "bc"}, {{"N", "V"}}, 91, 42, 71, 81},
        {"without variables both env arrays point at the end", "/rt/lib/libjli.dylib",
         {"launcher"}, {}, 40 + 21 + 16 + 9, 61, 86, 86},
        {"empty strings, argv not 8-aligned", "/odd/path", {"", "second arg", "x"},
         {{"A", ""}, {"BB", "value"}}, 140, 50, 96, 117},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Handle handle;
        {
            // The exported copy must not depend on the Jvm it came from.
            Jvm jvm;
            jvm.setLibraryPath(c.lib);
            for (const std::string& arg : c.args) {
                jvm.addArgument(arg);
            }
            for (const auto& [name, value] : c.env) {
                jvm.addEnvironmentVariable(name, value);
            }
            handle = exportOf(jvm);
        }
        ASSERT_EQ(c.size, api.getJvmlLauncherDataSize(handle.get()));
        std::vector<unsigned char> memory(c.size + 8);
        // Start at an odd address too: nothing in the block may rely on alignment.
        for (std::size_t shift : {std::size_t(0), std::size_t(3)}) {
            unsigned char* block = memory.data() + shift;
            ASSERT_EQ(static_cast<void*>(block),
                      api.initJvmlLauncherData(handle.get(), block, c.size));
            const char* base = reinterpret_cast<const char*>(block);
            const JvmlLauncherData h = header(block);
            EXPECT_EQ(static_cast<int32_t>(c.args.size()), h.argc);
            EXPECT_EQ(static_cast<int32_t>(c.env.size()), h.envCount);
            EXPECT_EQ(static_cast<const void*>(base + c.argvAt), static_cast<const void*>(h.argv));
            EXPECT_EQ(static_cast<const void*>(base + c.envNamesAt),
                      static_cast<const void*>(h.envNames));
            EXPECT_EQ(static_cast<const void*>(base + c.envValuesAt),
                      static_cast<const void*>(h.envValues));
            // Each string, its terminator included, right after the one before.
            std::size_t next = 40;
            const auto expectString = [&](const char* s, const std::string& expected) {
                EXPECT_EQ(base + next, s);
                EXPECT_EQ(0, std::memcmp(base + next, expected.c_str(), expected.size() + 1));
                next += expected.size() + 1;
            };
            expectString(h.libPath, c.lib);
            next += (c.args.size() + 1) * 8;
            for (std::size_t i = 0; i < c.args.size(); ++i) {
                expectString(slot(block, c.argvAt + i * 8), c.args[i]);
            }
            EXPECT_EQ(nullptr, slot(block, c.argvAt + c.args.size() * 8));
            next += c.env.size() * 8;
            for (std::size_t i = 0; i < c.env.size(); ++i) {
                expectString(slot(block, c.envNamesAt + i * 8), c.env[i].first);
            }
            next += c.env.size() * 8;
            for (std::size_t i = 0; i < c.env.size(); ++i) {
                expectString(slot(block, c.envValuesAt + i * 8), c.env[i].second);
            }
            EXPECT_EQ(static_cast<std::size_t>(c.size), next);
        }
    }
}

TEST(JvmlLauncherDataTable, TooSmallBufferIsLeftUntouched) {
    Jvm jvm;
    jvm.setLibraryPath("lib");
    jvm.addArgument("arg").addEnvironmentVariable("K", "V");
    Handle handle = exportOf(jvm);
    const int32_t size = api.getJvmlLauncherDataSize(handle.get());

    std::vector<unsigned char> block(size + 16, 0xA5);
    EXPECT_EQ(nullptr, api.initJvmlLauncherData(handle.get(), block.data(), size - 1));
    EXPECT_EQ(std::vector<unsigned char>(size + 16, 0xA5), block);
    EXPECT_EQ(nullptr, api.initJvmlLauncherData(handle.get(), block.data(), -1));
    EXPECT_EQ(std::vector<unsigned char>(size + 16, 0xA5), block);

    EXPECT_EQ(static_cast<void*>(block.data()),
              api.initJvmlLauncherData(handle.get(), block.data(), size + 16));
    EXPECT_EQ(0xA5, block[size]);
    EXPECT_EQ(static_cast<void*>(block.data()),
              api.initJvmlLauncherData(handle.get(), block.data(), size));
}

TEST(JvmlLauncherDataTable, SizeQueryAndWriteReportTheSameSize) {
    Jvm jvm;
    jvm.setLibraryPath("/runtime/Contents/Home/lib/libjli.dylib");
    jvm.addArgument("/Demo.app/Contents/MacOS/Demo").addArgument("-cp").addArgument("a:b:c");
    jvm.addEnvironmentVariable("DYLD_LIBRARY_PATH", "/Demo.app/Contents/app");

    LogRecorder log;
    Handle handle = exportOf(jvm);
    const int32_t queried = api.getJvmlLauncherDataSize(handle.get());
    std::vector<unsigned char> block(queried);
    ASSERT_NE(nullptr, api.initJvmlLauncherData(handle.get(), block.data(), queried));

    const std::string need = "TRACE initJvmlLauncherData: Need " + std::to_string(queried) +
                             " bytes for JvmlLauncherData buffer";
    EXPECT_EQ((Strings{need, need,
                       "TRACE initJvmlLauncherData: Initialized " + std::to_string(queried) +
                           " bytes at " + pointerText(block.data()) + " address"}),
              log.from("JvmLauncher.cpp"));
}

namespace {

// Makes every TRACE record fail, so the layout code throws inside the table's
// entries; keeps the reports those entries make.
class FailingTrace : public LogRecorder {
public:
    explicit FailingTrace(bool unknown) : unknown(unknown) {}
    void append(const LogEvent& event) override {
        if (event.levelText != "TRACE") {
            LogRecorder::append(event);
        } else if (unknown) {
            throw 7;
        } else {
            throw std::runtime_error("trace refused");
        }
    }

private:
    bool unknown;
};

} // namespace

TEST(JvmlLauncherDataTable, EntriesReportFailuresAndReturnFailureValues) {
    Jvm jvm;
    jvm.setLibraryPath("lib");
    jvm.addArgument("a");
    Handle handle = exportOf(jvm);
    std::vector<unsigned char> block(64, 0xA5);
    for (bool unknown : {false, true}) {
        FailingTrace log(unknown);
        EXPECT_EQ(-1, api.getJvmlLauncherDataSize(handle.get()));
        EXPECT_EQ(nullptr, api.initJvmlLauncherData(handle.get(), block.data(), 64));
        const std::string what = unknown ? "Unknown exception caught"
                                         : "Exception with message 'trace refused' caught";
        EXPECT_EQ((Strings{"ERROR getJvmlLauncherDataSize: " + what,
                           "ERROR initJvmlLauncherData: " + what}),
                  log.from("JvmLauncher.cpp"));
        EXPECT_EQ(2u, log.events.size());
    }

    Jvm* doomed = new Jvm();
    FailingTrace log(/*unknown=*/false);
    // Escaping the destructor would terminate the process.
    delete doomed;
    EXPECT_TRUE(log.events.empty());
}

TEST(JvmlLauncherDataSize, SumsUpToTheLargest32BitSize) {
    EXPECT_EQ(48u, addJvmlLauncherDataBytes(40, 1, 8));
    EXPECT_EQ(40u, addJvmlLauncherDataBytes(40, 0, 8));
    EXPECT_EQ(std::size_t(INT32_MAX), addJvmlLauncherDataBytes(40, INT32_MAX - 40, 1));
    EXPECT_EQ(std::size_t(INT32_MAX) - 7, addJvmlLauncherDataBytes(0, (INT32_MAX - 7) / 8, 8));
}

TEST(JvmlLauncherDataSize, RefusesSizesBeyond32BitsInsteadOfWrapping) {
    EXPECT_THROW(addJvmlLauncherDataBytes(40, INT32_MAX - 39, 1), std::runtime_error);
    EXPECT_THROW(addJvmlLauncherDataBytes(40, std::size_t(INT32_MAX) / 8, 8), std::runtime_error);
    // Products and sums that would wrap a 64-bit size as well.
    const std::size_t huge = std::numeric_limits<std::size_t>::max();
    EXPECT_THROW(addJvmlLauncherDataBytes(40, huge / 8 + 1, 8), std::runtime_error);
    EXPECT_THROW(addJvmlLauncherDataBytes(40, huge, 1), std::runtime_error);
    EXPECT_THROW(addJvmlLauncherDataBytes(huge, 0, 1), std::runtime_error);
}

class JvmLaunch : public ::testing::Test {
protected:
    JvmLaunch()
        : record(dir / "record"), recordGuard("KVTEST_JLI_RECORD", record),
          returnGuard("KVTEST_JLI_RETURN", std::nullopt),
          envListGuard("KVTEST_JLI_ENV", std::string("KVTEST_LAUNCH_A,KVTEST_LAUNCH_B")),
          aGuard("KVTEST_LAUNCH_A", std::nullopt), bGuard("KVTEST_LAUNCH_B", std::string("old")),
          debugGuard("KOVALU_DEBUG", std::nullopt) {
        jvm.setLibraryPath(KVTEST_FAKEJLI_PATH);
        jvm.addArgument("/Demo.app/Contents/MacOS/Demo")
            .addArgument("-Dtext=with blank")
            .addArgument("100%s\\n")
            .addArgument("com.example.Main");
        jvm.addEnvironmentVariable("KVTEST_LAUNCH_A", "a value")
            .addEnvironmentVariable("KVTEST_LAUNCH_B", "new");
    }

    std::string launchError() {
        return kvtest::thrownBy([&] { jvm.launch(); }).raw;
    }

    kvtest::TempDir dir;
    std::string record;
    kvtest::EnvGuard recordGuard;
    kvtest::EnvGuard returnGuard;
    kvtest::EnvGuard envListGuard;
    kvtest::EnvGuard aGuard;
    kvtest::EnvGuard bGuard;
    kvtest::EnvGuard debugGuard;
    Jvm jvm;
};

TEST_F(JvmLaunch, RuntimeReceivesTheArgumentsAndEnvironmentOfTheJvm) {
    jvm.launch();
    const std::vector<kvtest::JliCall> calls = kvtest::readJliRecord(record);
    ASSERT_EQ(1u, calls.size());
    const kvtest::JliCall& call = calls[0];
    EXPECT_EQ(jvm.getArguments(), call.argv);
    EXPECT_EQ("4", call.fields.at("argc"));
    EXPECT_EQ("1", call.fields.at("argv_terminated"));
    EXPECT_EQ(std::optional<std::string>("a value"), call.env.at("KVTEST_LAUNCH_A"));
    EXPECT_EQ(std::optional<std::string>("new"), call.env.at("KVTEST_LAUNCH_B"));
    kvtest::expectFixedJliFields(call);
}

TEST_F(JvmLaunch, CanBeLaunchedAgainAndReleasesTheLibraryEachTime) {
    jvm.launch();
    EXPECT_FALSE(isLoaded(KVTEST_FAKEJLI_PATH));
    jvm.launch();
    EXPECT_FALSE(isLoaded(KVTEST_FAKEJLI_PATH));
    const std::vector<kvtest::JliCall> calls = kvtest::readJliRecord(record);
    ASSERT_EQ(2u, calls.size());
    EXPECT_EQ(jvm.getArguments(), calls[0].argv);
    EXPECT_EQ(jvm.getArguments(), calls[1].argv);
}

TEST_F(JvmLaunch, NonZeroResultIsAFailureAndStillReleasesTheLibrary) {
    kvtest::EnvGuard fail("KVTEST_JLI_RETURN", std::string("3"));
    EXPECT_EQ("Failed to launch JVM", launchError());
    EXPECT_EQ(1u, kvtest::readJliRecord(record).size());
    EXPECT_FALSE(isLoaded(KVTEST_FAKEJLI_PATH));
}

TEST_F(JvmLaunch, UnloadableLibraryOrEntryPointGivesTheLoaderError) {
    const std::string missing = dir / "no-such-libjli.so";
    jvm.setLibraryPath(missing);
    std::string message = launchError();
    const std::string dlopenPrefix = "dlopen(" + missing + ") failed. Error: ";
    EXPECT_EQ(0u, message.find(dlopenPrefix)) << message;
    EXPECT_GT(message.size(), dlopenPrefix.size());

    jvm.setLibraryPath(KVTEST_FAKEJLI_NOSYM_PATH);
    message = launchError();
    const std::string prefix =
        std::string("dlsym(") + KVTEST_FAKEJLI_NOSYM_PATH + ", JLI_Launch) failed. Error: ";
    EXPECT_EQ(0u, message.find(prefix)) << message;
    EXPECT_GT(message.size(), prefix.size());
    EXPECT_FALSE(isLoaded(KVTEST_FAKEJLI_NOSYM_PATH));
    EXPECT_TRUE(kvtest::readJliRecord(record).empty());
}

namespace {

int32_t refuseSize(JvmlLauncherHandle) {
    return -1;
}

// Swaps one entry of the process's table and restores it.
class SizeEntryOverride {
public:
    explicit SizeEntryOverride(JvmlLauncherAPI_GetJvmlLauncherDataSizeFunc replacement)
        : saved(api.getJvmlLauncherDataSize) {
        api.getJvmlLauncherDataSize = replacement;
    }
    ~SizeEntryOverride() { api.getJvmlLauncherDataSize = saved; }
    SizeEntryOverride(const SizeEntryOverride&) = delete;
    SizeEntryOverride& operator=(const SizeEntryOverride&) = delete;

private:
    JvmlLauncherAPI_GetJvmlLauncherDataSizeFunc saved;
};

} // namespace

TEST_F(JvmLaunch, MissingLaunchDataStopsBeforeTheRuntime) {
    kvtest::EnvGuard debug("KOVALU_DEBUG", std::string("true"));
    kvtest::StderrCapture stderrCapture;
    {
        const SizeEntryOverride refuse(refuseSize);
        EXPECT_EQ("Failed to create launch data for JVM library \"" +
                      std::string(KVTEST_FAKEJLI_PATH) + "\"",
                  launchError());
    }
    // Neither the bridge's start nor the runtime saw anything.
    EXPECT_EQ("", stderrCapture.finish());
    EXPECT_TRUE(kvtest::readJliRecord(record).empty());
    EXPECT_FALSE(isLoaded(KVTEST_FAKEJLI_PATH));
}

TEST_F(JvmLaunch, TracesLayoutThenLibraryInOrder) {
    LogRecorder log;
    jvm.launch();
    const Strings records = log.from("JvmLauncher.cpp");
    ASSERT_EQ(4u, records.size());
    EXPECT_EQ(0u, records[0].find("TRACE initJvmlLauncherData: Need "));
    EXPECT_EQ(records[0], records[1]);
    EXPECT_EQ(0u, records[2].find("TRACE initJvmlLauncherData: Initialized "));
    EXPECT_EQ("TRACE launch: JVM library: \"" + std::string(KVTEST_FAKEJLI_PATH) + "\"",
              records[3]);
}
