#include "AppLauncher.h"

#include <memory>
#include <stdexcept>
#include <tuple>

#include <gtest/gtest.h>

#include "FileUtils.h"
#include "JvmLauncher.h"
#include "SysInfo.h"
#include "TestSupport.h"
#include "tstrings.h"

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

    /// `text` with <tmp>, <root>, <runtime>, <cfg> (the file name), <app-path>,
    /// <launcher>, <app> and <bin> filled in.
    std::string expand(std::string text) const {
        for (const auto& [name, value] : {std::pair<const char*, std::string>("<tmp>", tmp.path()),
                                          {"<root>", root}, {"<runtime>", runtimeDir},
                                          {"<cfg>", cfgName}, {"<app-path>", appPathOption()},
                                          {"<launcher>", launcherPath}, {"<app>", appDir},
                                          {"<bin>", FileUtils::dirname(launcherPath)}}) {
            text = tstrings::replace(text, name, value);
        }
        return text;
    }

    /// Creates each path: a directory when it ends with '/', else an empty file.
    void create(const std::vector<std::string>& paths) const {
        for (const std::string& path : paths) {
            if (path.back() == '/') {
                kvtest::makeDirs(expand(path));
            } else {
                kvtest::writeFile(expand(path), "");
            }
        }
    }

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

TEST_F(AppLauncherCfgLookup, LookupDirsInOrderThenAppDirUnchecked) {
    struct Case {
        const char* name;
        std::vector<std::string> dirs, paths; ///< lookup directories, paths created
        std::string expected;
        std::vector<std::string> checked; ///< traced checks
    };
    const Case cases[] = {
        {"without lookup dirs the app dir, unchecked", {}, {}, "<root>/Contents/app/<cfg>", {}},
        {"lookup dirs in order before the app dir", {"<tmp>/first", "<tmp>/second"},
         {"<tmp>/first/", "<tmp>/second/<cfg>", "<root>/Contents/app/<cfg>"}, "<tmp>/second/<cfg>",
         {"<tmp>/first/<cfg>", "<tmp>/second/<cfg>"}},
        {"first dir holding the file wins", {"<tmp>/first/", "<tmp>/second"},
         {"<tmp>/first/<cfg>", "<tmp>/second/<cfg>"}, "<tmp>/first/<cfg>", {"<tmp>/first/<cfg>"}},
        {"falls back to the app dir even when missing", {"<tmp>/nowhere"}, {},
         "<root>/Contents/app/<cfg>", {"<tmp>/nowhere/<cfg>"}},
        {"a directory named like the file counts", {"<tmp>/user"}, {"<tmp>/user/<cfg>/"},
         "<tmp>/user/<cfg>", {"<tmp>/user/<cfg>"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        create(c.paths);
        AppLauncher launcher = makeLauncher();
        std::vector<std::string> checked;
        for (const std::string& dir : c.dirs) {
            launcher.addCfgFileLookupDir(expand(dir));
        }
        for (const std::string& path : c.checked) {
            checked.push_back("Check [" + expand(path) + "] file exit");
        }
        kvtest::LogRecorder log;
        EXPECT_EQ(expand(c.expected), launcher.getCfgFilePath());
        EXPECT_EQ(checked, log.messagesFrom("getCfgFilePath"));
    }
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

TEST_F(AppLauncherJvmLib, ConfiguredOrDefaultRuntimeAndFirstCandidateFound) {
    struct Case {
        const char* name;
        std::string runtime;            ///< app.runtime lines
        std::vector<std::string> paths; ///< paths created
        std::string library;            ///< the library chosen, or else:
        std::string error;              ///< what createJvmLauncher throws
        std::vector<std::string> traced = {};
    };
    const Case cases[] = {
        {"default runtime used and traced", "", {}, "<runtime>/Contents/Home/lib/libjli.dylib", "",
         {"Property \"app.runtime\" not found in \"Application\" section of launcher config "
          "file. Using Java runtime from \"<runtime>\" directory"}},
        {"configured runtime used silently", "app.runtime=/ignored\napp.runtime=$ROOTDIR/Other\n",
         {"<root>/Other/Contents/Home/lib/libjli.dylib"},
         "<root>/Other/Contents/Home/lib/libjli.dylib", ""},
        {"configured runtime without library fails without the default",
         "app.runtime=$ROOTDIR/Bare\n", {"<root>/Bare/Contents/Home/lib/"}, "",
         "Failed to find JVM in \"<root>/Bare\" directory."},
        {"second candidate used when the first is missing", "app.runtime=<root>/Second\n",
         {"<root>/Second/Contents/Home/lib/jli/libjli.dylib"},
         "<root>/Second/Contents/Home/lib/jli/libjli.dylib", ""},
        {"first candidate preferred, a directory counts", "app.runtime=<root>/First\n",
         {"<root>/First/Contents/Home/lib/libjli.dylib/",
          "<root>/First/Contents/Home/lib/jli/libjli.dylib"},
         "<root>/First/Contents/Home/lib/libjli.dylib", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        create(c.paths);
        writeCfg("[Application]\n" + expand(c.runtime) + "app.mainclass=Main\n");
        kvtest::LogRecorder log;
        if (c.error.empty()) {
            EXPECT_EQ(expand(c.library), createJvm()->getLibraryPath());
        } else {
            const kvtest::Thrown thrown = kvtest::thrownBy([&] { createJvm(); });
            EXPECT_EQ(expand(c.error), thrown.raw);
            EXPECT_NE(std::string::npos, thrown.what.find("at findJvmLib(): ")) << thrown.what;
        }
        std::vector<std::string> traced;
        for (const std::string& message : c.traced) {
            traced.push_back(expand(message));
        }
        EXPECT_EQ(traced, log.messagesFrom("findJvmLib"));
    }
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

TEST_F(AppLauncherArguments, VectorOfConfigurationAndCommandLine) {
    const std::string macros = "[Application]\napp.mainclass=Main\n[JavaOptions]\n"
                               "java-options=-Dapp=$APPDIR\njava-options=-Dbin=$BINDIR\n"
                               "java-options=-Droot=$ROOTDIR\n[ArgOptions]\narguments=$APPDIR\n";
    const std::vector<std::string> expanded{"<launcher>", "-Dapp=<app>", "-Dbin=<bin>",
                                            "-Droot=<root>", "<app-path>", "Main"};
    const auto plus = [](std::vector<std::string> v, const std::vector<std::string>& more) {
        v.insert(v.end(), more.begin(), more.end());
        return v;
    };
    const std::tuple<const char*, std::string, std::vector<std::string>, std::vector<std::string>>
        cases[] = {
            {"starts with the launcher path",
             "[Application]\napp.classpath=$APPDIR/app.jar\napp.mainclass=Main\n"
             "[ArgOptions]\narguments=x\narguments=y z\n",
             {}, {"<launcher>", "-classpath", "<app>/app.jar", "<app-path>", "Main", "x", "y z"}},
            {"command line replaces configured arguments",
             "[Application]\napp.mainclass=Main\n[ArgOptions]\narguments=x\narguments=y\n",
             {"a", "-psn_0_123", "b c"}, {"<launcher>", "<app-path>", "Main", "a", "b c"}},
            {"macros expanded in the configuration", macros, {}, plus(expanded, {"<app>"})},
            {"but not on the command line", macros, {"$APPDIR", "$ROOTDIR/x"},
             plus(expanded, {"$APPDIR", "$ROOTDIR/x"})},
        };
    for (const auto& [name, cfg, args, expected] : cases) {
        writeCfg(cfg);
        setCommandLine(plus({launcherPath}, args));
        std::vector<std::string> vector;
        for (const std::string& arg : expected) {
            vector.push_back(expand(arg));
        }
        EXPECT_EQ(vector, createJvm()->getArguments()) << name;
    }
}

TEST_F(AppLauncherTest, LaunchStartsTheRuntimeLibraryAndFailureDestroysTheJvm) {
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

    kvtest::EnvGuard fail("KVTEST_JLI_RETURN", std::string("1"));
    kvtest::LogRecorder log;
    EXPECT_EQ("Failed to launch JVM", kvtest::thrownBy([&] { launcher.launch(); }).raw);
    EXPECT_EQ(1u, log.messagesFrom("~Jvm").size());
}
