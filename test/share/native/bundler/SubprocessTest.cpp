#include "Subprocess.h"

#include <gtest/gtest.h>

TEST(Subprocess, Reason) {
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
        EXPECT_EQ(reason, Subprocess::reason(output)) << output;
    }
}
