#include "LaunchLog.h"

#include <gtest/gtest.h>

#include <stdexcept>

TEST(LaunchLog, RecordIsOneLineOfUtcTimePidExecutableAndMessage) {
    EXPECT_EQ("2026-12-08T12:34:56Z 4321 /A.app/Contents/MacOS/A: Failed to launch JVM\n",
              LaunchLog::formatRecord(1796733296, 4321, "/A.app/Contents/MacOS/A",
                                      "Failed to launch JVM"));
    EXPECT_EQ("1970-01-01T00:00:00Z 1 /x\\ny: a\\r\\nb\n",
              LaunchLog::formatRecord(0, 1, "/x\ny", "a\r\nb"));
}

TEST(LaunchLog, RotatesOnlyOverOneMebibyte) {
    EXPECT_FALSE(LaunchLog::needsRotation(0));
    EXPECT_FALSE(LaunchLog::needsRotation(1024 * 1024));
    EXPECT_TRUE(LaunchLog::needsRotation(1024 * 1024 + 1));
}

TEST(LaunchLog, PathBelowAbsoluteHomeInPackageOrLauncherFolder) {
    const struct {
        const char* package;
        const char* folder;
    } cases[] = {{"", "App"}, {"Demo Suite", "Demo Suite"}, {".", "App"},
                 {"..", "App"}, {"a/b", "App"},            {"a\\b", "App"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.package);
        EXPECT_EQ(std::string("/Users/u/Library/Logs/") + c.folder + "/App.log",
                  LaunchLog("/Users/u/", LaunchLog::folderName(c.package, "App"), "App").getPath());
    }
    for (const char* home : {"", "Users/u", "./u"}) {
        EXPECT_THROW(LaunchLog(home, "App", "App"), std::runtime_error) << home;
    }
}
