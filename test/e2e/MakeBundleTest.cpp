// The bundle tool: what it writes, what it refuses, and that what it writes
// starts through the launcher (with the runtime-library double).
#include <gtest/gtest.h>

#include <dirent.h>
#include <optional>
#include <regex>
#include <thread>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include "E2eSupport.h"
#include "TestSupport.h"

using Args = std::vector<std::string>;

namespace {

std::vector<std::string> entries(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        ::closedir(d);
    }
    return names;
}

std::string readLink(const std::string& path) {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), buf, sizeof(buf));
    return n < 0 ? std::string() : std::string(buf, static_cast<std::size_t>(n));
}

bool isLink(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

class MakeBundle : public ::testing::Test {
protected:
    MakeBundle() {
        // A runtime home as the Linux runtime lays it out: the library is a .so.
        kvtest::makeDirs(tmp / "jdk/lib");
        kvtest::makeSymlink(KVTEST_FAKEJLI_PATH, tmp / "jdk/lib/libjli.so");
        kvtest::writeFile(tmp / "jdk/release", "MODULES=\"java.base java.desktop\"\n");
        kvtest::writeJar(tmp / "in/app.jar", {{"META-INF/MANIFEST.MF", "Main-Class: a.B\n\n"},
                                           {"a/B.class", "class bytes"}});
        kvtest::writeFile(tmp / "in/classes/a/B.class", "class bytes");
        kvtest::writeFile(tmp / "in/classes/first/Main.class", "class bytes");
        kvtest::writeFile(tmp / "in/classes/second/Main.class", "class bytes");
        kvtest::writeFile(tmp / "in/splash.png", "png bytes");
        kvtest::writeFile(tmp / "in/Demo.cfg", "[Application]\n");
        kvtest::writeJar(tmp / "in/nomain.jar", {{"META-INF/MANIFEST.MF", "Created-By: x\n\n"},
                                              {"a/B.class", "class bytes"}});
        kvtest::makeSymlink("loop2", tmp / "loop");
        kvtest::makeSymlink("loop", tmp / "loop2");
        kvtest::makeDirs(tmp / "out");
    }

    kvtest::ProcessResult tool(const Args& options, const e2e::Env& env = {},
                               const std::string& cwd = std::string()) {
        Args argv{KVTEST_MAKE_BUNDLE};
        argv.insert(argv.end(), options.begin(), options.end());
        return kvtest::runProcess(argv, env, cwd);
    }

    /// The options every run needs, with these values, followed by `more`.
    static Args with(const std::string& launcher, const std::string& name,
                     const std::string& runtime, const std::string& output, const Args& more) {
        Args options{"--launcher", launcher, "--name", name, "--runtime", runtime, "--output",
                     output};
        options.insert(options.end(), more.begin(), more.end());
        return options;
    }

    /// The options of a successful run, followed by `more`.
    Args basic(const Args& more) const {
        return with(KVTEST_LAUNCHER_PATH, "Demo", tmp / "jdk", tmp / "out", more);
    }

    /// Options for a main class found on the class path.
    Args mainClass(const std::string& name = "a.B") const {
        return {"--input", tmp / "in/classes", "--class-path", "classes", "--main-class", name};
    }

    std::string bundle() const { return tmp / "out/Demo.app"; }

    kvtest::TempDir tmp;
};

} // namespace

TEST_F(MakeBundle, WritesTheBundleLayoutAndConfiguration) {
    const kvtest::ProcessResult r = tool(basic(
        {"--input", tmp / "in/app.jar", "--input", tmp / "in/classes/", "--main-jar", "app.jar",
         "--class-path", "classes", "--class-path", "app.jar", "--java-option", "-Dx=a b",
         "--java-option", "-Dd=$APPDIR", "--argument", "one", "--argument", "", "--splash",
         tmp / "in/splash.png", "--package", "com.example demo", "--version", "2.5",
         "--identifier", "com.example.demo"}));

    ASSERT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ("", r.err);
    EXPECT_EQ(bundle() + "\n", r.out);
    EXPECT_EQ((std::vector<std::string>{"Demo.app"}), entries(tmp / "out"));

    EXPECT_EQ(kvtest::readFile(KVTEST_LAUNCHER_PATH),
              kvtest::readFile(bundle() + "/Contents/MacOS/Demo"));
    EXPECT_EQ(0, ::access((bundle() + "/Contents/MacOS/Demo").c_str(), X_OK));
    EXPECT_EQ(kvtest::readFile(tmp / "in/app.jar"),
              kvtest::readFile(bundle() + "/Contents/app/app.jar"));
    EXPECT_EQ("class bytes", kvtest::readFile(bundle() + "/Contents/app/classes/a/B.class"));
    EXPECT_EQ("png bytes", kvtest::readFile(bundle() + "/Contents/app/splash.png"));
    EXPECT_EQ("com.example demo\n", kvtest::readFile(bundle() + "/Contents/app/.package"));
    EXPECT_EQ("[Application]\n"
              "app.version=2.5\n"
              "app.classpath=$APPDIR/classes\n"
              "app.classpath=$APPDIR/app.jar\n"
              "app.splash=$APPDIR/splash.png\n"
              "app.mainjar=$APPDIR/app.jar\n"
              "\n"
              "[JavaOptions]\n"
              "java-options=-Dx=a b\n"
              "java-options=-Dd=$APPDIR\n"
              "\n"
              "[ArgOptions]\n"
              "arguments=one\n"
              "arguments=\n",
              kvtest::readFile(bundle() + "/Contents/app/Demo.cfg"));

    const std::string plist = kvtest::readFile(bundle() + "/Contents/Info.plist");
    for (const char* entry :
         {"<key>CFBundleExecutable</key>\n  <string>Demo</string>",
          "<key>CFBundleIdentifier</key>\n  <string>com.example.demo</string>",
          "<key>CFBundleName</key>\n  <string>Demo</string>",
          "<key>CFBundlePackageType</key>\n  <string>APPL</string>",
          "<key>CFBundleVersion</key>\n  <string>2.5</string>",
          "<key>CFBundleShortVersionString</key>\n  <string>2.5</string>"}) {
        EXPECT_NE(std::string::npos, plist.find(entry)) << entry << "\n" << plist;
    }

    // Only the library is linked: the runtime finds its home from the link's target.
    const std::string lib = bundle() + "/Contents/runtime/Contents/Home/lib/libjli.dylib";
    EXPECT_TRUE(isLink(lib));
    EXPECT_EQ(kvtest::realPath(KVTEST_FAKEJLI_PATH), readLink(lib));
    EXPECT_EQ((std::vector<std::string>{"libjli.dylib"}),
              entries(bundle() + "/Contents/runtime/Contents/Home/lib"));
}

TEST_F(MakeBundle, AssembledBundleStartsWithItsConfiguration) {
    const kvtest::ProcessResult r = tool(
        basic({"--input", tmp / "in/classes", "--class-path", "classes", "--main-class", "a.B",
               "--java-option", "-Dx=a b", "--argument", "one", "--argument", "two words"}));
    ASSERT_EQ(0, r.exitCode) << r.err;

    const std::string launcher = bundle() + "/Contents/MacOS/Demo";
    const e2e::Launch launch = e2e::runLauncher(launcher);

    EXPECT_EQ(0, launch.process.exitCode) << launch.process.err;
    ASSERT_EQ(1u, launch.calls.size());
    EXPECT_EQ((Args{launcher, "-classpath", bundle() + "/Contents/app/classes", "-Dx=a b",
                    "-Dkovalu.app-path=" + launcher, "a.B", "one", "two words"}),
              launch.calls[0].argv);
}

TEST_F(MakeBundle, CopiesARuntimeThatHoldsTheDylib) {
    const std::string jdkHome = tmp / "mac.jdk/Contents/Home";
    kvtest::makeDirs(jdkHome + "/lib");
    e2e::copyFile(KVTEST_FAKEJLI_PATH, jdkHome + "/lib/libjli.dylib", 0755);
    kvtest::writeFile(jdkHome + "/release", "JAVA_VERSION=\"17\"\n");

    // The runtime's home, or the JDK bundle around it.
    for (const std::string& runtime : {jdkHome, tmp / "mac.jdk"}) {
        SCOPED_TRACE(runtime);
        Args more = mainClass();
        more.push_back("--force");
        const kvtest::ProcessResult r =
            tool(with(KVTEST_LAUNCHER_PATH, "Demo", runtime, tmp / "out", more));

        ASSERT_EQ(0, r.exitCode) << r.err;
        const std::string home = bundle() + "/Contents/runtime/Contents/Home";
        EXPECT_FALSE(isLink(home));
        EXPECT_FALSE(isLink(home + "/lib/libjli.dylib"));
        EXPECT_EQ("JAVA_VERSION=\"17\"\n", kvtest::readFile(home + "/release"));
        EXPECT_EQ(kvtest::readFile(KVTEST_FAKEJLI_PATH),
                  kvtest::readFile(home + "/lib/libjli.dylib"));

        const e2e::Launch launch = e2e::runLauncher(bundle() + "/Contents/MacOS/Demo");
        EXPECT_EQ(0, launch.process.exitCode) << launch.process.err;
        EXPECT_EQ(1u, launch.calls.size());
    }
}

TEST_F(MakeBundle, EscapesTheNameInInfoPlist) {
    const kvtest::ProcessResult r =
        tool(with(KVTEST_LAUNCHER_PATH, "R&D <Tool>", tmp / "jdk", tmp / "out", mainClass()));

    ASSERT_EQ(0, r.exitCode) << r.err;
    const std::string plist = kvtest::readFile(tmp / "out/R&D <Tool>.app/Contents/Info.plist");
    EXPECT_NE(std::string::npos,
              plist.find("<key>CFBundleName</key>\n  <string>R&amp;D &lt;Tool&gt;</string>"))
        << plist;
    EXPECT_NE(std::string::npos,
              plist.find("<key>CFBundleIdentifier</key>\n  <string>app.kovalu.R-D--Tool-</string>"))
        << plist;
    EXPECT_NE("", kvtest::readFile(tmp / "out/R&D <Tool>.app/Contents/app/R&D <Tool>.cfg"));
}

TEST_F(MakeBundle, RefusesBadInputWithOneLineAndNoOutput) {
    const std::string launcher = KVTEST_LAUNCHER_PATH;
    const std::string in = tmp / "in";
    // Inputs whose links leave them, lead nowhere or loop; plists that would
    // stop the Finder or claim an older macOS.
    for (const char* dir : {"leaves", "absolute", "dangles", "loops"}) {
        kvtest::writeFile(tmp / ("links/" + std::string(dir) + "/a/B.class"), "class bytes");
    }
    kvtest::makeSymlink("../../in/app.jar", tmp / "links/leaves/app.jar");
    kvtest::makeSymlink(tmp / "links/absolute/a", tmp / "links/absolute/b");
    kvtest::makeSymlink("gone.jar", tmp / "links/dangles/x.jar");
    kvtest::makeSymlink("loop", tmp / "links/loops/loop");
    const auto plist = [&](const std::string& key, const std::string& value) {
        const std::string path = tmp / ("plists/" + key);
        kvtest::writeFile(path, "<plist><dict><key>" + key + "</key><string>" + value +
                                    "</string></dict></plist>");
        return path;
    };
    const auto links = [&](const char* dir) {
        return Args{"--input",      tmp / ("links/" + std::string(dir)),
                    "--class-path", dir,
                    "--main-class", "a.B"};
    };
    const std::vector<std::pair<Args, std::string>> bad{
        // The launcher beside the tool is taken; the class path is what is missing.
        {{"--name", "Demo", "--runtime", tmp / "jdk", "--main-class", "a.B"},
         "the main class a.B is not in the class path, which is empty"},
        {{"--launcher", launcher, "--runtime", tmp / "jdk", "--main-class", "a.B"},
         "missing --name"},
        {{"--launcher", launcher, "--name", "Demo", "--main-class", "a.B"},
         "missing --runtime: give a Java runtime home, or set JAVA_HOME"},
        {basic({}), "give exactly one of --main-jar, --main-class and --main-module"},
        {basic({"--main-class", "a.B", "--main-jar", "app.jar", "--input", in + "/app.jar"}),
         "give exactly one of --main-jar, --main-class and --main-module"},
        {with(tmp / "nope", "Demo", tmp / "jdk", tmp / "out", {"--main-class", "a.B"}),
         "launcher not found: " + tmp.path() + "/nope"},
        {with(launcher, "Demo", in, tmp / "out", {"--main-class", "a.B"}),
         "no lib/libjli.dylib or lib/libjli.so in the Java runtime home: " + tmp.path() + "/in"},
        {with(launcher, "Demo", tmp / "none", tmp / "out", {"--main-class", "a.B"}),
         "Java runtime home not found: " + tmp.path() + "/none"},
        {with(launcher, "a/b", tmp / "jdk", tmp / "out", {"--main-class", "a.B"}),
         "--name must be a plain file name: a/b"},
        {basic({"--main-class", "a.B", "--input", in + "/missing.jar"}),
         "input not found: " + tmp.path() + "/in/missing.jar"},
        {basic({"--main-jar", "missing.jar", "--input", in + "/app.jar"}),
         "main jar not found among the application files: missing.jar"},
        {basic({"--main-class", "a.B", "--class-path", "missing"}),
         "class path entry not found among the application files: missing"},
        {basic({"--main-module", "m/a.B", "--module-path", "missing"}),
         "module path entry not found among the application files: missing"},
        {basic({"--main-class", "a.B", "--class-path", "a:b"}),
         "class and module path entries must not contain ':': a:b"},
        {basic({"--main-class", "a.B", "--splash", in + "/none.png"}),
         "splash image not found: " + tmp.path() + "/in/none.png"},
        {basic({"--input", in + "/app.jar", "--main-jar", "app.jar", "--package", ""}),
         "--package must not be empty"},
        {basic({"--main-class", "a.B", "--input", in + "/app.jar", "--input",
                in + "/classes/../app.jar"}),
         "app.jar would be in Contents/app twice (inputs, Demo.cfg and .package need distinct "
         "names)"},
        {basic({"--main-class", "a.B", "--input", in + "/Demo.cfg"}),
         "Demo.cfg would be in Contents/app twice (inputs, Demo.cfg and .package need distinct "
         "names)"},
        {basic({"--main-class", "a.B", "--input", in + "/.."}),
         "--input needs a named file or directory: " + tmp.path() + "/in/.."},
        {basic({"--input", in + "/app.jar", "--main-jar", "app.jar", "--identifier", "bad id"}),
         "--identifier may hold only letters, digits, '.' and '-': bad id"},
        {basic({"--main-class", "a.B", "--java-option"}), "--java-option needs a value"},
        {basic({"--main-class", "a.B", "--unknown", "x"}),
         "unknown option: --unknown (try --help)"},
        {with(launcher, "Demo", tmp / "jdk", in + "/splash.png", mainClass()),
         "output directory is not a directory: " + tmp.path() + "/in/splash.png"},
        // Rows for what the shell script got wrong.
        {with(launcher, "a\\b", tmp / "jdk", tmp / "out", mainClass()),
         "--name must not contain a backslash: a\\b"},
        {with(launcher, "Demo", tmp / "loop", tmp / "out", mainClass()),
         "cannot resolve the Java runtime home " + tmp.path() +
             "/loop: Too many levels of symbolic links"},
        {with(launcher, "Demo", tmp / "jdk", tmp / "loop/out", mainClass()),
         "cannot resolve the output directory " + tmp.path() +
             "/loop/out: Too many levels of symbolic links"},
        {basic({"--input", in + "/classes", "--class-path", "classes", "--main-class", "a.C"}),
         "the main class a.C is not in classes"},
        {basic({"--input", in + "/app.jar", "--main-class", "a.B"}),
         "the main class a.B is not in the class path, which is empty"},
        {basic({"--input", in + "/nomain.jar", "--main-jar", "nomain.jar"}),
         "the main jar nomain.jar names no Main-Class in its manifest"},
        // Values that would build a bundle that fails on the user's Mac.
        {basic({"--input", in + "/app.jar", "--main-jar", in + "/nomain.jar"}),
         "--main-jar " + tmp.path() +
             "/in/nomain.jar is outside every --input: the bundle would need this file of the "
             "build machine (give it with --input and name it relative to Contents/app)"},
        {basic(
             {"--input", in + "/classes", "--class-path", in + "/app.jar", "--main-class", "a.B"}),
         "--class-path " + tmp.path() +
             "/in/app.jar is outside every --input: the bundle would need this file of the build "
             "machine (give it with --input and name it relative to Contents/app)"},
        {basic(links("leaves")), "--input holds a link that leaves it: " + tmp.path() +
                                     "/links/leaves/app.jar -> ../../in/app.jar"},
        {basic(links("absolute")), "--input holds a link that leaves it: " + tmp.path() +
                                       "/links/absolute/b -> " + tmp.path() + "/links/absolute/a"},
        {basic(links("dangles")), "--input holds a link that leads nowhere: " + tmp.path() +
                                      "/links/dangles/x.jar -> gone.jar"},
        {basic(links("loops")), "cannot resolve the link " + tmp.path() +
                                    "/links/loops/loop -> loop: Too many levels of symbolic links"},
        {with(launcher, "A:B", tmp / "jdk", tmp / "out", mainClass()),
         "--name must not contain ':', which would split the class path: A:B"},
        {with(launcher, "Cost$APPDIR", tmp / "jdk", tmp / "out", mainClass()),
         "--name must not contain $APPDIR, which the launcher would expand: Cost$APPDIR"},
        {basic({"--input", in + "/classes", "--module-path", "classes", "--main-module", "foo"}),
         "the main module foo is neither on the module path nor in the runtime"},
        {basic({"--jlink-minimal", "--input", in + "/app.jar", "--main-jar", "app.jar"}),
         "--jlink-minimal needs --jlink"},
        {basic({"--java-option", "Xmx256m", "--input", in + "/app.jar", "--main-jar", "app.jar"}),
         "--java-option must begin with '-': Xmx256m"},
        {basic({"--info-plist", plist("CFBundleExecutable", "Other"), "--main-class", "a.B"}),
         "--info-plist must not change CFBundleExecutable: the Finder would not find the launcher "
         "Contents/MacOS/Demo"},
        {basic({"--info-plist", plist("CFBundlePackageType", "FMWK"), "--main-class", "a.B"}),
         "--info-plist must not change CFBundlePackageType from APPL: the Finder would not open "
         "the bundle as an application"},
        {basic({"--info-plist", plist("LSMinimumSystemVersion", "10.15"), "--main-class", "a.B"}),
         "--info-plist must not set LSMinimumSystemVersion below 11, the oldest macOS the launcher "
         "runs on: 10.15"},
        {with(launcher, "Demo", tmp / "jdk", in + "/classes/out", mainClass()),
         "--output " + tmp.path() + "/in/classes/out is inside the input " + tmp.path() +
             "/in/classes, which would then hold the bundle being made"},
    };
    for (const auto& [options, message] : bad) {
        std::string shown;
        for (const std::string& o : options) {
            shown += " [" + o + "]";
        }
        SCOPED_TRACE(shown);
        const kvtest::ProcessResult r = tool(options, {{"JAVA_HOME", std::nullopt}});
        EXPECT_EQ(1, r.exitCode);
        EXPECT_EQ("", r.out);
        EXPECT_EQ("kovalu-bundle: " + message + "\n", r.err);
        EXPECT_TRUE(entries(tmp / "out").empty());
    }
    EXPECT_NE(0, ::access((in + "/classes/out").c_str(), F_OK));
}

TEST_F(MakeBundle, RefusesLineBreaksInValues) {
    for (const char* option : {"--name", "--main-class", "--java-option", "--argument",
                               "--package", "--version", "--class-path"}) {
        SCOPED_TRACE(option);
        Args options = basic({"--main-class", "a.B"});
        options.push_back(option);
        options.push_back("first\nsecond");
        const kvtest::ProcessResult r = tool(options);
        EXPECT_EQ(1, r.exitCode);
        EXPECT_EQ("kovalu-bundle: " + std::string(option) + " must not contain a line break\n",
                  r.err);
        EXPECT_TRUE(entries(tmp / "out").empty());
    }
}

TEST_F(MakeBundle, KeepsAnExistingBundleUnlessForced) {
    ASSERT_EQ(0, tool(basic(mainClass("first.Main"))).exitCode);
    const std::string cfg = bundle() + "/Contents/app/Demo.cfg";

    const kvtest::ProcessResult refused = tool(basic(mainClass("second.Main")));
    EXPECT_EQ(1, refused.exitCode);
    EXPECT_EQ("kovalu-bundle: " + bundle() + " already exists (use --force to replace it)\n",
              refused.err);
    EXPECT_NE(std::string::npos, kvtest::readFile(cfg).find("app.mainclass=first.Main\n"));

    Args force = mainClass("second.Main");
    force.push_back("--force");
    const kvtest::ProcessResult forced = tool(basic(force));
    EXPECT_EQ(0, forced.exitCode) << forced.err;
    EXPECT_NE(std::string::npos, kvtest::readFile(cfg).find("app.mainclass=second.Main\n"));
    EXPECT_EQ((std::vector<std::string>{"Demo.app"}), entries(tmp / "out"));

    // A forced run that fails leaves the earlier bundle as it was.
    const kvtest::ProcessResult failed =
        tool(basic({"--main-jar", "missing.jar", "--force"}));
    EXPECT_EQ(1, failed.exitCode);
    EXPECT_NE(std::string::npos, kvtest::readFile(cfg).find("app.mainclass=second.Main\n"));
    EXPECT_EQ((std::vector<std::string>{"Demo.app"}), entries(tmp / "out"));
}

TEST_F(MakeBundle, TakesValuesThatBeginWithADashAndCreatesTheOutput) {
    kvtest::writeJar(tmp / "in/-x.jar", {{"META-INF/MANIFEST.MF", "Main-Class: a.B\n\n"},
                                      {"a/B.class", "class bytes"}});
    const kvtest::ProcessResult r = tool(
        with(KVTEST_LAUNCHER_PATH, "Demo", tmp / "jdk", "-out/new",
             {"--input", "-x.jar", "--main-jar", "-x.jar", "--argument", "-v"}),
        {}, tmp / "in");
    ASSERT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ(tmp / "in/-out/new/Demo.app\n", r.out);
    const std::string cfg = kvtest::readFile(tmp / "in/-out/new/Demo.app/Contents/app/Demo.cfg");
    EXPECT_NE(std::string::npos, cfg.find("app.mainjar=$APPDIR/-x.jar\n")) << cfg;
    EXPECT_NE(std::string::npos, cfg.find("arguments=-v\n")) << cfg;
}

TEST_F(MakeBundle, OfTwoConcurrentBuildsOneWinsAndNothingNests) {
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        kvtest::runProcess({"/bin/rm", "-rf", bundle()});
        kvtest::ProcessResult first, second;
        std::thread other([&] { first = tool(basic(mainClass())); });
        second = tool(basic(mainClass()));
        other.join();
        EXPECT_EQ(1, first.exitCode + second.exitCode) << first.err << second.err;
        EXPECT_EQ("kovalu-bundle: " + bundle() + " already exists (use --force to replace it)\n",
                  first.exitCode ? first.err : second.err);
        EXPECT_EQ((std::vector<std::string>{"Demo.app"}), entries(tmp / "out"));
        EXPECT_EQ((std::vector<std::string>{"Contents"}), entries(bundle()));
    }
}

TEST_F(MakeBundle, DerivesTheSameIdentifierInEveryLocale) {
    for (const char* locale : {"C", "C.UTF-8", "POSIX"}) {
        SCOPED_TRACE(locale);
        Args more = mainClass();
        more.push_back("--force");
        const kvtest::ProcessResult r =
            tool(with(KVTEST_LAUNCHER_PATH, "Caf\xc3\xa9", tmp / "jdk", tmp / "out", more),
                 {{"LC_ALL", std::string(locale)}});
        ASSERT_EQ(0, r.exitCode) << r.err;
        EXPECT_NE(std::string::npos,
                  kvtest::readFile(tmp / "out/Caf\xc3\xa9.app/Contents/Info.plist")
                      .find("<string>app.kovalu.Caf-</string>"));
    }
}

// The main class of a main module, given after the slash or named by the
// module's descriptor, must be in the application's module of that name.
TEST_F(MakeBundle, MainModuleMustHoldItsMainClass) {
    const std::string jdk = e2e::findJdkHome();
    if (jdk.empty()) {
        GTEST_SKIP() << "no JDK: javac is not on the PATH";
    }
    kvtest::writeFile(tmp / "src/module-info.java", "module probe {}\n");
    kvtest::writeFile(tmp / "src/probe/Main.java", "package probe; public class Main {}\n");
    ASSERT_EQ(0, kvtest::runProcess({jdk + "/bin/javac", "-d", tmp / "in/mods/probe",
                                     tmp / "src/module-info.java", tmp / "src/probe/Main.java"})
                     .exitCode);
    kvtest::makeDirs(tmp / "in/jars");
    ASSERT_EQ(0, kvtest::runProcess({jdk + "/bin/jar", "--create", "--file",
                                     tmp / "in/jars/probe.jar", "--main-class", "probe.Main",
                                     "-C", tmp / "in/mods/probe", "."})
                     .exitCode);
    const struct {
        const char* modulePath;
        const char* mainModule;
        std::string error; // empty: the bundle is made
    } cases[] = {
        {"mods", "probe/probe.Main", ""},
        {"jars", "probe", ""},
        {"jars/probe.jar", "probe/probe.Main", ""},
        {"mods", "java.base/java.lang.Object", ""},
        {"mods", "probe/probe.Missing",
         "the main class probe.Missing is not in the module probe in mods/probe"},
        {"jars", "probe/probe.Missing",
         "the main class probe.Missing is not in the module probe in jars/probe.jar"},
        {"mods", "probe",
         "the module probe in mods/probe names no main class: give one as --main-module "
         "probe/CLASS"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.modulePath) + " " + c.mainModule);
        const std::string dir = std::string(c.modulePath).substr(0, 4);
        const kvtest::ProcessResult r =
            tool(basic({"--input", tmp / ("in/" + dir), "--module-path", c.modulePath,
                        "--main-module", c.mainModule, "--force"}));
        EXPECT_EQ(c.error.empty() ? 0 : 1, r.exitCode);
        EXPECT_EQ(c.error.empty() ? "" : "kovalu-bundle: " + c.error + "\n", r.err);
    }
}

TEST_F(MakeBundle, WarnsOnceForEachManifestClassPathEntryOutsideTheBundleOrMissing) {
    kvtest::writeJar(tmp / "in/main.jar",
                  {{"META-INF/MANIFEST.MF", "Main-Class: a.B\nClass-Path: lib/d.jar ../../x.jar \n"
                                            " ../../../up.jar /abs/y.jar lib/e.jar\n\n"},
                   {"a/B.class", "class bytes"}});
    kvtest::writeFile(tmp / "in/lib/d.jar", "");
    const kvtest::ProcessResult r = tool(
        basic({"--input", tmp / "in/main.jar", "--input", tmp / "in/lib", "--main-jar", "main.jar"}));
    ASSERT_EQ(0, r.exitCode) << r.err;
    const std::string warning = "kovalu-bundle: warning: the manifest Class-Path of main.jar ";
    const std::string missing = ", which is not among the application files\n";
    EXPECT_EQ(warning + "names ../../x.jar" + missing + warning +
                  "points outside the bundle: ../../../up.jar\n" + warning +
                  "points outside the bundle: /abs/y.jar\n" + warning + "names lib/e.jar" + missing,
              r.err);
}

// What the launch on the user's Mac needs: paths relative to the bundle, file
// names as they are, links inside an input kept as links.
TEST_F(MakeBundle, WritesPathsAndLinksThatHoldOnAnotherMac) {
    const std::string in = tmp / "in";
    kvtest::writeJar(in + "/my\\app.jar", {{"META-INF/MANIFEST.MF", "Main-Class: a.B\n\n"},
                                           {"a/B.class", "class bytes"}});
    kvtest::writeFile(in + "/Foo.framework/Versions/A/Foo", "code");
    kvtest::makeSymlink("A", in + "/Foo.framework/Versions/Current");
    kvtest::makeSymlink("Versions/Current/Foo", in + "/Foo.framework/Foo");
    const std::string warned = "kovalu-bundle: warning: ";
    const struct {
        Args more;
        std::string err;
        std::string cfgLine;
    } cases[] = {
        {{"--input", in + "/app.jar", "--main-jar", in + "/app.jar"},
         warned + "--main-jar " + in + "/app.jar is written as app.jar, its copy in the bundle\n",
         "app.mainjar=$APPDIR/app.jar\n"},
        {{"--input", in + "/classes", "--class-path", in + "/classes/", "--main-class", "a.B"},
         warned + "--class-path " + in +
             "/classes/ is written as classes, its copy in the bundle\n",
         "app.classpath=$APPDIR/classes\n"},
        {{"--input", in + "/my\\app.jar", "--main-jar", "my\\app.jar"},
         "",
         "app.mainjar=$APPDIR/my\\app.jar\n"},
        {{"--input", in + "/Foo.framework", "--input", in + "/app.jar", "--main-jar", "app.jar"},
         "",
         "app.mainjar=$APPDIR/app.jar\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.more[1]);
        Args more = c.more;
        more.push_back("--force");
        const kvtest::ProcessResult r = tool(basic(more));
        ASSERT_EQ(0, r.exitCode) << r.err;
        EXPECT_EQ(c.err, r.err);
        const std::string cfg = kvtest::readFile(bundle() + "/Contents/app/Demo.cfg");
        EXPECT_NE(std::string::npos, cfg.find(c.cfgLine)) << cfg;
        const std::string copied = bundle() + "/Contents/app/" + c.more[1].substr(in.size() + 1);
        EXPECT_EQ(0, ::access(copied.c_str(), F_OK)) << copied;
    }
    EXPECT_EQ("A", readLink(bundle() + "/Contents/app/Foo.framework/Versions/Current"));
    EXPECT_EQ("Versions/Current/Foo", readLink(bundle() + "/Contents/app/Foo.framework/Foo"));
}

// The hidden staging directory is named after NAME, cut where it would not fit.
TEST_F(MakeBundle, ANameThatFitsAsNameAppIsMade) {
    std::string accented;
    for (int i = 0; i < 124; ++i) {
        accented += "\xc3\xa9";
    }
    for (const std::string& name : {std::string(250, 'n'), accented}) {
        kvtest::runProcess({"/bin/rm", "-rf", tmp / "out"});
        const kvtest::ProcessResult r =
            tool(with(KVTEST_LAUNCHER_PATH, name, tmp / "jdk", tmp / "out", mainClass()));
        ASSERT_EQ(0, r.exitCode) << r.err;
        EXPECT_EQ(std::vector<std::string>{name + ".app"}, entries(tmp / "out"));
    }
}

TEST_F(MakeBundle, UsageCommandsAndTheToolsOwnVersion) {
    const std::regex version("kovalu-bundle [0-9]+\\.[0-9]+\\.[0-9]+\n");
    const kvtest::ProcessResult bare = tool({});
    EXPECT_EQ(2, bare.exitCode);
    EXPECT_EQ("", bare.out);
    EXPECT_EQ(0u, bare.err.find("Usage: kovalu-bundle ")) << bare.err;
    const kvtest::ProcessResult help = tool({"--help"});
    EXPECT_EQ(0, help.exitCode);
    for (const char* command : {"\n  sign PATH.app ", "\n  notarize PATH ", "\n  verify PATH.app ",
                                "\n  version "}) {
        EXPECT_NE(std::string::npos, help.out.find(command)) << command;
    }
    for (const char* asked : {"version", "-V", "--version"}) {
        const kvtest::ProcessResult r = tool({asked});
        EXPECT_EQ(0, r.exitCode);
        EXPECT_TRUE(std::regex_match(r.out, version)) << r.out;
    }
}

TEST_F(MakeBundle, FindsTheLauncherBesideTheToolAndTheRuntimeInJavaHome) {
    // The tool as installed: bin/kovalu-bundle and libexec/kovalu/applauncher.
    kvtest::makeDirs(tmp / "prefix/bin");
    kvtest::makeDirs(tmp / "prefix/libexec/kovalu");
    kvtest::makeDirs(tmp / "alone");
    e2e::copyFile(KVTEST_MAKE_BUNDLE, tmp / "prefix/bin/kovalu-bundle", 0755);
    e2e::copyFile(KVTEST_LAUNCHER_PATH, tmp / "prefix/libexec/kovalu/applauncher", 0755);
    e2e::copyFile(KVTEST_MAKE_BUNDLE, tmp / "alone/kovalu-bundle", 0755);
    const Args options{"--name", "Demo", "--output", tmp / "out", "--force", "--input",
                       tmp / "in/app.jar", "--main-jar", "app.jar"};
    struct Row {
        std::string tool;
        Args more;
        std::optional<std::string> javaHome;
        std::string error;
    };
    const std::vector<Row> rows{
        {KVTEST_MAKE_BUNDLE, {"--runtime", tmp / "jdk"}, std::nullopt, ""},
        {tmp / "prefix/bin/kovalu-bundle", {}, tmp / "jdk", ""},
        {tmp / "alone/kovalu-bundle", {"--runtime", tmp / "jdk"}, std::nullopt,
         "missing --launcher: no applauncher beside " + tmp / "alone/kovalu-bundle" + " or in " +
             tmp / "alone/../libexec/kovalu"},
        {KVTEST_MAKE_BUNDLE, {}, std::nullopt,
         "missing --runtime: give a Java runtime home, or set JAVA_HOME"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.tool);
        Args argv{row.tool};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.insert(argv.end(), row.more.begin(), row.more.end());
        const kvtest::ProcessResult r = kvtest::runProcess(argv, {{"JAVA_HOME", row.javaHome}});
        EXPECT_EQ(row.error.empty() ? "" : "kovalu-bundle: " + row.error + "\n", r.err);
        if (row.error.empty()) {
            EXPECT_EQ(kvtest::readFile(KVTEST_LAUNCHER_PATH),
                      kvtest::readFile(bundle() + "/Contents/MacOS/Demo"));
            EXPECT_EQ(KVTEST_FAKEJLI_PATH,
                      readLink(bundle() + "/Contents/runtime/Contents/Home/lib/libjli.dylib"));
        }
    }
}

TEST_F(MakeBundle, RefusesALauncherForAnotherSystemThanTheRuntime) {
    kvtest::writeFile(tmp / "mac/lib/libjli.dylib", std::string("\xcf\xfa\xed\xfe\x0c\0\0\x01", 8));
    kvtest::writeFile(tmp / "macos-launcher", std::string("\xcf\xfa\xed\xfe\x0c\0\0\x01", 8));
    ::chmod((tmp / "macos-launcher").c_str(), 0755);
    const std::string launcher = KVTEST_LAUNCHER_PATH;
    const std::vector<std::pair<Args, std::string>> cases{
        {with(launcher, "Demo", tmp / "mac", tmp / "out", mainClass()),
         "the launcher " + launcher + " is a Linux executable but " + tmp / "mac/lib/libjli.dylib" +
             " is for macOS: both must be for the same system"},
        {with(tmp / "macos-launcher", "Demo", tmp / "jdk", tmp / "out", mainClass()),
         "the launcher " + tmp / "macos-launcher" + " is a macOS executable but " +
             tmp / "jdk/lib/libjli.so" + " is for Linux: both must be for the same system"},
    };
    for (const auto& [options, message] : cases) {
        const kvtest::ProcessResult r = tool(options);
        EXPECT_EQ(1, r.exitCode);
        EXPECT_EQ("kovalu-bundle: " + message + "\n", r.err);
        EXPECT_TRUE(entries(tmp / "out").empty());
    }
}
