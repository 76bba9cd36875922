// Bundles whose runtime the bundle tool links from the machine's JDK with
// --jlink: the applications start from them, also after the bundle moved, and
// what the tool refuses leaves nothing behind.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "E2eSupport.h"
#include "TestSupport.h"

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

namespace {

// jlink alone takes about ten seconds, several times that on a busy machine.
const int timeoutSeconds = 280;

std::uintmax_t treeSize(const std::string& dir) {
    std::uintmax_t size = 0;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(dir)) {
        size += e.is_regular_file() && !e.is_symlink() ? e.file_size() : 0;
    }
    return size;
}

class JlinkBundle : public ::testing::Test {
protected:
    void SetUp() override {
        if ((jdk = e2e::findJdkHome()).empty()) {
            GTEST_SKIP() << "no JDK: javac is not on the PATH";
        }
        kvtest::makeDirs(work / "out");
    }

    /// Compiles the probe application, and `more` sources, into `dir`.
    void compile(const std::string& dir, const Args& more = {}) {
        const std::string src = KVTEST_JAVA_SOURCES;
        Args argv{jdk + "/bin/javac", "-d", dir, src + "/probe/Main.java",
                  src + "/probe/util/Helper.java"};
        argv.insert(argv.end(), more.begin(), more.end());
        ASSERT_EQ(0, kvtest::runProcess(argv, {}, "", timeoutSeconds).exitCode);
    }

    /// Runs the bundle tool for "<work>/out/Probe.app" with --jlink and `options`.
    kvtest::ProcessResult bundle(const Args& options) {
        Args argv{KVTEST_MAKE_BUNDLE, "--launcher", KVTEST_LAUNCHER_PATH, "--name", "Probe",
                  "--runtime", jdk, "--output", work / "out", "--jlink"};
        argv.insert(argv.end(), options.begin(), options.end());
        return kvtest::runProcess(argv, {}, "", timeoutSeconds);
    }

    kvtest::ProcessResult start(const std::string& dir) {
        return kvtest::runProcess({dir + "/Probe.app/Contents/MacOS/Probe"},
                                  e2e::jvmEnvironment(), "", timeoutSeconds);
    }

    std::string jdk;
    kvtest::TempDir work;
};

} // namespace

TEST_F(JlinkBundle, ClassPathApplicationStartsFromItsOwnRuntimeAlsoWhenMoved) {
    compile(work / "classes");
    const kvtest::ProcessResult made =
        bundle({"--input", work / "classes", "--class-path", "classes", "--main-class",
                "probe.Main", "--java-option", "-XshowSettings:properties", "--jlink-minimal"});
    ASSERT_EQ(0, made.exitCode) << made.err;
    // The long steps say what they do and how long it took.
    EXPECT_TRUE(std::regex_search(made.err, std::regex("^Finding the modules the application "
                                                       "needs \\.\\.\\. [0-9.]+ s\nLinking a runtime of "
                                                       "[1-9][0-9]* modules? \\.\\.\\. [0-9.]+ s\n")))
        << made.err;

    const std::string home = "/Probe.app/Contents/runtime/Contents/Home";
    EXPECT_EQ("libjli.so", fs::read_symlink(work / "out" + home + "/lib/libjli.dylib").string());
    EXPECT_TRUE(fs::is_regular_file(work / "out" + home + "/lib/server/classes.jsa"));
    EXPECT_NE(std::string::npos,
              kvtest::readFile(work / "out" + home + "/release").find("MODULES=\"java.base\"\n"));
    EXPECT_LE(treeSize(work / "out/Probe.app/Contents/runtime") * 3, treeSize(jdk));

    ASSERT_EQ(0, std::rename((work / "out").c_str(), (work / "moved").c_str()));
    const kvtest::ProcessResult r = start(work / "moved");
    EXPECT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ(0u, r.out.find("helper=[found]\nmodule=[null]\n")) << r.out;
    EXPECT_NE(std::string::npos, r.err.find("java.home = " + (work / "moved") + home + "\n"));
}

// The application's module stays on the module path; the runtime gets what its
// descriptor requires even when no class uses it.
TEST_F(JlinkBundle, ModularApplicationGetsTheModulesItRequires) {
    kvtest::writeFile(work / "module-info.java", "module probe { requires java.sql; }\n");
    compile(work / "mods/probe", {work / "module-info.java"});
    const kvtest::ProcessResult made = bundle(
        {"--input", work / "mods", "--module-path", "mods", "--main-module", "probe/probe.Main"});
    ASSERT_EQ(0, made.exitCode) << made.err;
    // With the modules reached only as services.
    EXPECT_NE(std::string::npos, made.err.find("jdk.localedata, jdk.charsets, which applications "
                                               "reach only as services"))
        << made.err;
    const std::string release =
        kvtest::readFile(work / "out/Probe.app/Contents/runtime/Contents/Home/release");
    EXPECT_NE(std::string::npos, release.find("jdk.localedata")) << release;

    const kvtest::ProcessResult r = start(work / "out");
    EXPECT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ(0u, r.out.find("helper=[found]\nmodule=[probe]\n")) << r.out;
}

TEST_F(JlinkBundle, RefusesWithOneLineAndLeavesNothing) {
    compile(work / "classes");
    kvtest::writeFile(work / "bad.jar", "not a zip file");
    // A JDK keeps its release file beside its jmods directory.
    kvtest::writeFile(work / "other/jmods/java.base.jmod", "");
    kvtest::writeFile(work / "other/release", "JAVA_VERSION=\"11.0.2\"\n");
    const Args mainClass{"--class-path", "classes", "--main-class", "probe.Main"};
    const std::vector<std::pair<Args, std::string>> cases{
        {{"--main-jar", "bad.jar"}, "cannot read " + (work / "bad.jar") + " as a jar: "},
        {{"--class-path", "bad.jar"}, "jdeps cannot analyse bad.jar: "},
        {{"--add-modules", "java.base,no.such.module"},
         "jlink failed: Module no.such.module not found\n"},
        {{"--jmods", work / "other/jmods"},
         "the jmods in " + (work / "other/jmods") + " are Java 11.0.2 but the jlink of the runtime is Java "},
    };
    for (const auto& [options, error] : cases) {
        SCOPED_TRACE(error);
        Args all{"--input", work / "bad.jar", "--input", work / "classes"};
        if (options[0] != "--main-jar") {
            all.insert(all.end(), mainClass.begin(), mainClass.end());
        }
        all.insert(all.end(), options.begin(), options.end());
        all.push_back("--quiet");
        const kvtest::ProcessResult r = bundle(all);
        EXPECT_EQ(1, r.exitCode);
        EXPECT_EQ("", r.out);
        EXPECT_EQ(0u, r.err.find("kovalu-bundle: " + error)) << r.err;
        EXPECT_EQ(1u, e2e::lines(r.err).size()) << r.err;
        EXPECT_TRUE(fs::is_empty(work / "out"));
    }
}
