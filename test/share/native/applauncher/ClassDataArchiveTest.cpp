#include "ClassDataArchive.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestSupport.h"

using Strings = std::vector<std::string>;
using Mode = ClassDataArchive::Mode;

TEST(ClassDataArchive, CacheDirFor) {
    const struct {
        const char* home;
        const char* name;
        const char* dir;
    } cases[] = {
        {"/Users/me", "com.example.app", "/Users/me/Library/Caches/com.example.app"},
        {"/Users/me/", "App", "/Users/me/Library/Caches/App"},
        {"", "App", ""},
        {"relative", "App", ""},
        {"/Users/me", "", ""},
        {"/Users/me", "..", ""},
        {"/Users/me", "a/b", ""},
        {"/Users/me", "a\\b", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.dir, ClassDataArchive::cacheDirFor(c.home, c.name)) << c.name;
    }
}

namespace {

// A runtime that passes every check, a jar and a cache directory; the JVM's
// part (writing the archive at exit, its log) is played by the test.
class ClassDataArchivePlan : public ::testing::Test {
protected:
    ClassDataArchivePlan() {
        kvtest::writeFile(tmp / "rt/lib/libjli.so", "lib");
        kvtest::writeFile(tmp / "rt/release", "JAVA_VERSION=\"17.0.15\"\n");
        kvtest::writeFile(tmp / "rt/lib/server/classes.jsa", "base");
        kvtest::writeFile(tmp / "app.jar", "jar");
    }

    Strings args() const { return {"-classpath", tmp / "app.jar", "-Xmx64m", "Main"}; }

    std::unique_ptr<ClassDataArchive> plan(const Strings& jvmArgs,
                                           const std::string& dir = std::string()) const {
        std::unique_ptr<ClassDataArchive> archive(
            new ClassDataArchive(dir.empty() ? cache : dir, "App"));
        archive->plan(tmp / "rt/lib/libjli.so", jvmArgs, "/nonexistent/App");
        return archive;
    }

    static std::string optionValue(const ClassDataArchive& archive, const std::string& prefix) {
        const Strings options = archive.getOptions();
        EXPECT_EQ(3u, options.size());
        EXPECT_EQ("-Xlog:cds=off,cds+dynamic=off", options.front());
        EXPECT_EQ(0u, options.back().find(prefix)) << options.back();
        return options.back().substr(prefix.size());
    }

    // One launch that writes: `written` is what the JVM leaves at exit (null:
    // the process dies first), `jvmLog` what it logs.
    Mode writingLaunch(const char* written, const std::string& jvmLog = std::string(),
                       const Strings& jvmArgs = Strings()) {
        std::unique_ptr<ClassDataArchive> writer = plan(jvmArgs.empty() ? args() : jvmArgs);
        if (writer->getMode() != Mode::Write) {
            return writer->getMode();
        }
        const std::string temp = optionValue(*writer, "-XX:ArchiveClassesAtExit=");
        kvtest::writeFile(temp.substr(0, temp.size() - 4) + ".log", jvmLog);
        if (written) {
            kvtest::writeFile(temp, written);
            writer->commit();
        }
        return Mode::Write;
    }

    // The one file of the cache whose name ends in `suffix`, or empty.
    std::string cacheFile(const std::string& suffix) const {
        std::string found;
        for (const std::string& name : CacheFiles::listDir(cache)) {
            if (name.size() >= suffix.size() &&
                name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
                EXPECT_EQ("", found) << name;
                found = cache + "/" + name;
            }
        }
        return found;
    }

    kvtest::TempDir tmp;
    const std::string cache = tmp / "home/Library/Caches/App";
    kvtest::EnvGuard toolOptions{"JAVA_TOOL_OPTIONS", std::nullopt};
    kvtest::EnvGuard javaOptions{"_JAVA_OPTIONS", std::nullopt};
    kvtest::EnvGuard jdkOptions{"JDK_JAVA_OPTIONS", std::nullopt};
    kvtest::EnvGuard classPath{"CLASSPATH", std::nullopt};
};

const char* const complete = "\xa8\xab\x0b\xf0 complete";
const char* const died = nullptr;

} // namespace

// What happened at earlier launches decides the next one's mode.
TEST_F(ClassDataArchivePlan, EarlierLaunchesDecideTheNext) {
    std::unique_ptr<CacheFiles::ExclusiveLock> otherLaunch;
    struct rlimit fileSizeLimit;
    ASSERT_EQ(0, ::getrlimit(RLIMIT_FSIZE, &fileSizeLimit));
    kvtest::writeFile(tmp / "target", "kept");
    const struct {
        const char* what;
        std::function<void()> before;
        Mode next;
    } cases[] = {
        {"complete", [&] { writingLaunch(complete); }, Mode::Use},
        {"died once", [&] { writingLaunch(died); }, Mode::Write},
        {"cut short twice, then complete",
         [&] {
             writingLaunch("cut short");
             writingLaunch("");
             writingLaunch(complete);
         },
         Mode::Use},
        {"died three times", [&] { for (int i = 0; i < 3; ++i) writingLaunch(died); },
         Mode::Off},
        {"died three times a day ago",
         [&] {
             for (int i = 0; i < 3; ++i) writingLaunch(died);
             writingLaunch(died); // only counts the third
             const std::string record = cacheFile(".failed");
             const struct timespec times[2] = {{1000, 0}, {1000, 0}};
             ::utimensat(AT_FDCWD, record.c_str(), times, 0);
         },
         Mode::Write},
        {"the JVM said why it could not write, once",
         [&] { writingLaunch(died, "[0.2s][error][cds] Error: non-empty directory 'lib'\n"); },
         Mode::Write},
        {"the JVM said why it could not write, three times in a row",
         [&] { for (int i = 0; i < 3; ++i) writingLaunch(died, "[error][cds] Error\n"); },
         Mode::Off},
        {"the JVM refused to map the archive, at error level",
         [&] {
             writingLaunch(complete);
             plan(args());
             kvtest::writeFile(cacheFile(".jsa").replace(cacheFile(".jsa").rfind('-'), 100, ".log"),
                               "[error][aot] Unable to map shared spaces\n");
         },
         Mode::Write},
        {"a record of the old form \"refused\"",
         [&] {
             writingLaunch(died);
             kvtest::writeFile(cacheFile(".tmp").replace(cacheFile(".tmp").size() - 4, 4, ".failed"),
                               "refused");
             ::unlink(cacheFile(".tmp").c_str());
         },
         Mode::Write},
        {"a record of 2147483648 failures",
         [&] {
             writingLaunch(died);
             kvtest::writeFile(cacheFile(".tmp").replace(cacheFile(".tmp").size() - 4, 4, ".failed"),
                               "2147483648");
             ::unlink(cacheFile(".tmp").c_str());
         },
         Mode::Off},
        {"a link at the lock file",
         [&] {
             kvtest::makeDirs(cache);
             ::chmod(cache.c_str(), 0700);
             kvtest::makeSymlink(tmp / "elsewhere", cache + "/App.lock");
         },
         Mode::Write},
        {"a link at the JVM's log",
         [&] {
             writingLaunch(complete);
             kvtest::writeFile(tmp / "target", "kept");
             kvtest::makeSymlink(tmp / "target",
                                 cacheFile(".jsa").replace(cacheFile(".jsa").rfind('-'), 100, ".log"));
         },
         Mode::Off},
        {"a directory at the JVM's log",
         [&] {
             writingLaunch(died);
             const std::string log = cacheFile(".log");
             ::unlink(log.c_str());
             kvtest::makeDirs(log);
         },
         Mode::Off},
        {"a directory at the key's recording",
         [&] {
             writingLaunch(died);
             kvtest::makeDirs(cacheFile(".tmp").replace(cacheFile(".tmp").size() - 4, 4, ".aotconf/x"));
         },
         Mode::Off},
        {"a file size limit below 256 MiB",
         [&] {
             struct rlimit limit = fileSizeLimit;
             limit.rlim_cur = 1024 * 1024;
             ::setrlimit(RLIMIT_FSIZE, &limit);
         },
         Mode::Off},
        {"a jar named by the manifest replaced keeping size and times",
         [&] {
             kvtest::writeJar(tmp / "app.jar", {{"META-INF/MANIFEST.MF", "Class-Path: lib.jar\n"}});
             kvtest::writeFile(tmp / "lib.jar", "old");
             writingLaunch(complete);
             struct stat before;
             ::stat((tmp / "lib.jar").c_str(), &before);
             ::unlink((tmp / "lib.jar").c_str());
             kvtest::writeFile(tmp / "lib.jar", "new");
             const struct timespec times[2] = {before.st_atim, before.st_mtim};
             ::utimensat(AT_FDCWD, (tmp / "lib.jar").c_str(), times, 0);
         },
         Mode::Write},
        {"the JVM refused the archive at the last launch",
         [&] {
             writingLaunch(complete);
             plan(args());
             kvtest::writeFile(cacheFile(".jsa").replace(cacheFile(".jsa").rfind('-'), 100, ".log"),
                               "[warning][cds,dynamic] Unable to use shared archive.\n");
         },
         Mode::Write},
        {"wrong content of the right size",
         [&] {
             writingLaunch(complete);
             kvtest::writeFile(cacheFile(".jsa"), "\xa8\xab\x0b\xf1 complete");
         },
         Mode::Write},
        {"jar replaced keeping size and modification time",
         [&] {
             writingLaunch(complete);
             struct stat before;
             ::stat((tmp / "app.jar").c_str(), &before);
             ::unlink((tmp / "app.jar").c_str());
             kvtest::writeFile(tmp / "app.jar", "new");
             const struct timespec times[2] = {before.st_atim, before.st_mtim};
             ::utimensat(AT_FDCWD, (tmp / "app.jar").c_str(), times, 0);
         },
         Mode::Write},
        {"options in the environment changed",
         [&] {
             writingLaunch(complete);
             ::setenv("JAVA_TOOL_OPTIONS", "-Dx=1", 1);
         },
         Mode::Write},
        {"another copy wrote its own",
         [&] {
             writingLaunch(complete);
             kvtest::writeFile(tmp / "copy.jar", "jar");
             writingLaunch(complete, "", {"-classpath", tmp / "copy.jar", "-Xmx64m", "Main"});
         },
         Mode::Use},
        {"another launch holds the lock",
         [&] {
             kvtest::makeDirs(cache);
             ::chmod(cache.c_str(), 0700);
             otherLaunch.reset(new CacheFiles::ExclusiveLock(cache + "/App.lock"));
         },
         Mode::Off},
    };
    for (const auto& c : cases) {
        kvtest::runProcess({"/bin/rm", "-rf", tmp / "home"});
        c.before();
        EXPECT_EQ(c.next, plan(args())->getMode()) << c.what;
        ::unsetenv("JAVA_TOOL_OPTIONS");
        otherLaunch.reset();
        ::setrlimit(RLIMIT_FSIZE, &fileSizeLimit);
        kvtest::writeFile(tmp / "app.jar", "jar");
        EXPECT_EQ("kept", kvtest::readFile(tmp / "target")) << c.what;
    }
}

TEST_F(ClassDataArchivePlan, LeftAloneWhenAnythingIsInDoubt) {
    kvtest::writeFile(tmp / "mods/a.jar", "jar");
    kvtest::makeDirs(tmp / "exploded/m");
    const struct {
        const char* variable;
        std::string value;
        Strings args;
        std::string dir;
    } cases[] = {
        {"KVTEST_NONE", "", {"-classpath", "/no/such.jar", "Main"}, ""},
        {"_JAVA_OPTIONS", "-Dx=1 -Xshare:off", args(), ""},
        {"JAVA_TOOL_OPTIONS", "-XX:SharedArchiveFile=/a.jsa", args(), ""},
        {"JAVA_TOOL_OPTIONS", "-XX:AOTMode=auto", args(), ""},
        {"KVTEST_NONE", "", {"-XX:+RecordDynamicDumpInfo", "-classpath", tmp / "app.jar", "Main"}, ""},
        {"CLASSPATH", tmp.path(), {"Main"}, ""},
        {"KVTEST_NONE", "", {"--module-path", tmp / "exploded", "-m", "m/c"}, ""},
        {"KVTEST_NONE", "", args(), tmp / "home/Library/Caches/a:b"},
        {"KVTEST_NONE", "", args(), tmp / "home/Library/Caches/a%p"},
        {"JAVA_TOOL_OPTIONS", "-javaagent:" + tmp / "app.jar", args(), ""},
        {"JDK_JAVA_OPTIONS", "'-agentlib:jdwp=server=y'", args(), ""},
    };
    for (const auto& c : cases) {
        const kvtest::EnvGuard guard(c.variable, c.value);
        const std::unique_ptr<ClassDataArchive> archive = plan(c.args, c.dir);
        EXPECT_EQ(Mode::Off, archive->getMode()) << c.variable << " " << c.dir;
        EXPECT_EQ(Strings{}, archive->getOptions()) << c.variable;
        EXPECT_EQ(Strings{}, CacheFiles::listDir(cache)) << c.variable;
    }
    // The JVM archives the jars of a module path directory.
    EXPECT_EQ(Mode::Write, plan({"--module-path", tmp / "mods", "-m", "m/c"})->getMode());
    EXPECT_NE(std::string::npos,
              plan({"-classpath", tmp / "*", "Main"})->getReason().find("is a wildcard"));
    // Words of options inside a path are no options.
    kvtest::writeFile(tmp / "AOTCacheApps/-Xshare/a.jar", "jar");
    EXPECT_EQ(Mode::Write,
              plan({"-classpath", tmp / "AOTCacheApps/-Xshare/a.jar", "Main"})->getMode());
}

TEST_F(ClassDataArchivePlan, OnlyAPrivateDirectoryOfTheUserHoldsTheCache) {
    const struct {
        unsigned mode;
        Mode planned;
        unsigned after;
    } cases[] = {{0700, Mode::Write, 0700}, {0755, Mode::Write, 0700}, {0777, Mode::Off, 0777},
                 {0770, Mode::Off, 0770}};
    for (const auto& c : cases) {
        kvtest::runProcess({"/bin/rm", "-rf", tmp / "home"});
        kvtest::makeDirs(cache);
        ASSERT_EQ(0, ::chmod(cache.c_str(), c.mode));
        EXPECT_EQ(c.planned, plan(args())->getMode()) << std::oct << c.mode;
        struct stat buf;
        ASSERT_EQ(0, ::stat(cache.c_str(), &buf));
        EXPECT_EQ(c.after, buf.st_mode & 0777u) << std::oct << c.mode;
    }
    if (::geteuid() != 0) {
        return; // handing directories to another user needs root
    }
    for (const std::string& foreign : {cache, tmp / "home/Library/Caches"}) {
        kvtest::runProcess({"/bin/rm", "-rf", tmp / "home"});
        kvtest::makeDirs(foreign);
        ASSERT_EQ(0, ::chown(foreign.c_str(), 65534, 65534));
        EXPECT_EQ(Mode::Off, plan(args())->getMode()) << foreign;
        EXPECT_EQ(foreign == cache, CacheFiles::getStatus(cache, false).exists) << foreign;
    }
}

// The create step of an ahead-of-time cache creates it or ends: whatever else
// it finds, it never becomes a launch of the application.
TEST_F(ClassDataArchivePlan, TheCreateStepOnlyCreates) {
    kvtest::writeFile(tmp / "rt/release", "JAVA_VERSION=\"25.0.1\"\n");
    std::string recording; // "<cache>/App-<key>" of the last recording launch
    const auto record = [&] {
        kvtest::runProcess({"/bin/rm", "-rf", tmp / "home"});
        const std::unique_ptr<ClassDataArchive> writer = plan(args());
        ASSERT_EQ(Mode::Write, writer->getMode()) << writer->getReason();
        const std::string conf = writer->getOptions().back();
        recording = conf.substr(conf.find('=') + 1, conf.size() - conf.find('=') - 9);
        kvtest::writeFile(recording + ".aotconf", "recorded");
    };
    const struct {
        const char* what;
        std::function<void()> change;
        Mode mode;
        std::string failed; // the recording's count afterwards
    } cases[] = {
        {"as recorded", [] {}, Mode::Create, ""},
        {"the jar changed since", [&] { kvtest::writeFile(tmp / "app.jar", "jar2"); }, Mode::Off,
         "1"},
        {"no recording", [&] { ::unlink((recording + ".aotconf").c_str()); }, Mode::Off, "1"},
        {"a runtime of 17 now",
         [&] { kvtest::writeFile(tmp / "rt/release", "JAVA_VERSION=\"17\"\n"); }, Mode::Off, "1"},
    };
    for (const auto& c : cases) {
        kvtest::writeFile(tmp / "rt/release", "JAVA_VERSION=\"25.0.1\"\n");
        kvtest::writeFile(tmp / "app.jar", "jar");
        record();
        c.change();
        ClassDataArchive step(cache, "App");
        step.setCreateStep(recording);
        step.plan(tmp / "rt/lib/libjli.so", args(), "/nonexistent/App");
        EXPECT_EQ(c.mode, step.getMode()) << c.what << ": " << step.getReason();
        EXPECT_EQ(c.failed, kvtest::readFile(recording + ".failed")) << c.what;
        if (c.mode == Mode::Off) {
            EXPECT_EQ("", cacheFile(".aotconf")) << c.what;
            EXPECT_EQ("", cacheFile(".tmp")) << c.what;
        }
    }
    // Values that name no recording of this launcher are nobody's create step.
    for (const std::string& value :
         {std::string(), std::string("1"), cache + "/App-0123", cache + "/Other-0123456789abcdef",
          cache + "x/App-0123456789abcdef", cache + "/App-0123456789ABCDEF"}) {
        EXPECT_FALSE(ClassDataArchive::isRecordingPath(value, cache, "App")) << value;
    }
    EXPECT_TRUE(ClassDataArchive::isRecordingPath(cache + "/App-0123456789abcdef", cache, "App"));

    // A main class beside a module path keeps the dynamic archive on 25.
    kvtest::writeFile(tmp / "rt/release", "JAVA_VERSION=\"25.0.1\"\n");
    const Strings beside = {"--module-path", tmp / "app.jar", "-classpath", tmp / "app.jar", "Main"};
    const std::unique_ptr<ClassDataArchive> dynamic = plan(beside);
    ASSERT_EQ(Mode::Write, dynamic->getMode());
    EXPECT_EQ(0u, dynamic->getOptions().back().find("-XX:ArchiveClassesAtExit=")) << dynamic->getOptions().back();
    ::unlink((tmp / "rt/lib/server/classes.jsa").c_str());
    EXPECT_EQ(Mode::Off, plan(beside)->getMode());
}

// The runtime reports a recording at exit; in a failure record or dialog it
// would read as part of the failure.
TEST_F(ClassDataArchivePlan, TheRecordingReportIsNoPartOfAFailure) {
    kvtest::writeFile(tmp / "rt/release", "JAVA_VERSION=\"25\"\n");
    const std::unique_ptr<ClassDataArchive> writer = plan(args());
    ASSERT_EQ(Mode::Write, writer->getMode());
    const std::string conf = writer->getOptions().back();
    const std::string report = "AOTConfiguration recorded: " + conf.substr(conf.find('=') + 1);
    const std::pair<std::string, std::string> cases[] = {
        {"Exception in main\n " + report + "\n", "Exception in main\n"},
        {report + "\nError: x\n" + report, "Error: x\n"},
        {"AOTConfiguration recorded: /other.aotconf\n", "AOTConfiguration recorded: /other.aotconf\n"},
        {"said " + report + "\n", "said " + report + "\n"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.second, writer->withoutRecordingReport(c.first)) << c.first;
    }
    // Nothing is taken from a launch that records nothing.
    kvtest::writeFile(tmp / "rt/release", "JAVA_VERSION=\"17\"\n");
    EXPECT_EQ(" " + report + "\n", plan(args())->withoutRecordingReport(" " + report + "\n"));
}
