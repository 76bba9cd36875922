// The launcher executable started from bundles whose runtime library is the
// recording double.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "E2eSupport.h"
#include "TestSupport.h"

using e2e::Bundle;
using e2e::Env;
using e2e::Launch;
using e2e::lines;
using e2e::runLauncher;
using Args = std::vector<std::string>;

namespace {

class FakeRuntimeBundle : public ::testing::Test {
protected:
    FakeRuntimeBundle() : bundle(tmp.path(), "App") {
        bundle.linkRuntimeLibrary(KVTEST_FAKEJLI_PATH);
    }

    std::string appPathOption() const { return "-Dkovalu.app-path=" + bundle.launcher; }

    /// The one JLI_Launch call of a successful run, which printed nothing.
    static kvtest::JliCall onlyCall(const Launch& launch) {
        EXPECT_EQ(0, launch.process.exitCode) << launch.process.err;
        EXPECT_EQ("", launch.process.err);
        EXPECT_EQ("", launch.process.out);
        if (launch.calls.size() != 1) {
            ADD_FAILURE() << launch.calls.size() << " JLI_Launch calls";
            return launch.calls.empty() ? kvtest::JliCall() : launch.calls.front();
        }
        return launch.calls.front();
    }

    /// A failed run: status 1, nothing on standard output, no runtime started.
    static void expectFailure(const Launch& launch) {
        EXPECT_EQ(1, launch.process.exitCode);
        EXPECT_EQ("", launch.process.out);
        EXPECT_TRUE(launch.calls.empty());
    }

    kvtest::TempDir tmp;
    Bundle bundle;
};

/// A regular expression that matches exactly `text`.
std::string quote(const std::string& text) {
    static const std::string special = "\\^$.|?*+()[]{}";
    std::string out;
    for (char c : text) {
        if (special.find(c) != std::string::npos) {
            out += '\\';
        }
        out += c;
    }
    return out;
}

const char* const mainJarCfg = "[Application]\napp.mainjar=$APPDIR/main.jar\n";

} // namespace

class LauncherArguments : public FakeRuntimeBundle {};

TEST_F(LauncherArguments, FullConfigurationReachesTheRuntimeInOrder) {
    kvtest::writeFile(bundle.appDir + "/splash.png", "png");
    bundle.writeCfg("; every kind of entry\n"
                    "[Application]\n"
                    "app.mainjar=$APPDIR/main.jar\n"
                    "app.mainclass=demo.Main\n"
                    "app.mainmodule=demo.mod/demo.Main\n"
                    "app.splash=$APPDIR/splash.png\n"
                    "app.modulepath=$APPDIR/mods\n"
                    "app.modulepath=$ROOTDIR/more mods\n"
                    "app.classpath=$APPDIR/a.jar\n"
                    "app.classpath=$BINDIR/b.jar\n"
                    "[JavaOptions]\n"
                    "java-options=-Xmx64m\n"
                    "java-options=-Dgreeting=hello world\n"
                    "[ArgOptions]\n"
                    "arguments=first\n"
                    "arguments=second arg\n");

    const kvtest::JliCall& call = onlyCall(runLauncher(bundle.launcher));

    const std::string& a = bundle.appDir;
    const Args expected{bundle.launcher,
                        "--module-path", a + "/mods",
                        "--module-path", bundle.root + "/more mods",
                        "-classpath", a + "/a.jar:" + bundle.root + "/Contents/MacOS/b.jar",
                        "-splash:" + a + "/splash.png",
                        "-Xmx64m",
                        "-Dgreeting=hello world",
                        appPathOption(),
                        "-m", "demo.mod/demo.Main",
                        "demo.Main",
                        "-jar", a + "/main.jar",
                        "first",
                        "second arg"};
    EXPECT_EQ(expected, call.argv);
    EXPECT_EQ(std::to_string(expected.size()), call.fields.at("argc"));
    EXPECT_EQ("1", call.fields.at("argv_terminated"));
}

TEST_F(LauncherArguments, FixedTrailingArgumentsOfTheRuntimeCall) {
    bundle.writeCfg(mainJarCfg);

    const kvtest::JliCall& call = onlyCall(runLauncher(bundle.launcher));

    const std::map<std::string, std::string> expected{
        {"jargc", "0"},       {"jargv", "null"},       {"appclassc", "0"},
        {"appclassv", "null"}, {"fullversion", ""},    {"dotversion", ""},
        {"pname", "java"},    {"lname", "java"},       {"javaargs", "0"},
        {"cpwildcard", "0"},  {"javaw", "0"},          {"ergo", "0"}};
    for (const auto& kv : expected) {
        ASSERT_EQ(1u, call.fields.count(kv.first)) << kv.first;
        EXPECT_EQ(kv.second, call.fields.at(kv.first)) << kv.first;
    }
}

TEST_F(LauncherArguments, MainClassWithSingleClassPathEntry) {
    bundle.writeCfg("[Application]\napp.classpath=$APPDIR/classes\napp.mainclass=a.B\n");

    const kvtest::JliCall& call = onlyCall(runLauncher(bundle.launcher));

    EXPECT_EQ((Args{bundle.launcher, "-classpath", bundle.appDir + "/classes", appPathOption(),
                    "a.B"}),
              call.argv);
}

TEST_F(LauncherArguments, EmptyConfigurationGivesOnlyTheAppPath) {
    bundle.writeCfg("");

    const kvtest::JliCall& call = onlyCall(runLauncher(bundle.launcher));

    EXPECT_EQ((Args{bundle.launcher, appPathOption()}), call.argv);
}

TEST_F(LauncherArguments, MacrosExpandInEveryValueAndInsideWords) {
    bundle.writeCfg("[Application]\n"
                    "app.mainclass=a.B\n"
                    "[JavaOptions]\n"
                    "java-options=-Dapp=$APPDIR\n"
                    "java-options=-Dbin=$BINDIR\n"
                    "java-options=-Droot=$ROOTDIR\n"
                    "java-options=-Dglued=$APPDIRS:$ROOTDIR$BINDIR\n"
                    "java-options=-Dplain=$HOME $appdir\n"
                    "[ArgOptions]\n"
                    "arguments=$ROOTDIR/x\n");

    const kvtest::JliCall& call = onlyCall(runLauncher(bundle.launcher));

    const std::string bin = bundle.root + "/Contents/MacOS";
    EXPECT_EQ((Args{bundle.launcher, "-Dapp=" + bundle.appDir, "-Dbin=" + bin,
                    "-Droot=" + bundle.root,
                    "-Dglued=" + bundle.appDir + "S:" + bundle.root + bin,
                    "-Dplain=$HOME $appdir", appPathOption(), "a.B", bundle.root + "/x"}),
              call.argv);
}

TEST_F(LauncherArguments, CommandLineReplacesConfiguredArguments) {
    bundle.writeCfg(std::string(mainJarCfg) + "[ArgOptions]\narguments=one\narguments=two\n");

    const kvtest::JliCall& call = onlyCall(runLauncher(
        bundle.launcher, {"x y", "-psn_0_12345", "$APPDIR", "", "-psn_", "-PSN_1", "last"}));

    // Command-line arguments are the user's: never macro-expanded, empty ones kept.
    EXPECT_EQ((Args{bundle.launcher, appPathOption(), "-jar", bundle.appDir + "/main.jar", "x y",
                    "$APPDIR", "", "-PSN_1", "last"}),
              call.argv);
}

TEST_F(LauncherArguments, OnlyProcessSerialNumberKeepsConfiguredArguments) {
    bundle.writeCfg(std::string(mainJarCfg) + "[ArgOptions]\narguments=one\narguments=two\n");

    const kvtest::JliCall& call = onlyCall(runLauncher(bundle.launcher, {"-psn_0_98765"}));

    EXPECT_EQ((Args{bundle.launcher, appPathOption(), "-jar", bundle.appDir + "/main.jar", "one",
                    "two"}),
              call.argv);
}

TEST_F(LauncherArguments, MissingSplashImageIsLeftOut) {
    bundle.writeCfg("[Application]\napp.splash=$APPDIR/none.png\napp.mainclass=a.B\n");

    const kvtest::JliCall& call = onlyCall(runLauncher(bundle.launcher));

    EXPECT_EQ((Args{bundle.launcher, appPathOption(), "a.B"}), call.argv);
}

class LauncherConfigLookup : public FakeRuntimeBundle {
protected:
    LauncherConfigLookup() : home(tmp / "home") {
        kvtest::makeDirs(home);
        bundle.writeCfg("[Application]\napp.mainclass=bundle.Main\n");
    }

    std::string userCfg(const std::string& package) const {
        return home + "/Library/Application Support/" + package + "/App.cfg";
    }

    std::string home;
};

TEST_F(LauncherConfigLookup, PerUserConfigurationComesFirst) {
    kvtest::writeFile(bundle.appDir + "/.package", "com.example kv\nignored\n");
    kvtest::writeFile(userCfg("com.example kv"), "[Application]\napp.mainclass=user.Main\n");

    const kvtest::JliCall& call = onlyCall(runLauncher(bundle.launcher, {}, {{"HOME", home}}));

    EXPECT_EQ((Args{bundle.launcher, appPathOption(), "user.Main"}), call.argv);
}

TEST_F(LauncherConfigLookup, PackageWithoutPerUserConfigurationUsesTheBundle) {
    kvtest::writeFile(bundle.appDir + "/.package", "com.example.kv");
    kvtest::writeFile(userCfg("com.example.other"), "[Application]\napp.mainclass=user.Main\n");

    const kvtest::JliCall& call = onlyCall(runLauncher(bundle.launcher, {}, {{"HOME", home}}));

    EXPECT_EQ((Args{bundle.launcher, appPathOption(), "bundle.Main"}), call.argv);
}

TEST_F(LauncherConfigLookup, NoPackageFileMeansNoPerUserConfiguration) {
    kvtest::writeFile(userCfg(""), "[Application]\napp.mainclass=user.Main\n");
    kvtest::writeFile(userCfg("App"), "[Application]\napp.mainclass=user.Main\n");

    const kvtest::JliCall& call = onlyCall(runLauncher(bundle.launcher, {}, {{"HOME", home}}));

    EXPECT_EQ((Args{bundle.launcher, appPathOption(), "bundle.Main"}), call.argv);
}

TEST_F(LauncherConfigLookup, EmptyPackageNameMeansNoPerUserConfiguration) {
    kvtest::writeFile(bundle.appDir + "/.package", "\ncom.example.kv\n");
    kvtest::writeFile(userCfg("com.example.kv"), "[Application]\napp.mainclass=user.Main\n");
    kvtest::writeFile(userCfg(""), "[Application]\napp.mainclass=user.Main\n");

    const kvtest::JliCall& call = onlyCall(runLauncher(bundle.launcher, {}, {{"HOME", home}}));

    EXPECT_EQ((Args{bundle.launcher, appPathOption(), "bundle.Main"}), call.argv);
}

TEST_F(LauncherConfigLookup, UnsetOrEmptyHomeFallsBackToTheBundle) {
    kvtest::writeFile(bundle.appDir + "/.package", "com.example.kv\n");
    kvtest::writeFile(userCfg("com.example.kv"), "[Application]\napp.mainclass=user.Main\n");
    kvtest::writeFile(bundle.appDir + "/Library/Application Support/com.example.kv/App.cfg",
                      "[Application]\napp.mainclass=relative.Main\n");

    for (const std::optional<std::string>& value :
         {std::optional<std::string>(), std::optional<std::string>("")}) {
        SCOPED_TRACE(value ? "HOME empty" : "HOME unset");
        const kvtest::JliCall& call =
            onlyCall(runLauncher(bundle.launcher, {}, {{"HOME", value}}, bundle.appDir));
        EXPECT_EQ((Args{bundle.launcher, appPathOption(), "bundle.Main"}), call.argv);
    }
}

TEST_F(LauncherConfigLookup, UnsetHomeIsReportedOnlyWithDebugOutput) {
    kvtest::writeFile(bundle.appDir + "/.package", "com.example.kv\n");

    const Launch launch =
        runLauncher(bundle.launcher, {}, {{"HOME", std::nullopt}, {"KOVALU_DEBUG", "true"}});

    EXPECT_EQ(0, launch.process.exitCode);
    ASSERT_EQ(1u, launch.calls.size());
    const std::regex report(R"(\[ERROR\] MacLauncher\.cpp:[0-9]+: Exception with message '.*)"
                            R"(getenv\(HOME\) failed\. Variable not set' caught)");
    const std::vector<std::string> err = lines(launch.process.err);
    EXPECT_EQ(1, std::count_if(err.begin(), err.end(), [&](const std::string& line) {
                  return std::regex_match(line, report);
              })) << launch.process.err;
}

class LauncherRuntime : public FakeRuntimeBundle {};

TEST_F(LauncherRuntime, ConfiguredRuntimeReplacesTheBundledOne) {
    kvtest::TempDir other;
    kvtest::makeDirs(other / "jre/Contents/Home/lib");
    kvtest::makeSymlink(KVTEST_FAKEJLI_PATH, other / "jre/Contents/Home/lib/libjli.dylib");
    // The bundled runtime would fail: only the configured one may be used.
    ::unlink(bundle.defaultLibrary().c_str());
    kvtest::makeSymlink(KVTEST_FAKEJLI_NOSYM_PATH, bundle.defaultLibrary());
    bundle.writeCfg("[Application]\napp.runtime=" + (other / "jre") + "\napp.mainclass=a.B\n");

    const Launch launch = runLauncher(bundle.launcher, {}, {{"KOVALU_DEBUG", "true"}});

    EXPECT_EQ(0, launch.process.exitCode) << launch.process.err;
    EXPECT_EQ(1u, launch.calls.size());
    const std::vector<std::string> err = lines(launch.process.err);
    EXPECT_NE(err.end(), std::find(err.begin(), err.end(),
                                   "jli lib: [" + (other / "jre/Contents/Home/lib/libjli.dylib") +
                                       "]"))
        << launch.process.err;
}

TEST_F(LauncherRuntime, ConfiguredRuntimeWithMacroIsBundleRelative) {
    kvtest::makeDirs(bundle.root + "/Contents/jre/Contents/Home/lib");
    kvtest::makeSymlink(KVTEST_FAKEJLI_PATH,
                        bundle.root + "/Contents/jre/Contents/Home/lib/libjli.dylib");
    ::unlink(bundle.defaultLibrary().c_str());
    bundle.writeCfg("[Application]\napp.runtime=$ROOTDIR/Contents/jre\napp.mainclass=a.B\n");

    const kvtest::JliCall& call = onlyCall(runLauncher(bundle.launcher, {}, {}, tmp.path()));

    EXPECT_EQ((Args{bundle.launcher, appPathOption(), "a.B"}), call.argv);
}

TEST_F(LauncherRuntime, ConfiguredRuntimeWithoutLibraryFailsWithoutFallback) {
    kvtest::makeDirs(bundle.root + "/jre/Contents/Home/lib");
    bundle.writeCfg("[Application]\napp.runtime=$ROOTDIR/jre\napp.mainclass=a.B\n");

    const Launch launch = runLauncher(bundle.launcher);

    expectFailure(launch);
    EXPECT_EQ("Failed to find JVM in \"" + bundle.root + "/jre\" directory.\n",
              launch.process.err);
}

TEST_F(LauncherRuntime, SecondLibraryCandidateIsUsedWhenTheFirstIsMissing) {
    ::unlink(bundle.defaultLibrary().c_str());
    bundle.linkRuntimeLibrary(KVTEST_FAKEJLI_PATH, "Contents/Home/lib/jli/libjli.dylib");
    bundle.writeCfg(mainJarCfg);

    const Launch launch = runLauncher(bundle.launcher, {}, {{"KOVALU_DEBUG", "true"}});

    EXPECT_EQ(0, launch.process.exitCode) << launch.process.err;
    EXPECT_EQ(1u, launch.calls.size());
    const std::vector<std::string> err = lines(launch.process.err);
    EXPECT_NE(err.end(),
              std::find(err.begin(), err.end(),
                        "jli lib: [" + bundle.root +
                            "/Contents/runtime/Contents/Home/lib/jli/libjli.dylib]"))
        << launch.process.err;
}

TEST_F(LauncherRuntime, FirstLibraryCandidateWins) {
    bundle.linkRuntimeLibrary(KVTEST_FAKEJLI_NOSYM_PATH, "Contents/Home/lib/jli/libjli.dylib");
    bundle.writeCfg(mainJarCfg);

    const kvtest::JliCall& call = onlyCall(runLauncher(bundle.launcher));

    EXPECT_EQ(bundle.launcher, call.argv.at(0));
}

class LauncherLibraryPath : public FakeRuntimeBundle {
protected:
    LauncherLibraryPath() { bundle.writeCfg(mainJarCfg); }

    /// DYLD_LIBRARY_PATH as the runtime saw it, given its value at start.
    std::optional<std::string> seenBy(const std::optional<std::string>& start) {
        const kvtest::JliCall& call =
            onlyCall(runLauncher(bundle.launcher, {}, {{"DYLD_LIBRARY_PATH", start}}));
        const auto it = call.env.find("DYLD_LIBRARY_PATH");
        if (it == call.env.end()) {
            ADD_FAILURE() << "DYLD_LIBRARY_PATH not recorded";
            return std::nullopt;
        }
        return it->second;
    }
};

TEST_F(LauncherLibraryPath, AppDirIsAppendedWhenMissing) {
    EXPECT_EQ(":" + bundle.appDir, seenBy(std::nullopt));
    EXPECT_EQ(":" + bundle.appDir, seenBy(std::string()));
    EXPECT_EQ("/opt/lib:" + bundle.appDir, seenBy(std::string("/opt/lib")));
    // The comparison is exact: a trailing slash is another directory.
    EXPECT_EQ(bundle.appDir + "/:" + bundle.appDir, seenBy(bundle.appDir + "/"));
}

TEST_F(LauncherLibraryPath, ValueHoldingAppDirIsLeftAlone) {
    for (const std::string& value :
         {bundle.appDir, "/opt/lib:" + bundle.appDir, bundle.appDir + "::/opt/lib"}) {
        EXPECT_EQ(value, seenBy(value));
    }
}

class LauncherFailure : public FakeRuntimeBundle {};

TEST_F(LauncherFailure, MissingConfigFile) {
    const Launch launch = runLauncher(bundle.launcher);

    expectFailure(launch);
    EXPECT_EQ("Error opening \"" + bundle.cfgPath + "\" file: No such file or directory\n",
              launch.process.err);
}

TEST_F(LauncherFailure, HeaderWithoutClosingBracket) {
    bundle.writeCfg("; comment\n\n[Application]\napp.mainclass=a.B\n[JavaOptions\n");

    const Launch launch = runLauncher(bundle.launcher);

    expectFailure(launch);
    EXPECT_EQ("Error parsing [" + bundle.cfgPath + "] file at 5: Missing ']' character\n",
              launch.process.err);
}

TEST_F(LauncherFailure, NoRuntimeLibrary) {
    ::unlink(bundle.defaultLibrary().c_str());
    bundle.writeCfg(mainJarCfg);

    const Launch launch = runLauncher(bundle.launcher);

    expectFailure(launch);
    EXPECT_EQ("Failed to find JVM in \"" + bundle.root + "/Contents/runtime\" directory.\n",
              launch.process.err);
}

TEST_F(LauncherFailure, UnloadableRuntimeLibrary) {
    ::unlink(bundle.defaultLibrary().c_str());
    kvtest::writeFile(bundle.defaultLibrary(), "not a library\n");
    bundle.writeCfg(mainJarCfg);

    const Launch launch = runLauncher(bundle.launcher);

    expectFailure(launch);
    const std::string prefix = "dlopen(" + bundle.defaultLibrary() + ") failed. Error: ";
    EXPECT_EQ(prefix, launch.process.err.substr(0, prefix.size())) << launch.process.err;
    EXPECT_GT(launch.process.err.size(), prefix.size() + 1);
    EXPECT_EQ(1u, lines(launch.process.err).size()) << launch.process.err;
}

TEST_F(LauncherFailure, RuntimeLibraryWithoutEntryPoint) {
    ::unlink(bundle.defaultLibrary().c_str());
    bundle.linkRuntimeLibrary(KVTEST_FAKEJLI_NOSYM_PATH);
    bundle.writeCfg(mainJarCfg);

    const Launch launch = runLauncher(bundle.launcher);

    expectFailure(launch);
    const std::string prefix = "dlsym(" + bundle.defaultLibrary() + ", JLI_Launch) failed. Error: ";
    EXPECT_EQ(prefix, launch.process.err.substr(0, prefix.size())) << launch.process.err;
    EXPECT_EQ(1u, lines(launch.process.err).size()) << launch.process.err;
}

TEST_F(LauncherFailure, RuntimeReportsFailure) {
    bundle.writeCfg(mainJarCfg);

    const Launch launch = runLauncher(bundle.launcher, {}, {{"KVTEST_JLI_RETURN", "7"}});

    EXPECT_EQ(1, launch.process.exitCode);
    EXPECT_EQ("", launch.process.out);
    EXPECT_EQ(1u, launch.calls.size());
    EXPECT_EQ("Failed to launch JVM\n", launch.process.err);
}

TEST_F(LauncherFailure, DebugSwitchIsExactlyTrue) {
    for (const char* value : {"TRUE", "1", " true", "true ", ""}) {
        SCOPED_TRACE(value);
        const Launch launch = runLauncher(bundle.launcher, {}, {{"KOVALU_DEBUG", value}});
        EXPECT_EQ("Error opening \"" + bundle.cfgPath + "\" file: No such file or directory\n",
                  launch.process.err);
    }
}

class LauncherDebugOutput : public FakeRuntimeBundle {};

TEST_F(LauncherDebugOutput, FailureShowsErrorRecordThenTheLine) {
    const Launch launch = runLauncher(bundle.launcher, {}, {{"KOVALU_DEBUG", "true"}});

    expectFailure(launch);
    const std::string message =
        quote("Error opening \"" + bundle.cfgPath + "\" file: No such file or directory");
    const std::vector<std::string> expected{
        R"(\[TRACE\] app\.cpp:[0-9]+: Entering launch)",
        R"(\[TRACE\] AppLauncher\.cpp:[0-9]+: Launcher config file path: )" +
            quote("\"" + bundle.cfgPath + "\""),
        R"(\[ERROR\] app\.cpp:[0-9]+: Exception with message 'CfgFile\.cpp\([0-9]+\) at )"
        R"(load\(\): )" + message + "' caught",
        message,
        R"(\[TRACE\] app\.cpp:0: Exiting launch \(entered at app\.cpp:[0-9]+\))"};
    const std::vector<std::string> err = lines(launch.process.err);
    ASSERT_EQ(expected.size(), err.size()) << launch.process.err;
    for (std::size_t i = 0; i < err.size(); ++i) {
        EXPECT_TRUE(std::regex_match(err[i], std::regex(expected[i])))
            << err[i] << "\ndoes not match\n" << expected[i];
    }
}

TEST_F(LauncherDebugOutput, RuntimeBridgeShowsLibraryArgumentsAndEnvironment) {
    bundle.writeCfg("[Application]\napp.mainclass=a.B\napp.splash=$APPDIR/none.png\n"
                    "[ArgOptions]\narguments=100%s %d\n");

    const Launch launch = runLauncher(bundle.launcher, {}, {{"KOVALU_DEBUG", "true"}});

    EXPECT_EQ(0, launch.process.exitCode) << launch.process.err;
    ASSERT_EQ(1u, launch.calls.size());
    const Args& argv = launch.calls.front().argv;
    ASSERT_EQ((Args{bundle.launcher, appPathOption(), "a.B", "100%s %d"}), argv);

    std::vector<std::string> expected{"jli lib: [" + bundle.defaultLibrary() + "]"};
    for (std::size_t i = 0; i < argv.size(); ++i) {
        expected.push_back("jli arg[" + std::to_string(i) + "]: [" + argv[i] + "]");
    }
    expected.push_back("env var[0]: DYLD_LIBRARY_PATH=[:" + bundle.appDir + "]");
    const std::vector<std::string> err = lines(launch.process.err);
    const auto first = std::find(err.begin(), err.end(), expected.front());
    ASSERT_NE(err.end(), first) << launch.process.err;
    ASSERT_GE(static_cast<std::size_t>(err.end() - first), expected.size()) << launch.process.err;
    EXPECT_EQ(expected, std::vector<std::string>(first, first + expected.size()));

    const std::regex warning(R"(\[WARNING\] JvmLauncher\.cpp:[0-9]+: Splash property ignored\. )"
                             R"(File ".*/Contents/app/none\.png" not found)");
    EXPECT_EQ(1, std::count_if(err.begin(), err.end(), [&](const std::string& line) {
                  return std::regex_match(line, warning);
              })) << launch.process.err;
}

class LauncherReentry : public FakeRuntimeBundle {};

TEST_F(LauncherReentry, SecondEntryLaunchesTheSameJvmAgain) {
    bundle.writeCfg(std::string(mainJarCfg) + "[ArgOptions]\narguments=configured\n");

    const Launch launch = runLauncher(bundle.launcher, {"given", "-psn_0_1"},
                                      {{"KVTEST_JLI_REENTER", "1"}, {"KOVALU_DEBUG", "true"}});

    EXPECT_EQ(0, launch.process.exitCode) << launch.process.err;
    ASSERT_EQ(2u, launch.calls.size());
    // Had the second entry rebuilt the Jvm, it would have read the runtime's
    // argument vector as its command line.
    const Args expected{bundle.launcher, appPathOption(), "-jar", bundle.appDir + "/main.jar",
                        "given"};
    EXPECT_EQ(expected, launch.calls[0].argv);
    EXPECT_EQ(expected, launch.calls[1].argv);
    EXPECT_EQ("0", launch.calls.back().fields.at("reenter"));

    const std::vector<std::string> err = lines(launch.process.err);
    const auto count = [&](const std::string& part) {
        return std::count_if(err.begin(), err.end(), [&](const std::string& line) {
            return line.find(part) != std::string::npos;
        });
    };
    EXPECT_EQ(1, count("Launcher config file path: ")) << launch.process.err;
    EXPECT_EQ(2, count("jli lib: [")) << launch.process.err;
}

class LauncherLinks : public FakeRuntimeBundle {
protected:
    LauncherLinks() {
        bundle.writeCfg("[Application]\napp.mainclass=real.Main\n");
        kvtest::makeDirs(tmp / "links");
        kvtest::makeDirs(tmp / "elsewhere");
    }

    /// The run was the real bundle's launcher, whatever path started it.
    void expectRealBundle(const Launch& launch) {
        const kvtest::JliCall& call = onlyCall(launch);
        EXPECT_EQ((Args{bundle.launcher, appPathOption(), "real.Main"}), call.argv);
    }
};

TEST_F(LauncherLinks, AbsoluteLink) {
    kvtest::makeSymlink(bundle.launcher, tmp / "links/app");

    expectRealBundle(runLauncher(tmp / "links/app"));
}

TEST_F(LauncherLinks, RelativeLinkStartedFromAnotherDirectory) {
    kvtest::makeSymlink("../App.app/Contents/MacOS/App", tmp / "links/app");

    expectRealBundle(runLauncher(tmp / "links/app", {}, {}, tmp / "elsewhere"));
    expectRealBundle(runLauncher("../links/app", {}, {}, tmp / "elsewhere"));
}

TEST_F(LauncherLinks, ChainOfLinks) {
    kvtest::makeDirs(tmp / "links/deeper");
    kvtest::makeSymlink("../../App.app/Contents/MacOS/App", tmp / "links/deeper/third");
    kvtest::makeSymlink(tmp / "links/deeper/third", tmp / "links/second");
    kvtest::makeSymlink("second", tmp / "links/first");

    expectRealBundle(runLauncher(tmp / "links/first", {}, {}, tmp / "elsewhere"));
}

TEST_F(LauncherLinks, LinkInsideAnotherBundle) {
    // A link at the launcher's depth in another bundle must still start the
    // bundle it points to, not the one it sits in.
    Bundle decoy(tmp / "links", "App");
    decoy.writeCfg("[Application]\napp.mainclass=decoy.Main\n");
    decoy.linkRuntimeLibrary(KVTEST_FAKEJLI_PATH);
    ::unlink(decoy.launcher.c_str());
    kvtest::makeSymlink(bundle.launcher, decoy.launcher);

    expectRealBundle(runLauncher(decoy.launcher));
}

TEST_F(LauncherLinks, StartedWithRelativePath) {
    expectRealBundle(runLauncher("App.app/Contents/MacOS/App", {}, {}, tmp.path()));
    expectRealBundle(runLauncher("./App", {}, {}, bundle.root + "/Contents/MacOS"));
    expectRealBundle(runLauncher("../MacOS/App", {}, {}, bundle.appDir));
}
