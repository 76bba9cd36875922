#include "AppLauncher.h"

#include <memory>
#include <stdexcept>

#include <gtest/gtest.h>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "JvmLauncher.h"
#include "SysInfo.h"
#include "TestSupport.h"

namespace {

const char* const libjli = "Contents/Home/lib/libjli.dylib";
const char* const jliLibjli = "Contents/Home/lib/jli/libjli.dylib";
const char* const minimalCfg = "[Application]\napp.mainclass=Main\n";

// A bundle laid out as the entry point lays it out, with a default runtime
// that holds the first library candidate. The launcher is this test program,
// so its config file is named after it.
class AppLauncherTest : public ::testing::Test {
protected:
    AppLauncherTest()
        : launcherPath(SysInfo::getProcessModulePath()),
          cfgName(FileUtils::basename(launcherPath) + ".cfg"),
          root(tmp / "Test.app"),
          appDir(root + "/Contents/app"),
          runtimeDir(root + "/Contents/runtime"),
          libraryPath("DYLD_LIBRARY_PATH", std::nullopt) {
        setCommandLine({launcherPath});
        kvtest::makeDirs(appDir);
        kvtest::writeFile(runtimeDir + "/" + libjli, "");
    }

    void setCommandLine(const std::vector<std::string>& args) {
        // The old guard restores the real command line before the new one saves it.
        commandLine.reset();
        commandLine.reset(new kvtest::CommandLineGuard(args));
    }

    AppLauncher makeLauncher() const {
        AppLauncher launcher;
        launcher.setRootDir(root)
            .addJvmLibName(libjli)
            .addJvmLibName(jliLibjli)
            .setAppDir(appDir)
            .setLibEnvVariableName("DYLD_LIBRARY_PATH")
            .setDefaultRuntimePath(runtimeDir);
        return launcher;
    }

    void writeCfg(const std::string& content) const {
        kvtest::writeFile(appDir + "/" + cfgName, content);
    }

    std::unique_ptr<Jvm> createJvm() const {
        return std::unique_ptr<Jvm>(makeLauncher().createJvmLauncher());
    }

    std::string appPathOption() const { return "-Dkovalu.app-path=" + launcherPath; }

    kvtest::TempDir tmp;
    const std::string launcherPath;
    const std::string cfgName;
    const std::string root;
    const std::string appDir;
    const std::string runtimeDir;
    kvtest::EnvGuard libraryPath;
    std::unique_ptr<kvtest::CommandLineGuard> commandLine;
};

typedef AppLauncherTest AppLauncherCfgLookup;
typedef AppLauncherTest AppLauncherLibraryPath;
typedef AppLauncherTest AppLauncherJvmLib;
typedef AppLauncherTest AppLauncherArguments;

} // namespace

TEST_F(AppLauncherCfgLookup, WithoutLookupDirsUsesAppDirUnchecked) {
    kvtest::LogRecorder log;
    EXPECT_EQ(appDir + "/" + cfgName, makeLauncher().getCfgFilePath());
    EXPECT_TRUE(log.messagesFrom("getCfgFilePath").empty());
}

TEST_F(AppLauncherCfgLookup, SearchesLookupDirsInOrderBeforeAppDir) {
    const std::string first = tmp / "first";
    const std::string second = tmp / "second";
    kvtest::makeDirs(first);
    kvtest::writeFile(second + "/" + cfgName, "");
    writeCfg("");

    AppLauncher launcher = makeLauncher();
    launcher.addCfgFileLookupDir(first).addCfgFileLookupDir(second);
    kvtest::LogRecorder log;
    EXPECT_EQ(second + "/" + cfgName, launcher.getCfgFilePath());

    const std::vector<std::string> expected = {
        "Check [" + first + "/" + cfgName + "] file exit",
        "Check [" + second + "/" + cfgName + "] file exit",
    };
    EXPECT_EQ(expected, log.messagesFrom("getCfgFilePath"));
}

TEST_F(AppLauncherCfgLookup, FirstDirHoldingTheFileWins) {
    const std::string first = tmp / "first";
    const std::string second = tmp / "second";
    kvtest::writeFile(first + "/" + cfgName, "");
    kvtest::writeFile(second + "/" + cfgName, "");

    AppLauncher launcher = makeLauncher();
    launcher.addCfgFileLookupDir(first + "/").addCfgFileLookupDir(second);
    kvtest::LogRecorder log;
    EXPECT_EQ(first + "/" + cfgName, launcher.getCfgFilePath());
    EXPECT_EQ(1u, log.messagesFrom("getCfgFilePath").size());
}

TEST_F(AppLauncherCfgLookup, FallsBackToAppDirEvenWhenMissing) {
    AppLauncher launcher = makeLauncher();
    launcher.addCfgFileLookupDir(tmp / "nowhere");
    EXPECT_EQ(appDir + "/" + cfgName, launcher.getCfgFilePath());
}

TEST_F(AppLauncherCfgLookup, DirectoryNamedLikeTheFileCounts) {
    const std::string dir = tmp / "user";
    kvtest::makeDirs(dir + "/" + cfgName);
    AppLauncher launcher = makeLauncher();
    launcher.addCfgFileLookupDir(dir);
    EXPECT_EQ(dir + "/" + cfgName, launcher.getCfgFilePath());
}

TEST_F(AppLauncherCfgLookup, PerUserFileIsTheOneLoaded) {
    const std::string user = tmp / "user";
    kvtest::writeFile(user + "/" + cfgName, "[Application]\napp.mainclass=UserMain\n");
    writeCfg("[Application]\napp.mainclass=BundleMain\n");
    AppLauncher launcher = makeLauncher();
    launcher.addCfgFileLookupDir(user);

    kvtest::LogRecorder log;
    const std::unique_ptr<Jvm> jvm(launcher.createJvmLauncher());
    EXPECT_EQ("UserMain", jvm->getArguments().back());
    const std::vector<std::string> traced = log.messagesFrom("createJvmLauncher");
    ASSERT_FALSE(traced.empty());
    EXPECT_EQ("Launcher config file path: \"" + user + "/" + cfgName + "\"", traced.front());
}

TEST_F(AppLauncherCfgLookup, MissingFileFailsBeforeAnyJvmExists) {
    kvtest::LogRecorder log;
    EXPECT_NE("", kvtest::thrownBy([&] { createJvm(); }).raw);
    EXPECT_TRUE(log.messagesFrom("Jvm").empty());
}

TEST_F(AppLauncherLibraryPath, ContainsAppDirOnlyAsAnExactEntry) {
    const AppLauncher launcher = makeLauncher();
    const std::pair<std::string, bool> cases[] = {
        {"/other:" + appDir, true},
        {appDir, true},
        {appDir + ":/other", true},
        {"/other:" + appDir + "/", false},
        {"/other", false},
        {"", false},
    };
    for (const auto& c : cases) {
        kvtest::EnvGuard env("DYLD_LIBRARY_PATH", c.first);
        EXPECT_EQ(c.second, launcher.libEnvVariableContainsAppDir()) << "value: " << c.first;
    }
    kvtest::EnvGuard unset("DYLD_LIBRARY_PATH", std::nullopt);
    EXPECT_FALSE(launcher.libEnvVariableContainsAppDir());
}

TEST_F(AppLauncherLibraryPath, NothingAddedWhenAppDirIsThere) {
    writeCfg(minimalCfg);
    kvtest::EnvGuard env("DYLD_LIBRARY_PATH", "/other:" + appDir);
    const std::unique_ptr<Jvm> jvm = createJvm();
    EXPECT_TRUE(jvm->getEnvNames().empty());
    EXPECT_TRUE(jvm->getEnvValues().empty());
}

TEST_F(AppLauncherLibraryPath, AppDirAppendedToCurrentValue) {
    writeCfg(minimalCfg);
    const std::pair<std::optional<std::string>, std::string> cases[] = {
        {"/other:" + appDir + "/", "/other:" + appDir + "/:" + appDir},
        {std::string(), ":" + appDir},
        {std::nullopt, ":" + appDir},
    };
    for (const auto& c : cases) {
        kvtest::EnvGuard env("DYLD_LIBRARY_PATH", c.first);
        const std::unique_ptr<Jvm> jvm = createJvm();
        EXPECT_EQ(std::vector<std::string>{"DYLD_LIBRARY_PATH"}, jvm->getEnvNames());
        EXPECT_EQ(std::vector<std::string>{c.second}, jvm->getEnvValues());
        // Only the Jvm sets it, when it starts the runtime.
        EXPECT_EQ(c.first.value_or("<unset>"),
                  SysInfo::getEnvVariable(std::nothrow, "DYLD_LIBRARY_PATH", "<unset>"));
    }
}

TEST_F(AppLauncherJvmLib, DefaultRuntimeUsedAndTraced) {
    writeCfg(minimalCfg);
    kvtest::LogRecorder log;
    const std::unique_ptr<Jvm> jvm = createJvm();
    EXPECT_EQ(runtimeDir + "/" + libjli, jvm->getLibraryPath());
    const std::vector<std::string> expected = {
        "Property \"app.runtime\" not found in \"Application\" section of launcher config file."
        " Using Java runtime from \"" + runtimeDir + "\" directory",
    };
    EXPECT_EQ(expected, log.messagesFrom("findJvmLib"));
}

TEST_F(AppLauncherJvmLib, ConfiguredRuntimeUsedSilently) {
    kvtest::writeFile(root + "/Other/" + libjli, "");
    writeCfg("[Application]\napp.runtime=/ignored\napp.runtime=$ROOTDIR/Other\n"
             "app.mainclass=Main\n");
    kvtest::LogRecorder log;
    const std::unique_ptr<Jvm> jvm = createJvm();
    EXPECT_EQ(root + "/Other/" + libjli, jvm->getLibraryPath());
    EXPECT_TRUE(log.messagesFrom("findJvmLib").empty());
}

TEST_F(AppLauncherJvmLib, ConfiguredRuntimeWithoutLibraryFailsWithoutDefault) {
    kvtest::makeDirs(root + "/Other/Contents/Home/lib");
    writeCfg("[Application]\napp.runtime=$ROOTDIR/Other\napp.mainclass=Main\n");
    const kvtest::Thrown thrown = kvtest::thrownBy([&] { createJvm(); });
    EXPECT_EQ("Failed to find JVM in \"" + root + "/Other\" directory.", thrown.raw);
    EXPECT_NE(std::string::npos, thrown.what.find("at findJvmLib(): ")) << thrown.what;
}

TEST_F(AppLauncherJvmLib, SecondCandidateUsedWhenFirstMissing) {
    const std::string other = root + "/Other";
    kvtest::writeFile(other + "/" + jliLibjli, "");
    writeCfg("[Application]\napp.runtime=" + other + "\napp.mainclass=Main\n");
    EXPECT_EQ(other + "/" + jliLibjli, createJvm()->getLibraryPath());
}

TEST_F(AppLauncherJvmLib, FirstCandidatePreferredAndDirectoryCounts) {
    const std::string other = root + "/Other";
    kvtest::makeDirs(other + "/" + libjli);
    kvtest::writeFile(other + "/" + jliLibjli, "");
    writeCfg("[Application]\napp.runtime=" + other + "\napp.mainclass=Main\n");
    EXPECT_EQ(other + "/" + libjli, createJvm()->getLibraryPath());
}

TEST_F(AppLauncherJvmLib, NoCandidatesMeansNotFound) {
    writeCfg(minimalCfg);
    AppLauncher launcher;
    launcher.setAppDir(appDir).setDefaultRuntimePath(runtimeDir);
    EXPECT_EQ("Failed to find JVM in \"" + runtimeDir + "\" directory.",
              kvtest::thrownBy([&] { delete launcher.createJvmLauncher(); }).raw);
}

TEST_F(AppLauncherJvmLib, HalfBuiltJvmIsDestroyedOnFailure) {
    kvtest::makeDirs(root + "/Empty");
    writeCfg("[Application]\napp.runtime=" + root + "/Empty\n");
    kvtest::LogRecorder log;
    EXPECT_NE("", kvtest::thrownBy([&] { createJvm(); }).raw);
    EXPECT_EQ(1u, log.messagesFrom("Jvm").size());
    EXPECT_EQ(1u, log.messagesFrom("~Jvm").size());
}

TEST_F(AppLauncherArguments, FullVectorStartsWithLauncherPath) {
    writeCfg("[Application]\napp.classpath=$APPDIR/app.jar\napp.mainclass=Main\n"
             "[ArgOptions]\narguments=x\narguments=y z\n");
    const std::vector<std::string> expected = {
        launcherPath, "-classpath", appDir + "/app.jar", appPathOption(), "Main", "x", "y z",
    };
    const std::unique_ptr<Jvm> jvm = createJvm();
    EXPECT_EQ(expected, jvm->getArguments());
}

TEST_F(AppLauncherArguments, CommandLineReplacesConfiguredArguments) {
    writeCfg("[Application]\napp.mainclass=Main\n[ArgOptions]\narguments=x\narguments=y\n");
    setCommandLine({launcherPath, "a", "-psn_0_123", "b c"});
    const std::vector<std::string> expected = {launcherPath, appPathOption(), "Main", "a", "b c"};
    EXPECT_EQ(expected, createJvm()->getArguments());
}

TEST_F(AppLauncherArguments, MacrosExpandedInConfigOnly) {
    writeCfg("[Application]\napp.mainclass=Main\n"
             "[JavaOptions]\njava-options=-Dapp=$APPDIR\njava-options=-Dbin=$BINDIR\n"
             "java-options=-Droot=$ROOTDIR\n"
             "[ArgOptions]\narguments=$APPDIR\n");
    const std::vector<std::string> common = {
        launcherPath,
        "-Dapp=" + appDir,
        "-Dbin=" + FileUtils::dirname(launcherPath),
        "-Droot=" + root,
        appPathOption(),
        "Main",
    };

    std::vector<std::string> configured = common;
    configured.push_back(appDir);
    EXPECT_EQ(configured, createJvm()->getArguments());

    setCommandLine({launcherPath, "$APPDIR", "$ROOTDIR/x"});
    std::vector<std::string> typed = common;
    typed.push_back("$APPDIR");
    typed.push_back("$ROOTDIR/x");
    EXPECT_EQ(typed, createJvm()->getArguments());
}

TEST_F(AppLauncherTest, LaunchStartsTheRuntimeLibrary) {
    const std::string fakeJli = KVTEST_FAKEJLI_PATH;
    const std::string record = tmp / "record";
    kvtest::EnvGuard recordEnv("KVTEST_JLI_RECORD", record);
    kvtest::EnvGuard envNames("KVTEST_JLI_ENV", std::string("DYLD_LIBRARY_PATH"));
    kvtest::EnvGuard result("KVTEST_JLI_RETURN", std::nullopt);
    writeCfg("[Application]\napp.mainclass=Main\n");
    setCommandLine({launcherPath, "arg"});

    AppLauncher launcher;
    launcher.addJvmLibName(FileUtils::basename(fakeJli))
        .setAppDir(appDir)
        .setLibEnvVariableName("DYLD_LIBRARY_PATH")
        .setDefaultRuntimePath(FileUtils::dirname(fakeJli));
    launcher.launch();

    const std::vector<kvtest::JliCall> calls = kvtest::readJliRecord(record);
    ASSERT_EQ(1u, calls.size());
    const std::vector<std::string> expected = {launcherPath, appPathOption(), "Main", "arg"};
    EXPECT_EQ(expected, calls[0].argv);
    EXPECT_EQ(std::optional<std::string>(":" + appDir), calls[0].env.at("DYLD_LIBRARY_PATH"));
}

TEST_F(AppLauncherTest, FailedLaunchThrowsAndDestroysTheJvm) {
    const std::string fakeJli = KVTEST_FAKEJLI_PATH;
    kvtest::EnvGuard recordEnv("KVTEST_JLI_RECORD", tmp / "record");
    kvtest::EnvGuard result("KVTEST_JLI_RETURN", std::string("1"));
    writeCfg("[Application]\napp.mainclass=Main\n");

    AppLauncher launcher;
    launcher.addJvmLibName(FileUtils::basename(fakeJli))
        .setAppDir(appDir)
        .setLibEnvVariableName("DYLD_LIBRARY_PATH")
        .setDefaultRuntimePath(FileUtils::dirname(fakeJli));
    kvtest::LogRecorder log;
    EXPECT_EQ("Failed to launch JVM", kvtest::thrownBy([&] { launcher.launch(); }).raw);
    EXPECT_EQ(1u, log.messagesFrom("~Jvm").size());
}
