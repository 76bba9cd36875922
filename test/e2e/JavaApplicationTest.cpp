// Bundles assembled by the bundle tool around the machine's own Java runtime,
// started through the launcher: real Java applications, real JVM.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>

#include "E2eSupport.h"
#include "TestSupport.h"
#include "tstrings.h"

using Args = std::vector<std::string>;

namespace {

const int jvmTimeoutSeconds = 240;

enum class Build { MainJar, ClassPath, Modules };

struct JavaCase {
    const char* name;
    Build build;
    Args options;  ///< bundle tool options beyond launcher, name, runtime and output
    Args args;     ///< the command line
    std::string module, greeting, dir; ///< what the probe reports
    Args received; ///< the arguments the application received
    int status = 0;
};

class JavaApplication : public ::testing::Test {
protected:
    void SetUp() override {
        jdk = e2e::findJdkHome();
        if (jdk.empty()) {
            GTEST_SKIP() << "no JDK: tools/java-home.sh found none";
        }
    }

    void run(const Args& argv, const std::string& what) {
        const kvtest::ProcessResult r = kvtest::runProcess(argv, {}, "", jvmTimeoutSeconds);
        ASSERT_EQ(0, r.exitCode) << what << " failed:\n" << r.out << r.err;
    }

    /// Compiles the helper into "lib" and the main class against it into "classes".
    void compileClassPathApp() {
        run({jdk + "/bin/javac", "-d", work / "lib", src("probe/util/Helper.java")}, "javac");
        run({jdk + "/bin/javac", "-d", work / "classes", "-cp", work / "lib",
             src("probe/Main.java")},
            "javac");
    }

    void compileModularApp() {
        run({jdk + "/bin/javac", "-d", work / "mods/probe", src("module-info.java"),
             src("probe/Main.java"), src("probe/util/Helper.java")},
            "javac");
    }

    void buildMainJar() {
        compileClassPathApp();
        run({jdk + "/bin/jar", "--create", "--file", work / "app.jar", "--main-class",
             "probe.Main", "-C", work / "classes", ".", "-C", work / "lib", "."},
            "jar");
    }

    /// Assembles "<work>/out/Probe.app" with the bundle tool.
    void assemble(const Args& options) {
        kvtest::makeDirs(work / "out");
        Args argv{KVTEST_MAKE_BUNDLE, "--launcher", KVTEST_LAUNCHER_PATH, "--name", "Probe",
                  "--runtime", jdk, "--output", work / "out"};
        argv.insert(argv.end(), options.begin(), options.end());
        run(argv, "kovalu-bundle");
        launcher = work / "out/Probe.app/Contents/MacOS/Probe";
        appDir = work / "out/Probe.app/Contents/app";
    }

    kvtest::ProcessResult start(const Args& args = {}) {
        Args argv{launcher};
        argv.insert(argv.end(), args.begin(), args.end());
        return kvtest::runProcess(argv, e2e::jvmEnvironment(), "", jvmTimeoutSeconds);
    }

    static std::string src(const std::string& rel) {
        return std::string(KVTEST_JAVA_SOURCES) + "/" + rel;
    }

    /// The probe's report for the given facts, one line each.
    std::string report(const std::string& module, const std::string& greeting,
                       const std::string& dir, const Args& args) const {
        std::string text = "helper=[found]\nmodule=[" + module + "]\napp-path=[" + launcher +
                           "]\ngreeting=[" + greeting + "]\ndir=[" + dir + "]\n";
        for (const std::string& a : args) {
            text += "arg=[" + a + "]\n";
        }
        return text;
    }

    std::string jdk;
    kvtest::TempDir work;
    std::string launcher;
    std::string appDir;
};

void PrintTo(const JavaCase& c, std::ostream* os) {
    *os << c.name;
}

const JavaCase javaCases[] = {
    {"MainJar", Build::MainJar,
     {"--input", "<work>/app.jar", "--main-jar", "app.jar", "--argument", "default one",
      "--argument", "two"},
     {}, "null", "null", "null", {"default one", "two"}},
    {"MainClassWithTwoEntryClassPath", Build::ClassPath,
     {"--input", "<work>/classes", "--input", "<work>/lib", "--class-path", "classes",
      "--class-path", "lib", "--main-class", "probe.Main"},
     {"given"}, "null", "null", "null", {"given"}},
    {"ModularApplication", Build::Modules,
     {"--input", "<work>/mods", "--module-path", "mods", "--main-module", "probe/probe.Main"}, {},
     "probe", "null", "null", {}},
    {"JavaOptionsReachTheJvm", Build::MainJar,
     {"--input", "<work>/app.jar", "--main-jar", "app.jar", "--java-option",
      "-Dgreeting=hello  wide world", "--java-option", "-Ddir=$APPDIR/x y", "--java-option",
      "-Xmx64m"},
     {}, "null", "hello  wide world", "<app>/x y", {}},
    {"ArgumentsArriveIntact", Build::MainJar,
     {"--input", "<work>/app.jar", "--main-jar", "app.jar", "--argument", "configured"},
     {"two words", "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC", "  leading", "tab\there", "",
      "-psn_0_42", "$APPDIR", "last"},
     "null", "null", "null",
     {"two words", "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC", "  leading", "tab\there", "", "$APPDIR",
      "last"}},
    {"ExitStatusOfTheApplication", Build::MainJar,
     {"--input", "<work>/app.jar", "--main-jar", "app.jar"}, {"exit=3"}, "null", "null", "null",
     {"exit=3"}, 3},
};

class JavaApplicationRun : public JavaApplication, public ::testing::WithParamInterface<JavaCase> {
protected:
    std::string expand(const std::string& text) const {
        return tstrings::replace(tstrings::replace(text, "<work>", work.path()), "<app>", appDir);
    }
};

} // namespace

TEST_P(JavaApplicationRun, ProbeReportsWhatTheBundleConfigured) {
    const JavaCase& c = GetParam();
    switch (c.build) {
    case Build::MainJar: buildMainJar(); break;
    case Build::ClassPath: compileClassPathApp(); break;
    case Build::Modules: compileModularApp(); break;
    }
    Args options;
    for (const std::string& option : c.options) {
        options.push_back(expand(option));
    }
    assemble(options);

    const kvtest::ProcessResult r = start(c.args);

    EXPECT_EQ(c.status, r.exitCode) << r.err;
    EXPECT_EQ(report(c.module, c.greeting, expand(c.dir), c.received), r.out);
    EXPECT_EQ("", r.err);
}

INSTANTIATE_TEST_SUITE_P(Rows, JavaApplicationRun, ::testing::ValuesIn(javaCases),
                         [](const ::testing::TestParamInfo<JavaCase>& info) {
                             return info.param.name;
                         });

// Opened from the Finder, whatever the runtime says before it ends the
// process itself lands in the kept output, and a failure the launcher sees
// carries the exception in its record.
TEST_F(JavaApplication, FinderLaunchKeepsWhatTheRuntimeSaid) {
    buildMainJar();
    assemble({"--input", work / "app.jar", "--main-jar", "app.jar"});
    const std::string cfgPath = appDir + "/Probe.cfg";
    const std::string cfg = kvtest::readFile(cfgPath);
    const std::string home = work / "home";
    const std::string logs = home + "/Library/Logs/Probe/";
    const struct {
        const char* name;
        std::string cfg;
        std::string kept;   // a line of the kept output
        std::optional<std::string> record; // the record's text after the executable; "": none
    } cases[] = {
        {"missing main class",
         "[Application]\napp.classpath=$APPDIR/app.jar\napp.mainclass=probe.Missing\n",
         "Error: Could not find or load main class probe.Missing", std::nullopt},
        {"missing main jar", "[Application]\napp.mainjar=$APPDIR/missing.jar\n",
         "Error: Unable to access jarfile " + appDir + "/missing.jar", std::nullopt},
        {"bad JVM option", cfg + "[JavaOptions]\njava-options=-XX:+NoSuchOption\n",
         "Unrecognized VM option 'NoSuchOption'", std::nullopt},
        {"main throws", cfg + "[ArgOptions]\narguments=throw\n",
         "Exception in thread \"main\" java.lang.IllegalStateException: probe failed on purpose",
         ": Failed to launch JVM\\n\\nThe last lines of standard error:\\nException in thread "
         "\"main\" java.lang.IllegalStateException: probe failed on purpose\\n\tat "
         "probe.Main.main("},
        {"good launch", cfg, "helper=[found]", ""},
        {"output past the bound", cfg + "[ArgOptions]\narguments=flood\n",
         "Output dropped: one launch keeps at most 10485760 bytes here.", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(home);
        kvtest::makeDirs(home);
        kvtest::writeFile(cfgPath, c.cfg);
        e2e::Env env = e2e::jvmEnvironment();
        env["HOME"] = home;
        std::string why;
        ASSERT_TRUE(e2e::runAsLaunchServices(launcher, env, why)) << why;

        const std::string output = kvtest::readFile(logs + "Probe-output.log");
        const std::vector<std::string> kept = e2e::lines(output);
        EXPECT_NE(kept.end(), std::find(kept.begin(), kept.end(), c.kept)) << c.kept;
        EXPECT_LE(output.size(), 10u * 1024 * 1024 + 64);
        const std::string record = kvtest::readFile(logs + "Probe.log");
        if (c.record && c.record->empty()) {
            EXPECT_EQ("", record);
        } else if (c.record) {
            EXPECT_NE(std::string::npos, record.find(launcher + *c.record)) << record;
        }
    }
}
