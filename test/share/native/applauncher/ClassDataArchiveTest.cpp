#include "ClassDataArchive.h"

#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestSupport.h"

using Strings = std::vector<std::string>;
using Mode = ClassDataArchive::Mode;

TEST(ClassDataArchive, JavaMajorVersion) {
    const struct {
        const char* release;
        int major;
    } cases[] = {
        {"IMPLEMENTOR=\"x\"\nJAVA_VERSION=\"17.0.15\"\n", 17},
        {"JAVA_VERSION=\"1.8.0_392\"", 8},
        {"JAVA_VERSION=\"13\"", 13},
        {"JAVA_VERSION=\"12.0.2\"", 12},
        {"JAVA_VERSION=21", 21},
        {"JAVA_VERSION=\"\"", 0},
        {"JAVA_RUNTIME_VERSION=\"17.0.15\"", 0},
        {" JAVA_VERSION=\"17\"", 0},
        {"", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.major, ClassDataArchive::javaMajorVersion(c.release)) << c.release;
    }
}

TEST(ClassDataArchive, RuntimeHomeIsAboveTheLibDirectory) {
    const struct {
        const char* lib;
        const char* home;
    } cases[] = {
        {"/jdk/lib/libjli.so", "/jdk"},
        {"/x/Contents/Home/lib/jli/libjli.dylib", "/x/Contents/Home"},
        {"/x/library/libjli.so", ""},
        {"libjli.so", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.home, ClassDataArchive::runtimeHome(c.lib)) << c.lib;
    }
}

TEST(ClassDataArchive, PathEntries) {
    const struct {
        Strings args;
        const char* classPathVariable;
        Strings entries;
    } cases[] = {
        {{"-classpath", "/a.jar:/b.jar", "-Dx", "Main"}, "", {"/a.jar", "/b.jar"}},
        {{"-classpath", "/a.jar::", "Main"}, "", {"/a.jar", ".", "."}},
        {{"--module-path", "/m", "--module-path", "/n.jar", "-m", "m/c"}, "", {"/m", "/n.jar"}},
        {{"-jar", "/app.jar"}, "/env", {"/app.jar"}},
        {{"--class-path=/a.jar", "-Xbootclasspath/a:/b.jar", "Main"}, "", {"/a.jar", "/b.jar"}},
        {{"-Djava.class.path=/c.jar", "Main"}, "", {"/c.jar"}},
        {{"Main"}, "", {"."}},
        {{"Main"}, "/env.jar", {"/env.jar"}},
        {{"-m", "jdk.compiler/com.sun.tools.javac.Main"}, "", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.entries, ClassDataArchive::pathEntries(c.args, c.classPathVariable))
            << c.args.front();
    }
}

TEST(ClassDataArchive, ArchiveNames) {
    const std::string written = ClassDataArchive::archiveName("My-App", "0123456789abcdef", 4096);
    EXPECT_EQ("My-App-0123456789abcdef-4096.jsa", written);
    const struct {
        const char* name;
        bool ours;
    } cases[] = {
        {"My-App-0123456789abcdef-4096.jsa", true},
        {"My-App-0123456789abcdef-.jsa", false},
        {"My-App-0123456789abcdeF-4096.jsa", false},
        {"My-App-0123456789abcde-14096.jsa", false},
        {"My-App-0123456789abcdef-4096.jsa.tmp", false},
        {"My-0123456789abcdef-4096.jsa", false},
        {"My-App-x-0123456789abcdef-4096.jsa", false},
        {"My-App.jsa.tmp", false},
    };
    for (const auto& c : cases) {
        std::string key;
        std::uint64_t size = 0;
        EXPECT_EQ(c.ours, ClassDataArchive::parseArchiveName("My-App", c.name, key, size))
            << c.name;
        if (c.ours) {
            EXPECT_EQ("0123456789abcdef", key);
            EXPECT_EQ(4096u, size);
        }
    }
}

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
// part (writing the archive at exit) is played by the test.
class ClassDataArchivePlan : public ::testing::Test {
protected:
    ClassDataArchivePlan() {
        kvtest::writeFile(tmp / "rt/lib/libjli.so", "lib");
        kvtest::writeFile(tmp / "rt/release", "JAVA_VERSION=\"17.0.15\"\n");
        kvtest::writeFile(tmp / "rt/lib/server/classes.jsa", "base");
        kvtest::writeFile(tmp / "app.jar", "jar");
    }

    Strings args() const { return {"-classpath", tmp / "app.jar", "-Xmx64m", "Main"}; }

    std::unique_ptr<ClassDataArchive> plan(const Strings& jvmArgs) const {
        std::unique_ptr<ClassDataArchive> archive(new ClassDataArchive(cache, "App"));
        archive->plan(tmp / "rt/lib/libjli.so", jvmArgs);
        return archive;
    }

    static std::string optionValue(const ClassDataArchive& archive, const std::string& prefix) {
        const Strings options = archive.getOptions();
        EXPECT_EQ(2u, options.size());
        EXPECT_EQ("-Xlog:cds=off,cds+dynamic=off", options.front());
        EXPECT_EQ(0u, options.back().find(prefix)) << options.back();
        return options.back().substr(prefix.size());
    }

    // The archives in the cache, without the lock file.
    Strings cacheFiles() const {
        Strings names;
        for (const std::string& name : CacheFiles::listDir(cache)) {
            if (name != "App.lock") {
                names.push_back(name);
            }
        }
        return names;
    }

    kvtest::TempDir tmp;
    const std::string cache = tmp / "home/Library/Caches/App";
    kvtest::EnvGuard toolOptions{"JAVA_TOOL_OPTIONS", std::nullopt};
    kvtest::EnvGuard javaOptions{"_JAVA_OPTIONS", std::nullopt};
    kvtest::EnvGuard classPath{"CLASSPATH", std::nullopt};
};

} // namespace

// The end-to-end tests cover what the JVM writes; this covers what it may fail
// to write, and that such a key is not tried again.
TEST_F(ClassDataArchivePlan, OnlyACompleteArchiveGetsItsName) {
    const struct {
        const char* written; // null: the process ends before the JVM writes
        const char* name;
        Mode next;
    } cases[] = {
        {"", "-0.jsa", Mode::Off},
        {"cut short", "-0.jsa", Mode::Off},
        {nullptr, "-0.jsa", Mode::Off},
        {"\xa8\xab\x0b\xf0 complete", "-13.jsa", Mode::Use},
    };
    for (const auto& c : cases) {
        kvtest::runProcess({"/bin/rm", "-rf", cache});
        std::unique_ptr<ClassDataArchive> writer = plan(args());
        ASSERT_EQ(Mode::Write, writer->getMode()) << writer->getReason();
        if (c.written) {
            kvtest::writeFile(optionValue(*writer, "-XX:ArchiveClassesAtExit="), c.written);
            writer->commit();
        }
        writer.reset();
        const Mode next = plan(args())->getMode();
        const Strings files = cacheFiles();
        ASSERT_EQ(1u, files.size()) << (c.written ? c.written : "died");
        EXPECT_EQ(c.name, files[0].substr(files[0].rfind('-')));
        EXPECT_EQ(c.next, next);
    }
}

// The runtime and path checks run against the real JVM in the end-to-end
// tests; these are the inputs those tests do not vary.
TEST_F(ClassDataArchivePlan, LeftAloneWhenAnythingIsInDoubt) {
    const struct {
        const char* variable;
        std::string value;
        Strings args;
    } cases[] = {
        {"KVTEST_NONE", "", {"-classpath", "/no/such.jar", "Main"}},
        {"_JAVA_OPTIONS", "-Dx=1 -Xshare:off", args()},
        {"JAVA_TOOL_OPTIONS", "-XX:SharedArchiveFile=/a.jsa", args()},
        {"CLASSPATH", tmp.path(), {"Main"}},
    };
    for (const auto& c : cases) {
        const kvtest::EnvGuard guard(c.variable, c.value);
        const std::unique_ptr<ClassDataArchive> archive = plan(c.args);
        EXPECT_EQ(Mode::Off, archive->getMode()) << c.variable;
        EXPECT_EQ(Strings{}, archive->getOptions()) << c.variable;
        EXPECT_EQ(Strings{}, cacheFiles()) << c.variable;
    }
}

TEST_F(ClassDataArchivePlan, OtherUsersDirectoriesAreLeftAlone) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to hand directories to another user";
    }
    for (const std::string& foreign : {cache, tmp / "home/Library/Caches"}) {
        kvtest::makeDirs(foreign);
        ASSERT_EQ(0, ::chown(foreign.c_str(), 65534, 65534));
        EXPECT_EQ(Mode::Off, plan(args())->getMode()) << foreign;
        EXPECT_EQ(foreign == cache, CacheFiles::getStatus(cache, false).exists) << foreign;
        kvtest::runProcess({"/bin/rm", "-rf", tmp / "home"});
    }
}
