#include "JvmArgScan.h"

#include <gtest/gtest.h>

using Strings = std::vector<std::string>;

TEST(JvmArgScan, PathEntries) {
    const struct {
        Strings args;
        const char* classPathVariable;
        std::vector<JvmArgScan::PathEntry> entries;
    } cases[] = {
        {{"-classpath", "/a.jar:/b.jar", "-Dx", "Main"}, "", {{"/a.jar"}, {"/b.jar"}}},
        {{"-classpath", "/a.jar::", "Main"}, "", {{"/a.jar"}, {"."}, {"."}}},
        {{"--module-path", "/m", "--module-path", "/n.jar", "-m", "m/c"},
         "",
         {{"/m", true}, {"/n.jar", true}}},
        {{"-jar", "/app.jar"}, "/env", {{"/app.jar"}}},
        {{"--class-path=/a.jar", "-Xbootclasspath/a:/b.jar", "--module-path=/m", "Main"},
         "",
         {{"/a.jar"}, {"/b.jar"}, {"/m", true}}},
        {{"-Djava.class.path=/c.jar", "Main"}, "", {{"/c.jar"}}},
        {{"Main"}, "", {{"."}}},
        {{"Main"}, "/env.jar", {{"/env.jar"}}},
        {{"-m", "jdk.compiler/com.sun.tools.javac.Main"}, "", {}},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(c.entries == JvmArgScan::pathEntries(c.args, c.classPathVariable))
            << c.args.front();
    }
}

TEST(JvmArgScan, ConflictingOption) {
    const struct {
        Strings options;
        int javaVersion;
        const char* conflict;
    } cases[] = {
        {{"-Xmx64m", "-Dx=1", ""}, 17, ""},
        {{"-Xmx64m", "-XX:+RecordDynamicDumpInfo"}, 17, "-XX:+RecordDynamicDumpInfo"},
        {{"-XX:+AutoCreateSharedArchive"}, 17, "-XX:+AutoCreateSharedArchive"},
        {{"-XX:AOTMode=auto"}, 25, "-XX:AOTMode=auto"},
        {{"-XX:AOTCacheOutput=/a.aot"}, 25, "-XX:AOTCacheOutput=/a.aot"},
        {{"-XX:AOTConfiguration=/a.conf"}, 25, "-XX:AOTConfiguration=/a.conf"},
        {{"-Xshare:auto"}, 17, "-Xshare:auto"},
        {{"-XX:-UseCompressedClassPointers"}, 17, "-XX:-UseCompressedClassPointers"},
        {{"--patch-module=m=/p"}, 25, "--patch-module=m=/p"},
        {{"-Djdk.module.main=m"}, 17, "-Djdk.module.main=m"},
        // Words of the options in a value or a path are no options.
        {{"-Dpath=/Users/me/AOTCacheApps/x", "-Dsharing=-Xshare:off"}, 25, ""},
        {{"-Djava.library.path=/opt/SharedArchiveFile", "-Xlog:gc:file=/AOTMode.log"}, 17, ""},
        {{"-Xsharexyz", "--patch-modules"}, 17, ""},
        // A Java agent fails the dynamic archive's writing; the ahead-of-time
        // cache records without it. Native agents are refused next to both.
        {{"-javaagent:/a/agent.jar"}, 17, "-javaagent:/a/agent.jar"},
        {{"-javaagent:/a/agent.jar"}, 25, ""},
        {{"-agentlib:jdwp=transport=dt_socket"}, 25, "-agentlib:jdwp=transport=dt_socket"},
        {{"-agentpath:/a/lib.so"}, 17, "-agentpath:/a/lib.so"},
        {{"-Djava.system.class.loader=a.L"}, 25, "-Djava.system.class.loader=a.L"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.conflict, JvmArgScan::conflictingOption(c.options, c.javaVersion))
            << c.options.front() << " " << c.javaVersion;
    }
}

TEST(JvmArgScan, SplitOptions) {
    const std::pair<const char*, Strings> cases[] = {
        {"", {}},
        {"  -Dx=1\t-XX:SharedArchiveFile=/a.jsa ", {"-Dx=1", "-XX:SharedArchiveFile=/a.jsa"}},
        {"-Dp=\"/a b/c\" '-Dq=x y'", {"-Dp=/a b/c", "-Dq=x y"}},
        {"\"\"", {""}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.second, JvmArgScan::splitOptions(c.first)) << c.first;
    }
}

TEST(JvmArgScan, StartsClassBesideModulePath) {
    const std::pair<Strings, bool> cases[] = {
        {{"--module-path", "/a.jar", "-classpath", "/b.jar", "org.jruby.Main"}, true},
        {{"-p", "/a.jar", "Main"}, true},
        {{"--module-path=/a.jar", "-jar", "/b.jar"}, true},
        {{"--module-path", "/a.jar", "-m", "m/c"}, false},
        {{"-p", "/a.jar", "--module=m/c"}, false},
        {{"-classpath", "/b.jar", "Main"}, false},
        {{"-classpath", "-p", "Main"}, false},
        {{"-m", "jdk.compiler/com.sun.tools.javac.Main"}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.second, JvmArgScan::startsClassBesideModulePath(c.first)) << c.first.front();
    }
}
