// Bundles whose runtime the bundle tool links from the machine's JDK with
// --jlink: the applications start from them, also after the bundle moved, and
// what the tool refuses leaves nothing behind.
#include <gtest/gtest.h>

#include <stdio.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "E2eSupport.h"
#include "TestSupport.h"

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

namespace {

// jlink alone takes about ten seconds, several times that on a busy machine.
const int toolTimeoutSeconds = 280;

std::uintmax_t treeSize(const std::string& dir) {
    std::uintmax_t size = 0;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(dir)) {
        if (e.is_regular_file() && !e.is_symlink()) {
            size += e.file_size();
        }
    }
    return size;
}

class JlinkBundle : public ::testing::Test {
protected:
    void SetUp() override {
        jdk = e2e::findJdkHome();
        if (jdk.empty()) {
            GTEST_SKIP() << "no JDK: javac is not on the PATH";
        }
        kvtest::makeDirs(work / "out");
    }

    kvtest::ProcessResult run(const Args& argv, int timeout = toolTimeoutSeconds) {
        return kvtest::runProcess(argv, {}, "", timeout);
    }

    /// Runs the bundle tool for "<work>/out/Probe.app" with --jlink.
    kvtest::ProcessResult bundle(const Args& options) {
        Args argv{KVTEST_MAKE_BUNDLE, "--launcher", KVTEST_LAUNCHER_PATH, "--name", "Probe",
                  "--runtime", jdk, "--output", work / "out", "--jlink"};
        argv.insert(argv.end(), options.begin(), options.end());
        return run(argv);
    }

    static std::string src(const std::string& rel) {
        return std::string(KVTEST_JAVA_SOURCES) + "/" + rel;
    }

    std::string jdk;
    kvtest::TempDir work;
};

} // namespace

TEST_F(JlinkBundle, ClassPathApplicationStartsFromItsOwnRuntimeAlsoWhenMoved) {
    ASSERT_EQ(0, run({jdk + "/bin/javac", "-d", work / "classes", src("probe/Main.java"),
                      src("probe/util/Helper.java")}).exitCode);
    ASSERT_EQ(0, run({jdk + "/bin/jar", "--create", "--file", work / "app.jar", "--main-class",
                      "probe.Main", "-C", work / "classes", "."}).exitCode);
    const kvtest::ProcessResult made =
        bundle({"--input", work / "app.jar", "--main-jar", "app.jar", "--java-option",
                "-XshowSettings:properties"});
    ASSERT_EQ(0, made.exitCode) << made.err;

    const std::string home = work / "out/Probe.app/Contents/runtime/Contents/Home";
    EXPECT_EQ("libjli.so", fs::read_symlink(home + "/lib/libjli.dylib").string());
    EXPECT_TRUE(fs::is_regular_file(home + "/lib/server/classes.jsa"));
    EXPECT_NE(std::string::npos,
              kvtest::readFile(home + "/release").find("MODULES=\"java.base\"\n"));
    EXPECT_LE(treeSize(work / "out/Probe.app/Contents/runtime") * 3, treeSize(jdk));

    const auto expectStarts = [&](const std::string& dir) {
        const std::string launcher = dir + "/Probe.app/Contents/MacOS/Probe";
        const kvtest::ProcessResult r =
            kvtest::runProcess({launcher, "one"}, e2e::jvmEnvironment(), "", 240);
        EXPECT_EQ(0, r.exitCode) << r.err;
        EXPECT_EQ("helper=[found]\nmodule=[null]\napp-path=[" + launcher +
                      "]\ngreeting=[null]\ndir=[null]\narg=[one]\n",
                  r.out);
        EXPECT_NE(std::string::npos,
                  r.err.find("java.home = " + dir + "/Probe.app/Contents/runtime/Contents/Home\n"))
            << r.err;
    };
    expectStarts(work / "out");
    kvtest::makeDirs(work / "moved");
    ASSERT_EQ(0, ::rename((work / "out/Probe.app").c_str(), (work / "moved/Probe.app").c_str()));
    expectStarts(work / "moved");
}

// The application's module stays on the module path; the runtime gets what its
// descriptor requires even when no class uses it, or the module system would
// refuse to start.
TEST_F(JlinkBundle, ModularApplicationGetsTheModulesItRequires) {
    kvtest::writeFile(work / "src/module-info.java", "module probe { requires java.sql; }\n");
    ASSERT_EQ(0, run({jdk + "/bin/javac", "-d", work / "mods/probe", work / "src/module-info.java",
                      src("probe/Main.java"), src("probe/util/Helper.java")}).exitCode);
    const kvtest::ProcessResult made = bundle(
        {"--input", work / "mods", "--module-path", "mods", "--main-module", "probe/probe.Main"});
    ASSERT_EQ(0, made.exitCode) << made.err;

    const std::string release =
        kvtest::readFile(work / "out/Probe.app/Contents/runtime/Contents/Home/release");
    EXPECT_NE(std::string::npos, release.find(" java.sql")) << release;
    EXPECT_EQ(std::string::npos, release.find("probe")) << release;
    const std::string launcher = work / "out/Probe.app/Contents/MacOS/Probe";
    const kvtest::ProcessResult r = kvtest::runProcess({launcher}, e2e::jvmEnvironment(), "", 240);
    EXPECT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ(0u, r.out.find("helper=[found]\nmodule=[probe]\n")) << r.out;
}

TEST_F(JlinkBundle, RefusesWithOneLineAndLeavesNothing) {
    kvtest::writeFile(work / "bad.jar", "not a zip file");
    // A JDK keeps its release file beside its jmods directory.
    kvtest::writeFile(work / "other/jmods/java.base.jmod", "");
    kvtest::writeFile(work / "other/release", "JAVA_VERSION=\"11.0.2\"\n");
    const std::string jdkRelease = kvtest::readFile(jdk + "/release");
    const std::string::size_type v = jdkRelease.find("JAVA_VERSION=\"") + 14;
    const std::string jdkVersion = jdkRelease.substr(v, jdkRelease.find('"', v) - v);

    const struct {
        Args options;
        std::string error;
    } cases[] = {
        {{"--input", work / "bad.jar", "--main-jar", "bad.jar"},
         "jdeps cannot analyse bad.jar: "},
        {{"--input", work / "bad.jar", "--main-class", "a.B", "--add-modules",
          "java.base,no.such.module"},
         "jlink failed: Module no.such.module not found"},
        {{"--input", work / "bad.jar", "--main-class", "a.B", "--jmods", work / "other/jmods"},
         "the jmods in " + (work / "other/jmods") + " are Java 11.0.2 but the jlink of the runtime is Java " +
             jdkVersion + ": they must be the same"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        const kvtest::ProcessResult r = bundle(c.options);
        EXPECT_EQ(1, r.exitCode);
        EXPECT_EQ("", r.out);
        EXPECT_EQ(0u, r.err.find("make-bundle.sh: " + c.error)) << r.err;
        EXPECT_EQ(1u, e2e::lines(r.err).size()) << r.err;
        EXPECT_TRUE(fs::is_empty(work / "out"));
    }
}
