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
