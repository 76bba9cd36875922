// The per-user class-data archive with the real JVM (it writes and maps the
// archive) and with the runtime-library double (the exact argument vector).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "CacheFiles.h"
#include "E2eSupport.h"
#include "TestSupport.h"

using Args = std::vector<std::string>;

namespace {

const int jvmTimeoutSeconds = 240;

// The entries of a directory but the launcher's lock files.
Args listDir(const std::string& dir) {
    Args names = CacheFiles::listDir(dir);
    names.erase(std::remove_if(names.begin(), names.end(),
                               [](const std::string& n) { return n.find(".lock") != n.npos; }),
                names.end());
    return names;
}

// The complete archives of a cache directory.
Args archives(const std::string& dir) {
    Args names = CacheFiles::listDir(dir);
    names.erase(std::remove_if(names.begin(), names.end(),
                               [](const std::string& n) {
                                   const std::string ext = n.substr(n.size() < 4 ? 0 : n.size() - 4);
                                   return ext != ".jsa" && ext != ".aot";
                               }),
                names.end());
    return names;
}

const char* const temurin25 = "/usr/lib/jvm/temurin-25-jdk-amd64";

// Exits with 3 after printing its arguments; "hold <ready> <release>" first
// creates <ready> and waits for <release>. Loads Helper from wherever it is.
const char* const appSource = R"(package cds;
import java.nio.file.*;
public final class App {
    public static void main(String[] a) throws Exception {
        System.out.println("app " + String.join(" ", a) + " " + Helper.name());
        if (a.length == 3 && a[0].equals("hold")) {
            Files.createFile(Path.of(a[1]));
            while (!Files.exists(Path.of(a[2]))) {
                Thread.sleep(20);
            }
        }
        System.exit(3);
    }
}
)";
const char* const helperSource =
    "package cds;\npublic final class Helper { static String name() { return \"helper\"; } }\n";
// A Java agent that does nothing.
const char* const agentSource =
    "package cds;\npublic final class Agent { public static void premain(String a) {} }\n";

class ClassDataArchive : public ::testing::Test {
protected:
    // Compiled once: app.jar holds both classes, classes/ and lib/ one each.
    static void SetUpTestSuite() {
        // A Linux JDK: the bundles link its lib/libjli.so.
        const std::string home = e2e::findJdkHome();
        if (home.empty() || ::access((home + "/lib/server/libjvm.so").c_str(), R_OK) != 0) {
            return;
        }
        jdk = new std::string(home);
        built = new kvtest::TempDir();
        kvtest::writeFile(*built / "src/cds/App.java", appSource);
        kvtest::writeFile(*built / "src/cds/Helper.java", helperSource);
        tool({*jdk + "/bin/javac", "-d", *built / "classes", *built / "src/cds/App.java",
              *built / "src/cds/Helper.java"});
        tool({*jdk + "/bin/jar", "--create", "--file", *built / "app.jar", "-C",
              *built / "classes", "."});
        kvtest::writeFile(*built / "agent/cds/Agent.java", agentSource);
        kvtest::writeFile(*built / "agent/manifest.txt", "Premain-Class: cds.Agent\n");
        tool({*jdk + "/bin/javac", "-d", *built / "agent", *built / "agent/cds/Agent.java"});
        tool({*jdk + "/bin/jar", "--create", "--file", *built / "agent.jar", "--manifest",
              *built / "agent/manifest.txt", "-C", *built / "agent", "cds/Agent.class"});
        kvtest::makeDirs(*built / "lib/cds");
        ::rename((*built / "classes/cds/Helper.class").c_str(),
                 (*built / "lib/cds/Helper.class").c_str());
    }

    static void TearDownTestSuite() {
        delete built;
        delete jdk;
        built = nullptr;
        jdk = nullptr;
    }

    void SetUp() override {
        if (!built) {
            GTEST_SKIP() << "no Linux JDK: set JAVA_HOME or install javac";
        }
    }

    static void tool(const Args& argv) {
        const kvtest::ProcessResult r = kvtest::runProcess(argv, {}, "", jvmTimeoutSeconds);
        ASSERT_EQ(0, r.exitCode) << argv[0] << " failed:\n" << r.out << r.err;
    }

    /// A bundle "Cds.app" in `work` around `library` with the given
    /// [Application] lines (app.cds=auto added) and Java options.
    e2e::Bundle makeBundle(const std::string& appLines, const Args& javaOptions = {},
                           const std::string& library = std::string()) {
        e2e::Bundle bundle(work.path(), "Cds");
        bundle.linkRuntimeLibrary(library.empty() ? *jdk + "/lib/libjli.so" : library);
        std::string cfg = "[Application]\napp.cds=auto\n" + appLines + "[JavaOptions]\n";
        for (const std::string& option : javaOptions) {
            cfg += "java-options=" + option + "\n";
        }
        bundle.writeCfg(cfg);
        e2e::copyFile(*built / "app.jar", bundle.appDir + "/app.jar", 0644);
        launcher = bundle.launcher;
        return bundle;
    }

    e2e::Env env() const {
        e2e::Env vars = e2e::jvmEnvironment();
        vars["HOME"] = work.path();
        vars["CLASSPATH"] = std::nullopt;
        return vars;
    }

    /// Starts the launcher with "x" and expects the application's own output
    /// and exit status, nothing else.
    /// `shell`, when given, starts it: "$0" is the launcher.
    void startCleanly(const std::string& what, const e2e::Env& extra = {},
                      const std::string& shell = std::string()) {
        e2e::Env vars = env();
        for (const auto& kv : extra) {
            vars[kv.first] = kv.second;
        }
        const Args argv =
            shell.empty() ? Args{launcher, "x"} : Args{"/bin/sh", "-c", shell, launcher};
        const kvtest::ProcessResult r = kvtest::runProcess(argv, vars, "", jvmTimeoutSeconds);
        EXPECT_EQ(3, r.exitCode) << what << "\n" << r.err;
        EXPECT_EQ("app x helper\n", r.out) << what;
        EXPECT_EQ("", r.err) << what;
    }

    std::string cache() const { return work / "Library/Caches/Cds"; }

    /// Until no launch is writing: the one that writes, the detached create
    /// step included, holds the cache's lock to its end. At most the time a
    /// JVM may take.
    void waitForWriting() const {
        const int fd = ::open((cache() + "/Cds.lock").c_str(), O_RDONLY | O_CLOEXEC);
        for (int i = 0; fd >= 0 && i < jvmTimeoutSeconds * 10; ++i) {
            if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
                break;
            }
            ::usleep(100 * 1000);
        }
        if (fd >= 0) {
            ::close(fd);
        }
    }

    /// The one complete archive in the cache, checked against the size in
    /// its name; fails on any other archive there. An ahead-of-time cache is
    /// created after the launch, by a process of its own: it is waited for.
    std::string onlyArchive() const {
        waitForWriting();
        const Args names = archives(cache());
        EXPECT_EQ(1u, names.size()) << (names.empty() ? "" : names.front());
        if (names.size() != 1) {
            return std::string();
        }
        const std::string& name = names.front();
        const std::size_t dash = name.rfind('-');
        const std::string size = name.substr(dash + 1, name.size() - dash - 1 - 4);
        EXPECT_EQ(size, std::to_string(kvtest::readFile(cache() + "/" + name).size())) << name;
        return cache() + "/" + name;
    }

    /// A runtime home with copies of the two libraries and links to the rest
    /// of the JDK, so the test decides its release file and base archive.
    std::string makeRuntime(const std::string& release, bool baseArchive) {
        const std::string home = work / "rt";
        kvtest::makeDirs(home + "/lib/server");
        for (const char* entry : {"conf", "legal"}) {
            kvtest::makeSymlink(*jdk + "/" + entry, home + "/" + entry);
        }
        for (const std::string& name : listDir(*jdk + "/lib")) {
            if (name != "server" && name != "libjli.so") {
                kvtest::makeSymlink(*jdk + "/lib/" + name, home + "/lib/" + name);
            }
        }
        e2e::copyFile(*jdk + "/lib/libjli.so", home + "/lib/libjli.so", 0755);
        e2e::copyFile(*jdk + "/lib/server/libjvm.so", home + "/lib/server/libjvm.so", 0755);
        if (baseArchive) {
            kvtest::makeSymlink(*jdk + "/lib/server/classes.jsa", home + "/lib/server/classes.jsa");
        }
        if (!release.empty()) {
            kvtest::writeFile(home + "/release", release);
        }
        return home + "/lib/libjli.so";
    }

    static std::string* jdk;
    static kvtest::TempDir* built;
    kvtest::TempDir work;
    std::string launcher;
};

std::string* ClassDataArchive::jdk = nullptr;
kvtest::TempDir* ClassDataArchive::built = nullptr;

std::string jarApp() {
    return "app.classpath=$APPDIR/app.jar\napp.mainclass=cds.App\n";
}

} // namespace

TEST_F(ClassDataArchive, WrittenByTheFirstLaunchMappedByTheNext) {
    kvtest::makeDirs(work / "in");
    e2e::copyFile(*built / "app.jar", work / "in/app.jar", 0644);
    kvtest::makeDirs(work / "out");
    tool({KVTEST_MAKE_BUNDLE, "--launcher", KVTEST_LAUNCHER_PATH, "--name", "Cds", "--runtime",
          *jdk, "--output", work / "out", "--input", work / "in/app.jar", "--class-path",
          "app.jar", "--main-class", "cds.App", "--java-option",
          "-Xlog:class+load:file=" + work / "load-%p.log", "--cds"});
    launcher = work / "out/Cds.app/Contents/MacOS/Cds";

    for (const char* source : {"source: file:", "source: shared objects file (top)"}) {
        for (const std::string& log : listDir(work.path())) {
            if (log.find("load-") == 0) {
                ::unlink((work / log).c_str());
            }
        }
        startCleanly(source);
        onlyArchive();
        std::string loads;
        for (const std::string& log : listDir(work.path())) {
            if (log.find("load-") == 0) {
                loads += kvtest::readFile(work / log);
            }
        }
        EXPECT_NE(std::string::npos, loads.find("cds.Helper " + std::string(source))) << loads;
    }
    struct stat buf;
    ASSERT_EQ(0, ::stat(cache().c_str(), &buf));
    EXPECT_EQ(0700u, buf.st_mode & 0777u);
}

// On every runtime at hand: the cache is written by the first launch (on 25
// created after it), mapped by the next, and a jar replaced by one of the
// same size and modification time runs its new classes, also a jar that the
// main jar names by its manifest's Class-Path.
TEST_F(ClassDataArchive, EveryRuntimeMapsItsCacheAndNeverRunsStaleCode) {
    kvtest::writeFile(work / "v2/src/cds/Helper.java",
                      "package cds;\npublic final class Helper { static String name() { "
                      "return \"HELPER\"; } }\n");
    tool({*jdk + "/bin/javac", "--release", "13", "-d", work / "v2/classes",
          work / "v2/src/cds/Helper.java"});
    // Stored, not compressed: the two jars are of one size.
    tool({*jdk + "/bin/jar", "--create", "--no-compress", "--file", work / "v1.jar", "-C",
          *built / "classes", ".", "-C", *built / "lib", "."});
    tool({*jdk + "/bin/jar", "--create", "--no-compress", "--file", work / "v2.jar", "-C",
          *built / "classes", ".", "-C", work / "v2/classes", "."});
    kvtest::writeFile(work / "manifest.txt", "Class-Path: lib/helper.jar\n");
    tool({*jdk + "/bin/jar", "--create", "--file", work / "main.jar", "--manifest",
          work / "manifest.txt", "-C", *built / "classes", "cds/App.class"});
    tool({*jdk + "/bin/jar", "--create", "--no-compress", "--file", work / "lib-v1.jar", "-C",
          *built / "lib", "."});
    tool({*jdk + "/bin/jar", "--create", "--no-compress", "--file", work / "lib-v2.jar", "-C",
          work / "v2/classes", "."});
    Args runtimes = {*jdk};
    if (::access((std::string(temurin25) + "/lib/libjli.so").c_str(), R_OK) == 0) {
        runtimes.push_back(temurin25);
    }
    const struct {
        const char* layout;
        const char* mainJar;
        const char* replaced; // in the app directory
        std::string v1, v2;
    } layouts[] = {
        {"one jar", "v1.jar", "app.jar", work / "v1.jar", work / "v2.jar"},
        {"manifest Class-Path", "main.jar", "lib/helper.jar", work / "lib-v1.jar",
         work / "lib-v2.jar"},
    };
    for (const std::string& runtime : runtimes) {
        for (const auto& layout : layouts) {
            const std::string what = runtime + ", " + layout.layout;
            tool({"/bin/rm", "-rf", work / "Cds.app", work / "Library", work / "load.log"});
            const e2e::Bundle bundle = makeBundle(jarApp(), {"-Xlog:class+load:file=" + work / "load.log"},
                                                  runtime + "/lib/libjli.so");
            e2e::copyFile(work / layout.mainJar, bundle.appDir + "/app.jar", 0644);
            kvtest::makeDirs(bundle.appDir + "/lib");
            e2e::copyFile(layout.v1, bundle.appDir + "/" + layout.replaced, 0644);
            const auto launch = [&](const std::string& helper) {
                const kvtest::ProcessResult r =
                    kvtest::runProcess({launcher, "x"}, env(), "", jvmTimeoutSeconds);
                EXPECT_EQ(3, r.exitCode) << what << "\n" << r.err;
                EXPECT_EQ("app x " + helper + "\n", r.out) << what;
                return r.err;
            };
            // The runtime's report of the recording goes to standard error, once.
            const std::string recording = launch("helper");
            EXPECT_TRUE(recording.empty() || recording.find(" AOTConfiguration recorded: ") == 0)
                << recording;
            onlyArchive();
            EXPECT_EQ("", launch("helper")) << what;
            EXPECT_NE(std::string::npos, kvtest::readFile(work / "load.log")
                                             .find("cds.Helper source: shared objects file"))
                << what;

            const std::string replaced = bundle.appDir + "/" + layout.replaced;
            struct stat before;
            ASSERT_EQ(0, ::stat(replaced.c_str(), &before));
            tool({"/bin/cp", layout.v2, replaced});
            const struct timespec times[2] = {before.st_atim, before.st_mtim};
            ASSERT_EQ(0, ::utimensat(AT_FDCWD, replaced.c_str(), times, 0));
            struct stat after;
            ASSERT_EQ(0, ::stat(replaced.c_str(), &after));
            ASSERT_EQ(before.st_size, after.st_size);
            launch("HELPER");
            waitForWriting();
        }
    }
}

TEST_F(ClassDataArchive, TrapsLeaveTheLaunchAsWithoutIt) {
    const struct {
        const char* what;
        std::function<void()> setUp;
        e2e::Env env;
    } cases[] = {
        {"non-empty directory on the class path",
         [this] {
             makeBundle("app.classpath=" + (*built / "lib") + "\napp.classpath=" +
                        (*built / "app.jar") + "\napp.mainclass=cds.App\n");
         },
         {}},
        {"-Xshare:off", [this] { makeBundle(jarApp(), {"-Xshare:off"}); }, {}},
        {"base archive cannot map",
         [this] { makeBundle(jarApp(), {"-XX:-UseCompressedClassPointers"}); },
         {}},
        {"runtime without base archive",
         [this] {
             makeBundle(jarApp(), {}, makeRuntime("JAVA_VERSION=\"17\"\n", false));
         },
         {}},
        {"runtime older than 13",
         [this] {
             makeBundle(jarApp(), {}, makeRuntime("JAVA_VERSION=\"11.0.2\"\n", true));
         },
         {}},
        {"runtime without release file",
         [this] { makeBundle(jarApp(), {}, makeRuntime("", true)); }, {}},
        {"no HOME", [this] { makeBundle(jarApp()); },
         {{"HOME", std::nullopt}}},
        {"cache directory is a file",
         [this] {
             makeBundle(jarApp());
             kvtest::writeFile(cache(), "");
         },
         {}},
        {"a Java agent (13 to 24)",
         [this] {
             makeBundle(jarApp(), {"-javaagent:$APPDIR/agent.jar"});
             e2e::copyFile(*built / "agent.jar", work / "Cds.app/Contents/app/agent.jar", 0644);
         },
         {}},
    };
    for (const auto& c : cases) {
        kvtest::writeFile(work / "placeholder", "");
        c.setUp();
        for (const char* launch : {"first", "second", "third"}) {
            startCleanly(c.what + std::string(", ") + launch, c.env);
        }
        EXPECT_EQ(Args{}, listDir(cache())) << c.what;
        // The next case starts from a fresh home and bundle.
        tool({"/bin/rm", "-rf", work / "Cds.app", work / "Library", work / "rt"});
    }
}

// The JVM checks the directories that a jar's manifest names only when it
// writes the archive at exit, and then fails the launch: such a launch is
// left without the cache from the start.
TEST_F(ClassDataArchive, ManifestDirectoryLeavesTheCacheAlone) {
    makeBundle("app.classpath=$APPDIR/manifest.jar\napp.mainclass=cds.App\n");
    kvtest::writeFile(work / "manifest.txt", "Class-Path: lib/\n");
    tool({*jdk + "/bin/jar", "--create", "--file", work / "Cds.app/Contents/app/manifest.jar",
          "--manifest", work / "manifest.txt", "-C", *built / "classes", "."});
    tool({"/bin/cp", "-R", *built / "lib", work / "Cds.app/Contents/app/lib"});
    startCleanly("first");
    startCleanly("second");
    EXPECT_EQ(Args{}, listDir(cache()));
}

TEST_F(ClassDataArchive, StaleTruncatedRefusedAndHalfWrittenArchivesAreHarmless) {
    makeBundle("app.classpath=" + work / "app.jar" + "\napp.mainclass=cds.App\n");
    e2e::copyFile(*built / "app.jar", work / "app.jar", 0644);
    startCleanly("first");
    const std::string first = onlyArchive();
    const std::string firstBytes = kvtest::readFile(first);

    // Truncated under its final name: deleted and written anew.
    kvtest::writeFile(first, firstBytes.substr(0, firstBytes.size() / 2));
    startCleanly("truncated");
    EXPECT_EQ(firstBytes.size(), kvtest::readFile(onlyArchive()).size());

    // An archive of another jar under this jar's key, with its size right:
    // the JVM refuses it, quietly, and the next launch writes it anew.
    kvtest::writeFile(work / "app.jar", kvtest::readFile(*built / "app.jar") + "changed");
    startCleanly("changed jar");
    Args both = archives(cache());
    ASSERT_EQ(2u, both.size());
    const std::string second =
        cache() + "/" + (cache() + "/" + both[0] == first ? both[1] : both[0]);
    ::unlink(second.c_str());
    const std::string keyPart = second.substr(0, second.rfind('-') + 1);
    const std::string planted = keyPart + std::to_string(firstBytes.size()) + ".jsa";
    kvtest::writeFile(planted, firstBytes);
    startCleanly("refused archive");
    startCleanly("refused archive noticed");
    waitForWriting();
    both = archives(cache());
    ASSERT_EQ(2u, both.size());
    for (const std::string& name : both) {
        if ((cache() + "/" + name).compare(0, keyPart.size(), keyPart) == 0) {
            EXPECT_NE(firstBytes, kvtest::readFile(cache() + "/" + name)) << name;
        }
    }

    // A writer killed while it runs, then its temporary file left half written.
    tool({"/bin/rm", "-rf", cache()});
    const std::string script =
        "\"$0\" hold \"$1\" never >/dev/null & pid=$!\n"
        "while [ ! -e \"$1\" ]; do sleep 0.05; done\n"
        "kill -9 $pid; wait $pid; exit 0\n";
    const kvtest::ProcessResult killed = kvtest::runProcess(
        {"/bin/sh", "-c", script, launcher, work / "ready"}, env(), "", jvmTimeoutSeconds);
    ASSERT_EQ(0, killed.exitCode) << killed.err;
    Args left = listDir(cache());
    std::sort(left.begin(), left.end());
    ASSERT_EQ(2u, left.size());
    EXPECT_EQ(".log", left[0].substr(left[0].size() - 4));
    EXPECT_EQ(".tmp", left[1].substr(left[1].size() - 4));
    kvtest::writeFile(cache() + "/" + left[1], firstBytes.substr(0, firstBytes.size() / 3));
    startCleanly("after a killed writer");
    onlyArchive();
}

// What the runtime would end the process over, foreseen: nothing written.
TEST_F(ClassDataArchive, AFileSizeLimitLeavesTheCacheAlone) {
    makeBundle(jarApp());
    for (const char* launch : {"first", "second", "third"}) {
        startCleanly(launch, {}, "ulimit -f 2048; exec \"$0\" x");
    }
    EXPECT_EQ(Args{}, listDir(cache()));
}

// Whatever is planted at the runtime's log of a key, no launch hangs or
// fails, no file a link leads to is touched, and the cache heals.
TEST_F(ClassDataArchive, FilesPlantedInTheCacheNeverFailALaunch) {
    kvtest::writeFile(work / "target", "kept");
    const struct {
        const char* what;
        std::function<void(const std::string&)> plant;
    } cases[] = {
        {"FIFO", [](const std::string& path) { ::mkfifo(path.c_str(), 0600); }},
        {"directory", [](const std::string& path) { kvtest::makeDirs(path + "/x"); }},
        {"link", [this](const std::string& path) { kvtest::makeSymlink(work / "target", path); }},
    };
    for (const auto& c : cases) {
        tool({"/bin/rm", "-rf", work / "Cds.app", work / "Library"});
        makeBundle(jarApp());
        startCleanly(std::string(c.what) + ", writing");
        const std::string archive = onlyArchive();
        ASSERT_NE("", archive);
        c.plant(archive.substr(0, archive.rfind('-')) + ".log");
        startCleanly(std::string(c.what) + ", planted");
        startCleanly(std::string(c.what) + ", after");
        EXPECT_EQ("kept", kvtest::readFile(work / "target")) << c.what;
    }
}

TEST_F(ClassDataArchive, TwoLaunchesTogetherBothSucceed) {
    makeBundle(jarApp());
    // The second launch starts while the first holds the lock.
    const std::string script =
        "\"$0\" hold \"$1\" \"$2\" >a.out 2>a.err & pid=$!\n"
        "while [ ! -e \"$1\" ]; do sleep 0.05; done\n"
        "\"$0\" x >b.out 2>b.err; echo $? >b.status\n"
        ": >\"$2\"; wait $pid; echo $? >a.status\n";
    const kvtest::ProcessResult r = kvtest::runProcess(
        {"/bin/sh", "-c", script, launcher, work / "ready", work / "release"}, env(),
        work.path(), jvmTimeoutSeconds);
    ASSERT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ("3\n", kvtest::readFile(work / "a.status"));
    EXPECT_EQ("3\n", kvtest::readFile(work / "b.status"));
    EXPECT_EQ("app hold " + work / "ready" + " " + work / "release" + " helper\n",
              kvtest::readFile(work / "a.out"));
    EXPECT_EQ("app x helper\n", kvtest::readFile(work / "b.out"));
    EXPECT_EQ("", kvtest::readFile(work / "a.err") + kvtest::readFile(work / "b.err"));
    onlyArchive();
}

TEST(ClassDataArchiveSwitch, OnlyAutoChangesTheArgumentVector) {
    kvtest::TempDir tmp;
    const std::string main = "[Application]\napp.mainclass=Main\napp.classpath=$APPDIR/a.jar\n";
    const std::string rest = "[JavaOptions]\njava-options=-Xmx64m\n[ArgOptions]\narguments=x\n";
    e2e::Env env{{"HOME", tmp.path()},
                 {"KVTEST_JLI_ENV", std::string("DYLD_LIBRARY_PATH,HOME,CLASSPATH")}};
    Args said; // the debug lines about the archive
    const auto run = [&](const std::string& cdsLine, const std::string& library,
                         const std::string& left) {
        kvtest::runProcess({"/bin/rm", "-rf", tmp / "Cds.app", tmp / "Library"});
        e2e::Bundle bundle(tmp.path(), "Cds");
        bundle.linkRuntimeLibrary(library);
        kvtest::writeFile(bundle.appDir + "/a.jar", "");
        bundle.writeCfg(main + cdsLine + rest);
        const e2e::Launch launch = e2e::runLauncher(bundle.launcher, {}, env);
        EXPECT_EQ(0, launch.process.exitCode) << launch.process.err;
        EXPECT_EQ(1u, launch.calls.size());
        const Args files = listDir(tmp / "Library/Caches/Cds");
        EXPECT_EQ(left.empty() ? 0u : 1u, files.size()) << cdsLine;
        for (const std::string& file : files) {
            EXPECT_EQ(left, file.substr(file.rfind('.'))) << cdsLine;
        }
        for (const std::string& line : e2e::lines(launch.process.err)) {
            if (line.find("Class-data archive: ") != std::string::npos) {
                said.push_back(line.substr(line.find("Class-data archive: ")));
            }
        }
        return launch.calls.empty() ? kvtest::JliCall() : launch.calls.front();
    };
    const kvtest::JliCall plain = run("", KVTEST_FAKEJLI_PATH, "");
    ASSERT_EQ(7u, plain.argv.size());
    for (const char* line : {"app.cds=\n", "app.cds=AUTO\n", "app.cds=auto \n", "app.cds=on\n",
                             "app.cds=auto\n"}) {
        const kvtest::JliCall call = run(line, KVTEST_FAKEJLI_PATH, "");
        EXPECT_EQ(plain.argv, call.argv) << line;
        EXPECT_EQ(plain.env, call.env) << line;
    }

    // A runtime that qualifies: the options go right before the main class.
    // The double writes no archive, so a count of that failure is all that is left.
    kvtest::writeFile(tmp / "rt/release", "JAVA_VERSION=\"17\"\n");
    kvtest::writeFile(tmp / "rt/lib/server/classes.jsa", "");
    e2e::copyFile(KVTEST_FAKEJLI_PATH, tmp / "rt/lib/libjli.so", 0755);
    env["KOVALU_DEBUG"] = std::string("true");
    said.clear();
    const kvtest::JliCall call = run("app.cds=auto\n", tmp / "rt/lib/libjli.so", ".failed");
    const Args files = listDir(tmp / "Library/Caches/Cds");
    ASSERT_EQ(1u, files.size());
    const std::string stem = tmp / "Library/Caches/Cds/" + files[0].substr(0, files[0].rfind('.'));
    Args expected = plain.argv;
    expected.insert(expected.begin() + 5,
                    {"-Xlog:cds=off,cds+dynamic=off",
                     "-Xlog:cds=error,cds+dynamic=error:file=" + stem + ".log::filecount=0",
                     "-XX:ArchiveClassesAtExit=" + stem + ".tmp"});
    EXPECT_EQ(expected, call.argv);
    EXPECT_EQ(plain.env, call.env);
    ASSERT_EQ(1u, said.size());
    EXPECT_EQ("Class-data archive: write: no dynamic archive for this launch yet", said.front());
}

// The create step's variable in a user's environment: an empty or foreign
// value makes an ordinary launch, and neither the runtime nor the
// application sees it; a create step that finds its recording changed ends
// without starting the runtime at all.
TEST(ClassDataArchiveSwitch, TheCreateStepVariableNeverReachesTheApplication) {
    kvtest::TempDir tmp;
    kvtest::writeFile(tmp / "rt/release", "JAVA_VERSION=\"25\"\n");
    kvtest::makeDirs(tmp / "rt/lib");
    e2e::copyFile(KVTEST_FAKEJLI_PATH, tmp / "rt/lib/libjli.so", 0755);
    const std::string cache = tmp / "Library/Caches/Cds";
    const struct {
        std::string value;
        std::size_t calls;
    } cases[] = {
        {"", 1},
        {"1", 1},
        {tmp / "elsewhere/Cds-0123456789abcdef", 1},
        {cache + "/Cds-0123456789abcdef", 0},
    };
    for (const auto& c : cases) {
        kvtest::runProcess({"/bin/rm", "-rf", tmp / "Cds.app", tmp / "Library"});
        e2e::Bundle bundle(tmp.path(), "Cds");
        bundle.linkRuntimeLibrary(tmp / "rt/lib/libjli.so");
        kvtest::writeFile(bundle.appDir + "/a.jar", "");
        bundle.writeCfg("[Application]\napp.mainclass=Main\napp.classpath=$APPDIR/a.jar\n"
                        "app.cds=auto\n");
        const e2e::Launch launch = e2e::runLauncher(
            bundle.launcher, {}, {{"HOME", tmp.path()}, {"KOVALU_AOT_CREATE", c.value},
                                  {"KVTEST_JLI_ENV", std::string("KOVALU_AOT_CREATE")}});
        EXPECT_EQ(0, launch.process.exitCode) << c.value << launch.process.err;
        ASSERT_EQ(c.calls, launch.calls.size()) << c.value;
        EXPECT_EQ("", launch.process.out + launch.process.err) << c.value;
        if (c.calls == 1) {
            EXPECT_EQ(std::nullopt, launch.calls[0].env.at("KOVALU_AOT_CREATE")) << c.value;
        }
    }
}

namespace {

// A module of its own that reaches a class on the class path by reflection,
// and exits with 4.
const char* const moduleInfoSource = "module m.app { requires java.logging; }\n";
const char* const moduleMainSource = R"(package m.app;
public final class Main {
    public static void main(String[] a) throws Exception {
        System.out.println(java.util.logging.Logger.getLogger("m").getName() + " " + String.join(",", a));
        Class<?> helper = Class.forName("cds.Helper");
        System.out.println(helper.getModule().isNamed() + " " + helper.getDeclaredMethods().length);
        System.exit(4);
    }
}
)";

// One real application as Debian or this test lays it out, and the cache
// that the launcher keeps for it on 17 and on 25 ("" for none).
struct RealApp {
    const char* name;
    const char* needs; // a file the machine must have
    std::string modulePath;
    std::string classPath;
    std::string main; // a class, or "<module>/<class>"
    bool mainIsModule;
    Args options;
    Args arguments;
    const char* cacheOn17;
    const char* cacheOn25;
};

std::vector<RealApp> realApps(const std::string& built) {
    const std::string jr = "/usr/share/jruby/lib/";
    const std::string jrubyLibs = jr + "bcpkix.jar:" + jr + "bcprov.jar:" + jr + "bctls.jar:" + jr +
                                  "bcutil.jar:" + jr + "jansi1.jar:" + jr + "jline2.jar:" + jr +
                                  "snakeyaml.jar";
    const Args jrubyOptions = {"-Xss2048k", "-Djruby.home=/usr/share/jruby",
                               "-Djruby.lib=/usr/share/jruby/lib", "-Djruby.script=jruby",
                               "-Djruby.shell=/bin/sh", "-Djruby.openssl.load.jars=false"};
    const Args ruby = {"-e", "puts 1+2; require 'yaml'; puts({'a'=>[1,2]}.to_yaml)"};
    Args jrubyModuleOptions = {"--add-opens", "java.base/java.io=org.jruby.dist", "--add-opens",
                               "java.base/sun.nio.ch=org.jruby.dist"};
    jrubyModuleOptions.insert(jrubyModuleOptions.end(), jrubyOptions.begin(), jrubyOptions.end());
    return {
        {"Clojure", "/usr/share/java/clojure.jar", "", "/usr/share/java/clojure.jar",
         "clojure.main", false, {},
         {"-e", "(require 'clojure.string) (println (clojure.string/join \",\" (range 5)))"},
         ".jsa", ".aot"},
        {"JRuby, jruby.jar on the module path", "/usr/share/jruby/lib/jruby.jar",
         jr + "jruby.jar", jrubyLibs, "org.jruby.Main", false, jrubyModuleOptions, ruby, ".jsa",
         ".jsa"},
        {"JRuby, jruby.jar on the class path", "/usr/share/jruby/lib/jruby.jar", "",
         jr + "jruby.jar:" + jrubyLibs, "org.jruby.Main", false, jrubyOptions, ruby, ".jsa",
         ".aot"},
        {"javac", "", "", "", "jdk.compiler/com.sun.tools.javac.Main", true, {},
         {"-Xlint:all", "-d", built + "/javac-out", built + "/src/cds/App.java"}, ".jsa", ".aot"},
        {"Groovy", "/usr/share/groovy/lib/groovy-2.4.21.jar", "",
         "/usr/share/groovy/lib/groovy-2.4.21.jar", "org.codehaus.groovy.tools.GroovyStarter",
         false,
         {"-Dgroovy.starter.conf=/usr/share/groovy/conf/groovy-starter.conf",
          "-Dgroovy.home=/usr/share/groovy"},
         {"--main", "groovy.ui.GroovyMain", "--conf", "/usr/share/groovy/conf/groovy-starter.conf",
          "-e", "println([1, 2, 3].collect { it * 2 }.sum())"},
         ".jsa", ".aot"},
        {"a module of its own and the class path", "", built + "/mods", built + "/lib.jar",
         "m.app/m.app.Main", true, {}, {"a", "b"}, ".jsa", ".aot"},
    };
}

} // namespace

// For each real application the machine has, on 17 and on 25: launches 1 to
// 3 with the cache print exactly what plain `java` prints and exit with its
// status, and the cache is the one the policy keeps for its layout.
TEST_F(ClassDataArchive, TheCacheIsTransparent) {
    kvtest::writeFile(*built / "msrc/module-info.java", moduleInfoSource);
    kvtest::writeFile(*built / "msrc/m/app/Main.java", moduleMainSource);
    tool({*jdk + "/bin/javac", "--release", "17", "-d", *built / "mclasses",
          *built / "msrc/module-info.java", *built / "msrc/m/app/Main.java"});
    kvtest::makeDirs(*built / "mods");
    tool({*jdk + "/bin/jar", "--create", "--file", *built / "mods/m.app.jar", "-C",
          *built / "mclasses", "."});
    tool({*jdk + "/bin/jar", "--create", "--file", *built / "lib.jar", "-C", *built / "lib", "."});
    Args runtimes = {*jdk};
    if (::access((std::string(temurin25) + "/lib/libjli.so").c_str(), R_OK) == 0) {
        runtimes.push_back(temurin25);
    }
    e2e::Env vars = env();
    vars["KVTEST_JLI_ENV"] = std::nullopt;
#ifdef KVTEST_SANITIZED
    // Runtime 25 writing a dynamic archive of JRuby's hidden classes copies
    // whole words past the end of their names: harmless, but the sanitizer's
    // memcpy wrapper stops the JVM. Our own code's copies stay checked, since
    // the compiler instruments them where they are made.
    vars["ASAN_OPTIONS"] = *vars["ASAN_OPTIONS"] + ":replace_intrin=0";
#endif
    for (const RealApp& app : realApps(built->path())) {
        if (*app.needs && ::access(app.needs, R_OK) != 0) {
            std::cout << "skipped " << app.name << ": no " << app.needs << "\n";
            continue;
        }
        for (const std::string& runtime : runtimes) {
            const std::string what = std::string(app.name) + " on " + runtime;
            Args plain = {runtime + "/bin/java"};
            std::string cfg = "[Application]\napp.cds=auto\n";
            if (!app.modulePath.empty()) {
                plain.insert(plain.end(), {"--module-path", app.modulePath});
                cfg += "app.modulepath=" + app.modulePath + "\n";
            }
            if (!app.classPath.empty()) {
                plain.insert(plain.end(), {"-classpath", app.classPath});
                cfg += "app.classpath=" + app.classPath + "\n";
            }
            plain.insert(plain.end(), app.options.begin(), app.options.end());
            if (app.mainIsModule) {
                plain.push_back("-m");
            }
            plain.push_back(app.main);
            plain.insert(plain.end(), app.arguments.begin(), app.arguments.end());
            cfg += std::string(app.mainIsModule ? "app.mainmodule=" : "app.mainclass=") + app.main +
                   "\n[JavaOptions]\n";
            for (const std::string& option : app.options) {
                cfg += "java-options=" + option + "\n";
            }
            const kvtest::ProcessResult expected =
                kvtest::runProcess(plain, vars, work.path(), jvmTimeoutSeconds);

            tool({"/bin/rm", "-rf", work / "Cds.app", work / "Library"});
            e2e::Bundle bundle(work.path(), "Cds");
            bundle.linkRuntimeLibrary(runtime + "/lib/libjli.so");
            bundle.writeCfg(cfg);
            Args argv = {bundle.launcher};
            argv.insert(argv.end(), app.arguments.begin(), app.arguments.end());
            for (int launch = 1; launch <= 3; ++launch) {
                const kvtest::ProcessResult r =
                    kvtest::runProcess(argv, vars, work.path(), jvmTimeoutSeconds);
                EXPECT_EQ(expected.exitCode, r.exitCode) << what << ", launch " << launch << "\n"
                                                         << r.err;
                EXPECT_EQ(expected.out, r.out) << what << ", launch " << launch;
                waitForWriting();
            }
            const Args kept = archives(cache());
            const std::string kind = runtime == *jdk ? app.cacheOn17 : app.cacheOn25;
            EXPECT_EQ(kind.empty() ? 0u : 1u, kept.size()) << what;
            for (const std::string& name : kept) {
                EXPECT_EQ(kind, name.substr(name.size() - 4)) << what;
            }
        }
    }
}
