#include "ToolDefaults.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "TestSupport.h"

TEST(ToolDefaults, SystemOfAnExecutableFromItsFirstBytes) {
    const std::pair<std::string, std::string> cases[] = {
        {std::string("\xcf\xfa\xed\xfe\x0c\0\0\x01", 8), "macOS"},
        {std::string("\xca\xfe\xba\xbe\0\0\0\x02", 8), "macOS"},
        {std::string("\x7f" "ELF\x02\x01\x01\0", 8), "Linux"},
        {std::string("\xca\xfe\xba\xbe\0\0\0\x3d", 8), ""}, // a class file
        {"#!/bin/sh\n", ""},
        {"", ""},
    };
    for (const auto& [head, system] : cases) {
        EXPECT_EQ(system, ToolDefaults::systemOf(head));
    }
}

TEST(ToolDefaults, DownloadNamesCarryTheVersionUnlessGiven) {
    EXPECT_EQ("/o/Demo-1.2.zip", ToolDefaults::downloadPath("/o", "Demo", "1.2", "", ".zip"));
    EXPECT_EQ("/o/Demo.dmg", ToolDefaults::downloadPath("/o", "Demo", "", "", ".dmg"));
    EXPECT_EQ("/o/Demo.dmg", ToolDefaults::downloadPath("/o", "Demo", "1/2", "", ".dmg"));
    EXPECT_EQ("/d/x.zip", ToolDefaults::downloadPath("/o", "Demo", "1.2", "/d/x.zip", ".zip"));
}

TEST(ToolDefaults, RuntimeFromJavaHomeElseFromTheJavaHomeTool) {
    kvtest::TempDir tmp;
    kvtest::writeFile(tmp / "java_home", "#!/bin/sh\necho /Library/Java/jdk/Contents/Home\n");
    kvtest::writeFile(tmp / "failing", "#!/bin/sh\necho nothing; exit 1\n");
    ::chmod((tmp / "java_home").c_str(), 0755);
    ::chmod((tmp / "failing").c_str(), 0755);
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"/jdk", tmp / "java_home", "/jdk"},
        {"", tmp / "java_home", "/Library/Java/jdk/Contents/Home"},
        {"", tmp / "failing", ""},
        {"", tmp / "none", ""},
    };
    for (const auto& [javaHome, tool, home] : cases) {
        EXPECT_EQ(home, ToolDefaults::runtimeHome(javaHome, tool)) << tool;
    }
}
