// The launcher executable started from bundles whose runtime library is the
// recording double. Most cases are rows of three tables: the call the runtime
// receives, the failures, and the lines of debug output.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <regex>

#include "E2eSupport.h"
#include "TestSupport.h"
#include "tstrings.h"

using e2e::Bundle;
using e2e::Env;
using e2e::Launch;
using e2e::lines;
using e2e::runLauncher;
using kvtest::regexQuote;
using Args = std::vector<std::string>;

namespace {

// Paths, contents and expectations below may name these places:
//   <launcher> <app> <root> (the bundle's), <tmp> (around it), <app-path> (the
//   option naming the launcher), <fakejli> and <nosym> (the runtime doubles).
// A file content "-><target>" makes a link, "<none>" removes the file.
using Files = std::map<std::string, std::string>;

const std::string defaultLib = "<root>/Contents/runtime/Contents/Home/lib/libjli.dylib";
const std::string secondLib = "<root>/Contents/runtime/Contents/Home/lib/jli/libjli.dylib";
const std::string mainJarCfg = "[Application]\napp.mainjar=$APPDIR/main.jar\n";
const Args mainJarArgv{"<launcher>", "<app-path>", "-jar", "<app>/main.jar"};

// How many lines of the launch's standard error match `pattern`.
long matching(const Launch& launch, const std::string& pattern) {
    const std::vector<std::string> err = lines(launch.process.err);
    return std::count_if(err.begin(), err.end(), [&](const std::string& line) {
        return std::regex_match(line, std::regex(pattern));
    });
}

class FakeRuntimeBundle : public ::testing::Test {
protected:
    FakeRuntimeBundle() : bundle(tmp.path(), "App") {
        bundle.linkRuntimeLibrary(KVTEST_FAKEJLI_PATH);
    }

    std::string appPathOption() const { return "-Dkovalu.app-path=" + bundle.launcher; }

    /// `text` with every place named by its value, quoted for a regular
    /// expression when `quoted`.
    std::string expand(std::string text, bool quoted = false) const {
        const std::pair<const char*, std::string> places[] = {
            {"<app-path>", appPathOption()}, {"<launcher>", bundle.launcher},
            {"<app>", bundle.appDir},        {"<root>", bundle.root},
            {"<tmp>", tmp.path()},           {"<fakejli>", KVTEST_FAKEJLI_PATH},
            {"<nosym>", KVTEST_FAKEJLI_NOSYM_PATH}};
        for (const auto& [name, value] : places) {
            text = tstrings::replace(text, name, quoted ? regexQuote(value) : value);
        }
        return text;
    }

    Args expand(const Args& args) const {
        Args result;
        for (const std::string& arg : args) {
            result.push_back(expand(arg));
        }
        return result;
    }

    /// Writes the configuration (none without one) and places `files`, then
    /// runs the launcher with `env`.
    Launch run(const std::optional<std::string>& cfg, const Files& files, const Env& env,
               const Args& args = {}, const std::string& start = "<launcher>",
               const std::string& cwd = "") const {
        if (cfg) {
            bundle.writeCfg(expand(*cfg));
        }
        for (const auto& [rawPath, rawContent] : files) {
            const std::string path = expand(rawPath);
            const std::string content = expand(rawContent);
            ::unlink(path.c_str());
            if (content.rfind("->", 0) == 0) {
                kvtest::makeDirs(path.substr(0, path.rfind('/')));
                kvtest::makeSymlink(content.substr(2), path);
            } else if (content == "<fifo>") {
                kvtest::makeDirs(path.substr(0, path.rfind('/')));
                EXPECT_EQ(0, ::mkfifo(path.c_str(), 0600)) << path;
            } else if (content != "<none>") {
                kvtest::writeFile(path, content);
            }
        }
        Env expanded;
        for (const auto& [name, value] : env) {
            expanded[name] = value ? std::optional<std::string>(expand(*value)) : std::nullopt;
        }
        if (!cwd.empty()) {
            kvtest::makeDirs(expand(cwd));
        }
        return runLauncher(expand(start), args, expanded, expand(cwd));
    }

    kvtest::TempDir tmp;
    Bundle bundle;
};

template <class Case>
std::string caseName(const ::testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

struct ArgvCase {
    const char* name;
    std::string cfg;
    Args args;     ///< the command line, given as it is
    Args expected; ///< the argument vector the runtime receives
    Env env = {};
    Files files = {};
    std::string start = "<launcher>";
    std::string cwd = "";
    std::string libraryPath = ":<app>"; ///< DYLD_LIBRARY_PATH as the runtime saw it
};

const std::string realMainCfg = "[Application]\napp.mainclass=real.Main\n";
const Args realMainArgv{"<launcher>", "<app-path>", "real.Main"};
const std::string bundleMainCfg = "[Application]\napp.mainclass=bundle.Main\n";
const Args bundleMainArgv{"<launcher>", "<app-path>", "bundle.Main"};
const std::string userCfg = "<tmp>/home/Library/Application Support/com.example.kv/App.cfg";
const char* const userMain = "[Application]\napp.mainclass=user.Main\n";
const Env home{{"HOME", "<tmp>/home"}};
const std::string relativeMain = "[Application]\napp.mainclass=relative.Main\n";
const std::string twoArgumentsCfg = mainJarCfg + "[ArgOptions]\narguments=one\narguments=two\n";

// Rows print as their names, in test listings and failure reports.
void PrintTo(const ArgvCase& c, std::ostream* os) {
    *os << c.name;
}

const ArgvCase argvCases[] = {
    {"FullConfigurationInOrder",
     "; every kind of entry\n[Application]\napp.mainjar=$APPDIR/main.jar\napp.mainclass=demo.Main\n"
     "app.mainmodule=demo.mod/demo.Main\napp.splash=$APPDIR/splash.png\n"
     "app.modulepath=$APPDIR/mods\napp.modulepath=$ROOTDIR/more mods\n"
     "app.classpath=$APPDIR/a.jar\napp.classpath=$BINDIR/b.jar\n"
     "[JavaOptions]\njava-options=-Xmx64m\njava-options=-Dgreeting=hello world\n"
     "[ArgOptions]\narguments=first\narguments=second arg\n",
     {},
     {"<launcher>", "--module-path", "<app>/mods", "--module-path", "<root>/more mods",
      "-classpath", "<app>/a.jar:<root>/Contents/MacOS/b.jar", "-splash:<app>/splash.png",
      "-Xmx64m", "-Dgreeting=hello world", "<app-path>", "-m", "demo.mod/demo.Main", "demo.Main",
      "-jar", "<app>/main.jar", "first", "second arg"},
     {},
     {{"<app>/splash.png", "png"}}},
    {"MainClassWithSingleClassPathEntry",
     "[Application]\napp.classpath=$APPDIR/classes\napp.mainclass=a.B\n", {},
     {"<launcher>", "-classpath", "<app>/classes", "<app-path>", "a.B"}},
    {"EmptyConfigurationGivesOnlyTheAppPath", "", {}, {"<launcher>", "<app-path>"}},
    {"MacrosExpandInEveryValueAndInsideWords",
     "[Application]\napp.mainclass=a.B\n[JavaOptions]\njava-options=-Dapp=$APPDIR\n"
     "java-options=-Dbin=$BINDIR\njava-options=-Droot=$ROOTDIR\n"
     "java-options=-Dglued=$APPDIRS:$ROOTDIR$BINDIR\njava-options=-Dplain=$HOME $appdir\n"
     "[ArgOptions]\narguments=$ROOTDIR/x\n",
     {},
     {"<launcher>", "-Dapp=<app>", "-Dbin=<root>/Contents/MacOS", "-Droot=<root>",
      "-Dglued=<app>S:<root><root>/Contents/MacOS", "-Dplain=$HOME $appdir", "<app-path>", "a.B",
      "<root>/x"}},
    // Command-line arguments are the user's: never macro-expanded, empty ones kept.
    {"CommandLineReplacesConfiguredArguments", twoArgumentsCfg,
     {"x y", "-psn_0_12345", "$APPDIR", "", "-psn_", "-PSN_1", "last"},
     {"<launcher>", "<app-path>", "-jar", "<app>/main.jar", "x y", "$APPDIR", "", "-PSN_1",
      "last"}},
    {"OnlyProcessSerialNumberKeepsConfiguredArguments",
     twoArgumentsCfg, {"-psn_0_98765"},
     {"<launcher>", "<app-path>", "-jar", "<app>/main.jar", "one", "two"}},
    {"MissingSplashImageIsLeftOut",
     "[Application]\napp.splash=$APPDIR/none.png\napp.mainclass=a.B\n", {},
     {"<launcher>", "<app-path>", "a.B"}},
    {"PerUserConfigurationComesFirst", bundleMainCfg, {}, {"<launcher>", "<app-path>", "user.Main"},
     home,
     {{"<app>/.package", "com.example kv\nignored\n"},
      {"<tmp>/home/Library/Application Support/com.example kv/App.cfg", userMain}}},
    {"PackageWithoutPerUserConfigurationUsesTheBundle", bundleMainCfg, {}, bundleMainArgv, home,
     {{"<app>/.package", "com.example.kv"},
      {"<tmp>/home/Library/Application Support/com.example.other/App.cfg", userMain}}},
    {"NoPackageFileMeansNoPerUserConfiguration", bundleMainCfg, {}, bundleMainArgv, home,
     {{"<tmp>/home/Library/Application Support//App.cfg", userMain},
      {"<tmp>/home/Library/Application Support/App/App.cfg", userMain}}},
    {"EmptyPackageNameMeansNoPerUserConfiguration", bundleMainCfg, {}, bundleMainArgv, home,
     {{"<app>/.package", "\ncom.example.kv\n"},
      {userCfg, userMain},
      {"<tmp>/home/Library/Application Support//App.cfg", userMain}}},
    {"UnsetHomeFallsBackToTheBundle", bundleMainCfg, {}, bundleMainArgv, {{"HOME", std::nullopt}},
     {{"<app>/.package", "com.example.kv\n"},
      {userCfg, userMain},
      {"<app>/Library/Application Support/com.example.kv/App.cfg", relativeMain}},
     "<launcher>", "<app>"},
    {"EmptyHomeFallsBackToTheBundle", bundleMainCfg, {}, bundleMainArgv, {{"HOME", ""}},
     {{"<app>/.package", "com.example.kv\n"},
      {userCfg, userMain},
      {"<app>/Library/Application Support/com.example.kv/App.cfg", relativeMain}},
     "<launcher>", "<app>"},
    {"ConfiguredRuntimeWithMacroIsBundleRelative",
     "[Application]\napp.runtime=$ROOTDIR/Contents/jre\napp.mainclass=a.B\n", {},
     {"<launcher>", "<app-path>", "a.B"}, {},
     {{"<root>/Contents/jre/Contents/Home/lib/libjli.dylib", "-><fakejli>"},
      {defaultLib, "<none>"}},
     "<launcher>", "<tmp>"},
    {"FirstLibraryCandidateWins", mainJarCfg, {}, mainJarArgv, {}, {{secondLib, "-><nosym>"}}},
    {"LibraryPathUnsetGetsTheAppDir", mainJarCfg, {}, mainJarArgv,
     {{"DYLD_LIBRARY_PATH", std::nullopt}}},
    {"LibraryPathEmptyGetsTheAppDir", mainJarCfg, {}, mainJarArgv, {{"DYLD_LIBRARY_PATH", ""}}},
    {"LibraryPathGetsTheAppDirAppended", mainJarCfg, {}, mainJarArgv,
     {{"DYLD_LIBRARY_PATH", "/opt/lib"}}, {}, "<launcher>", "", "/opt/lib:<app>"},
    // The comparison is exact: a trailing slash is another directory.
    {"LibraryPathWithTrailingSlashIsAnotherDir", mainJarCfg, {}, mainJarArgv,
     {{"DYLD_LIBRARY_PATH", "<app>/"}}, {}, "<launcher>", "", "<app>/:<app>"},
    {"LibraryPathOfTheAppDirIsLeftAlone", mainJarCfg, {}, mainJarArgv,
     {{"DYLD_LIBRARY_PATH", "<app>"}}, {}, "<launcher>", "", "<app>"},
    {"LibraryPathEndingInTheAppDirIsLeftAlone", mainJarCfg, {}, mainJarArgv,
     {{"DYLD_LIBRARY_PATH", "/opt/lib:<app>"}}, {}, "<launcher>", "", "/opt/lib:<app>"},
    {"LibraryPathStartingWithTheAppDirIsLeftAlone", mainJarCfg, {}, mainJarArgv,
     {{"DYLD_LIBRARY_PATH", "<app>::/opt/lib"}}, {}, "<launcher>", "", "<app>::/opt/lib"},
    // Whatever path started it, the run is the real bundle's launcher.
    {"AbsoluteLink", realMainCfg, {}, realMainArgv, {}, {{"<tmp>/links/app", "-><launcher>"}},
     "<tmp>/links/app"},
    {"RelativeLinkStartedFromAnotherDirectory", realMainCfg, {}, realMainArgv, {},
     {{"<tmp>/links/app", "->../App.app/Contents/MacOS/App"}}, "<tmp>/links/app",
     "<tmp>/elsewhere"},
    {"RelativeLinkStartedByARelativePath", realMainCfg, {}, realMainArgv, {},
     {{"<tmp>/links/app", "->../App.app/Contents/MacOS/App"}}, "../links/app", "<tmp>/elsewhere"},
    {"ChainOfLinks", realMainCfg, {}, realMainArgv, {},
     {{"<tmp>/links/deeper/third", "->../../App.app/Contents/MacOS/App"},
      {"<tmp>/links/second", "-><tmp>/links/deeper/third"},
      {"<tmp>/links/first", "->second"}},
     "<tmp>/links/first", "<tmp>/elsewhere"},
    // A link at the launcher's depth in another bundle must still start the
    // bundle it points to, not the one it sits in.
    {"LinkInsideAnotherBundle", realMainCfg, {}, realMainArgv, {},
     {{"<tmp>/links/App.app/Contents/app/App.cfg", "[Application]\napp.mainclass=decoy.Main\n"},
      {"<tmp>/links/App.app/Contents/runtime/Contents/Home/lib/libjli.dylib", "-><fakejli>"},
      {"<tmp>/links/App.app/Contents/MacOS/App", "-><launcher>"}},
     "<tmp>/links/App.app/Contents/MacOS/App"},
    {"StartedWithRelativePathFromOutside", realMainCfg, {}, realMainArgv, {}, {},
     "App.app/Contents/MacOS/App", "<tmp>"},
    {"StartedWithRelativePathFromItsDirectory", realMainCfg, {}, realMainArgv, {}, {}, "./App",
     "<root>/Contents/MacOS"},
    {"StartedWithRelativePathFromBeside", realMainCfg, {}, realMainArgv, {}, {}, "../MacOS/App",
     "<app>"},
};

class LauncherCall : public FakeRuntimeBundle, public ::testing::WithParamInterface<ArgvCase> {};

TEST_P(LauncherCall, RuntimeReceivesTheExpectedCall) {
    const ArgvCase& c = GetParam();
    const Launch launch = run(c.cfg, c.files, c.env, c.args, c.start, c.cwd);

    EXPECT_EQ(0, launch.process.exitCode) << launch.process.err;
    EXPECT_EQ("", launch.process.err);
    EXPECT_EQ("", launch.process.out);
    ASSERT_EQ(1u, launch.calls.size());
    const kvtest::JliCall& call = launch.calls.front();
    EXPECT_EQ(expand(c.expected), call.argv);
    EXPECT_EQ(std::to_string(c.expected.size()), call.fields.at("argc"));
    EXPECT_EQ("1", call.fields.at("argv_terminated"));
    kvtest::expectFixedJliFields(call);
    ASSERT_EQ(1u, call.env.count("DYLD_LIBRARY_PATH"));
    EXPECT_EQ(expand(c.libraryPath), call.env.at("DYLD_LIBRARY_PATH"));
}

INSTANTIATE_TEST_SUITE_P(Rows, LauncherCall, ::testing::ValuesIn(argvCases),
                         caseName<ArgvCase>);

struct FailureCase {
    const char* name;
    std::optional<std::string> cfg; ///< none: no configuration file
    std::string err;                ///< all of standard error, or its start when `prefixOnly`
    Env env = {};
    Files files = {};
    bool prefixOnly = false;
    std::size_t calls = 0; ///< runtime calls made before the failure
};

const std::string noCfg = "Error opening \"<app>/App.cfg\" file: No such file or directory\n";

const std::string perUserCfg = "Library/Application Support/Pkg/App.cfg";

std::string notRegular(const std::string& path) {
    return "Error opening \"" + path + "\" file: Not a regular file\n";
}

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

const FailureCase failureCases[] = {
    {"MissingConfigFile", std::nullopt, noCfg},
    {"HeaderWithoutClosingBracket", "; comment\n\n[Application]\napp.mainclass=a.B\n[JavaOptions\n",
     "Error parsing [<app>/App.cfg] file at 5: Missing ']' character\n"},
    {"NoRuntimeLibrary", mainJarCfg,
     "Failed to find JVM in \"<root>/Contents/runtime\" directory.\n", {},
     {{defaultLib, "<none>"}}},
    {"ConfiguredRuntimeWithoutLibraryFailsWithoutFallback",
     "[Application]\napp.runtime=$ROOTDIR/jre\napp.mainclass=a.B\n",
     "Failed to find JVM in \"<root>/jre\" directory.\n", {},
     {{"<root>/jre/Contents/Home/lib/README", ""}}},
    {"UnloadableRuntimeLibrary", mainJarCfg, "dlopen(" + defaultLib + ") failed. Error: ", {},
     {{defaultLib, "not a library\n"}}, true},
    {"RuntimeLibraryWithoutEntryPoint", mainJarCfg,
     "dlsym(" + defaultLib + ", JLI_Launch) failed. Error: ", {}, {{defaultLib, "-><nosym>"}},
     true},
    // Opening a FIFO or a device would wait for a writer, or read endlessly.
    {"ConfigFileIsAFifo", std::nullopt, notRegular("<app>/App.cfg"), {},
     {{"<app>/App.cfg", "<fifo>"}}},
    {"PerUserConfigFileIsAFifo", mainJarCfg, notRegular("<tmp>/home/" + perUserCfg),
     {{"HOME", "<tmp>/home"}}, {{"<app>/.package", "Pkg\n"}, {"<tmp>/home/" + perUserCfg, "<fifo>"}}},
    {"ConfigFileIsADevice", std::nullopt, notRegular("<app>/App.cfg"), {},
     {{"<app>/App.cfg", "->/dev/zero"}}},
    {"RuntimeReportsFailure", mainJarCfg, "Failed to launch JVM\n", {{"KVTEST_JLI_RETURN", "7"}},
     {}, false, 1},
    // Only "true" switches debug output on.
    {"DebugSwitchInCapitals", std::nullopt, noCfg, {{"KOVALU_DEBUG", "TRUE"}}},
    {"DebugSwitchOne", std::nullopt, noCfg, {{"KOVALU_DEBUG", "1"}}},
    {"DebugSwitchWithLeadingBlank", std::nullopt, noCfg, {{"KOVALU_DEBUG", " true"}}},
    {"DebugSwitchWithTrailingBlank", std::nullopt, noCfg, {{"KOVALU_DEBUG", "true "}}},
    {"DebugSwitchEmpty", std::nullopt, noCfg, {{"KOVALU_DEBUG", ""}}},
};

class LauncherFailure : public FakeRuntimeBundle,
                        public ::testing::WithParamInterface<FailureCase> {};

TEST_P(LauncherFailure, StatusOneAndOneLineOfErrorText) {
    const FailureCase& c = GetParam();
    const Launch launch = run(c.cfg, c.files, c.env);

    EXPECT_EQ(1, launch.process.exitCode);
    EXPECT_EQ("", launch.process.out);
    EXPECT_EQ(c.calls, launch.calls.size());
    const std::string err = expand(c.err);
    if (!c.prefixOnly) {
        EXPECT_EQ(err, launch.process.err);
        return;
    }
    EXPECT_EQ(err, launch.process.err.substr(0, err.size())) << launch.process.err;
    EXPECT_GT(launch.process.err.size(), err.size() + 1);
    EXPECT_EQ(1u, lines(launch.process.err).size()) << launch.process.err;
}

INSTANTIATE_TEST_SUITE_P(Rows, LauncherFailure, ::testing::ValuesIn(failureCases),
                         caseName<FailureCase>);

struct DebugCase {
    const char* name;
    std::string cfg;
    std::string line; ///< a regular expression that exactly one line of standard error matches
    Env env = {};
    Files files = {};
};

void PrintTo(const DebugCase& c, std::ostream* os) {
    *os << c.name;
}

const DebugCase debugCases[] = {
    {"UnsetHomeIsReported", bundleMainCfg,
     R"(\[ERROR\] MacLauncher\.cpp:[0-9]+: Exception with message '.*)"
     R"(getenv\(HOME\) failed\. Variable not set' caught)",
     {{"HOME", std::nullopt}}, {{"<app>/.package", "com.example.kv\n"}}},
    // The bundled runtime would fail: only the configured one may be used.
    {"ConfiguredRuntimeReplacesTheBundledOne",
     "[Application]\napp.runtime=<tmp>/other/jre\napp.mainclass=a.B\n",
     R"(jli lib: \[<tmp>/other/jre/Contents/Home/lib/libjli\.dylib\])", {},
     {{"<tmp>/other/jre/Contents/Home/lib/libjli.dylib", "-><fakejli>"},
      {defaultLib, "-><nosym>"}}},
    {"SecondLibraryCandidateIsUsedWhenTheFirstIsMissing", mainJarCfg,
     R"(jli lib: \[<root>/Contents/runtime/Contents/Home/lib/jli/libjli\.dylib\])", {},
     {{defaultLib, "<none>"}, {secondLib, "-><fakejli>"}}},
};

class LauncherDebugLine : public FakeRuntimeBundle,
                          public ::testing::WithParamInterface<DebugCase> {};

TEST_P(LauncherDebugLine, SuccessfulRunShowsTheLineOnce) {
    const DebugCase& c = GetParam();
    Env env = c.env;
    env["KOVALU_DEBUG"] = "true";
    const Launch launch = run(c.cfg, c.files, env);

    EXPECT_EQ(0, launch.process.exitCode) << launch.process.err;
    EXPECT_EQ(1u, launch.calls.size());
    EXPECT_EQ(1, matching(launch, expand(c.line, /*quoted=*/true))) << launch.process.err;
}

INSTANTIATE_TEST_SUITE_P(Rows, LauncherDebugLine, ::testing::ValuesIn(debugCases),
                         caseName<DebugCase>);

} // namespace

class LauncherDebugOutput : public FakeRuntimeBundle {};

TEST_F(LauncherDebugOutput, FailureShowsErrorRecordThenTheLine) {
    const Launch launch = runLauncher(bundle.launcher, {}, {{"KOVALU_DEBUG", "true"}});

    EXPECT_EQ(1, launch.process.exitCode);
    EXPECT_EQ("", launch.process.out);
    EXPECT_TRUE(launch.calls.empty());
    const std::string message =
        regexQuote("Error opening \"" + bundle.cfgPath + "\" file: No such file or directory");
    const std::vector<std::string> expected{
        R"(\[TRACE\] app\.cpp:[0-9]+: Entering launch)",
        R"(\[TRACE\] AppLauncher\.cpp:[0-9]+: Launcher config file path: )" +
            regexQuote("\"" + bundle.cfgPath + "\""),
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

    EXPECT_EQ(1, matching(launch, R"(\[WARNING\] JvmLauncher\.cpp:[0-9]+: Splash property )"
                                  R"(ignored\. File ".*/Contents/app/none\.png" not found)"))
        << launch.process.err;
}

TEST_F(LauncherDebugOutput, SecondEntryLaunchesTheSameJvmAgain) {
    bundle.writeCfg(mainJarCfg + "[ArgOptions]\narguments=configured\n");

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

    EXPECT_EQ(1, matching(launch, ".*Launcher config file path: .*")) << launch.process.err;
    EXPECT_EQ(2, matching(launch, R"(.*jli lib: \[.*)")) << launch.process.err;
}
