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
        const char* conflict;
    } cases[] = {
        {{"-Xmx64m", "-Dx=1", ""}, ""},
        {{"-Xmx64m", "-XX:+RecordDynamicDumpInfo"}, "-XX:+RecordDynamicDumpInfo"},
        {{"-XX:+AutoCreateSharedArchive"}, "-XX:+AutoCreateSharedArchive"},
        {{"-XX:AOTMode=auto"}, "-XX:AOTMode=auto"},
        {{"-XX:AOTCacheOutput=/a.aot"}, "-XX:AOTCacheOutput=/a.aot"},
        {{"-XX:AOTConfiguration=/a.conf"}, "-XX:AOTConfiguration=/a.conf"},
        {{"-Xshare:auto"}, "-Xshare:auto"},
        {{"-Dx=1 -XX:SharedArchiveFile=/a.jsa"}, "-Dx=1 -XX:SharedArchiveFile=/a.jsa"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.conflict, JvmArgScan::conflictingOption(c.options)) << c.conflict;
    }
}
