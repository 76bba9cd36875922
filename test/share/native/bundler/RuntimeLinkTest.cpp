#include "RuntimeLink.h"

#include <gtest/gtest.h>

TEST(RuntimeLink, ReleaseValue) {
    const std::string release = "IMPLEMENTOR=\"x\"\nJAVA_VERSION=\"17.0.9\"\nOS_NAME=\"Darwin\"\n"
                                "JAVA_VERSION_DATE=\"2023\"\nBAD=\"\n";
    EXPECT_EQ("17.0.9", RuntimeLink::releaseValue(release, "JAVA_VERSION"));
    EXPECT_EQ("Darwin", RuntimeLink::releaseValue(release, "OS_NAME"));
    EXPECT_EQ("", RuntimeLink::releaseValue(release, "OS_ARCH"));
    EXPECT_EQ("", RuntimeLink::releaseValue(release, "BAD"));
}

TEST(RuntimeLink, Reason) {
    const std::pair<std::string, std::string> cases[] = {
        {"Error: Module no.such.module not found\n", "Module no.such.module not found"},
        {"Exception in thread \"main\" java.util.zip.ZipException: zip END header not found\n"
         "\tat x.y(Z.java:1)\n",
         "zip END header not found"},
        {"warning: x\njava.lang.RuntimeException: java.io.IOException: bad\n", "bad"},
        {"\nfirst line\nsecond\n", "first line"},
        {"", "no output"},
    };
    for (const auto& [output, reason] : cases) {
        EXPECT_EQ(reason, RuntimeLink::reason(output)) << output;
    }
}
