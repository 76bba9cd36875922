#include "RuntimeFacts.h"

#include <gtest/gtest.h>

TEST(RuntimeFacts, JavaMajorVersion) {
    const struct {
        const char* release;
        int major;
    } cases[] = {
        {"IMPLEMENTOR=\"x\"\nJAVA_VERSION=\"17.0.15\"\n", 17},
        {"JAVA_VERSION=\"1.8.0_392\"", 8},
        {"JAVA_VERSION=\"13\"", 13},
        {"JAVA_VERSION=\"12.0.2\"", 12},
        {"JAVA_VERSION=\"25.0.3\"", 25},
        {"JAVA_VERSION=21", 21},
        {"JAVA_VERSION=\"\"", 0},
        {"JAVA_RUNTIME_VERSION=\"17.0.15\"", 0},
        {" JAVA_VERSION=\"17\"", 0},
        {"", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.major, RuntimeFacts::javaMajorVersion(c.release)) << c.release;
    }
}

TEST(RuntimeFacts, RuntimeHomeIsAboveTheLibDirectory) {
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
        EXPECT_EQ(c.home, RuntimeFacts::runtimeHome(c.lib)) << c.lib;
    }
}
