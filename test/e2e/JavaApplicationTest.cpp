// Bundles assembled by the bundle tool around the machine's own Java runtime,
// started through the launcher: real Java applications, real JVM.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "E2eSupport.h"
#include "TestSupport.h"

using Args = std::vector<std::string>;

namespace {

const int jvmTimeoutSeconds = 240;

class JavaApplication : public ::testing::Test {
protected:
    void SetUp() override {
        jdk = e2e::findJdkHome();
        if (jdk.empty()) {
            GTEST_SKIP() << "no JDK: javac is not on the PATH";
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
        run(argv, "make-bundle.sh");
        launcher = work / "out/Probe.app/Contents/MacOS/Probe";
        appDir = work / "out/Probe.app/Contents/app";
    }

    kvtest::ProcessResult start(const Args& args = {}) {
        Args argv{launcher};
        argv.insert(argv.end(), args.begin(), args.end());
        return kvtest::runProcess(argv, e2e::jvmEnvironment(), "", jvmTimeoutSeconds);
    }

    static std::string src(const std::string& rel) { return std::string(KVTEST_JAVA_SOURCES) + "/" + rel; }

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

} // namespace

TEST_F(JavaApplication, MainJar) {
    buildMainJar();
    assemble({"--input", work / "app.jar", "--main-jar", "app.jar", "--argument", "default one",
              "--argument", "two"});

    const kvtest::ProcessResult r = start();

    EXPECT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ(report("null", "null", "null", {"default one", "two"}), r.out);
    EXPECT_EQ("", r.err);
}

TEST_F(JavaApplication, MainClassWithTwoEntryClassPath) {
    compileClassPathApp();
    assemble({"--input", work / "classes", "--input", work / "lib", "--class-path", "classes",
              "--class-path", "lib", "--main-class", "probe.Main"});

    const kvtest::ProcessResult r = start({"given"});

    EXPECT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ(report("null", "null", "null", {"given"}), r.out);
    EXPECT_EQ("", r.err);
}

TEST_F(JavaApplication, ModularApplication) {
    compileModularApp();
    assemble({"--input", work / "mods", "--module-path", "mods", "--main-module",
              "probe/probe.Main"});

    const kvtest::ProcessResult r = start();

    EXPECT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ(report("probe", "null", "null", {}), r.out);
    EXPECT_EQ("", r.err);
}

TEST_F(JavaApplication, JavaOptionsReachTheJvm) {
    buildMainJar();
    assemble({"--input", work / "app.jar", "--main-jar", "app.jar", "--java-option",
              "-Dgreeting=hello  wide world", "--java-option", "-Ddir=$APPDIR/x y",
              "--java-option", "-Xmx64m"});

    const kvtest::ProcessResult r = start();

    EXPECT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ(report("null", "hello  wide world", appDir + "/x y", {}), r.out);
}

TEST_F(JavaApplication, ArgumentsArriveIntact) {
    buildMainJar();
    assemble({"--input", work / "app.jar", "--main-jar", "app.jar", "--argument", "configured"});

    const kvtest::ProcessResult r = start(
        {"two words", "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC", "  leading", "tab\there", "",
         "-psn_0_42", "$APPDIR", "last"});

    EXPECT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ(report("null", "null", "null",
                     {"two words", "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC", "  leading",
                      "tab\there", "", "$APPDIR", "last"}),
              r.out);
}

TEST_F(JavaApplication, ExitStatusOfTheApplication) {
    buildMainJar();
    assemble({"--input", work / "app.jar", "--main-jar", "app.jar"});

    const kvtest::ProcessResult r = start({"exit=3"});

    EXPECT_EQ(3, r.exitCode) << r.err;
    EXPECT_EQ(report("null", "null", "null", {"exit=3"}), r.out);
}
