#include "JarFile.h"

#include <gtest/gtest.h>

TEST(Manifest, AttributeOfTheMainSection) {
    const std::string manifest = "Manifest-Version: 1.0\r\nmain-class: a.Very\r\n Long\r\n"
                                 "Class-Path: x.jar  lib/y.jar\n z.jar\n\nName: a/\n"
                                 "Main-Class: b.Other\n";
    EXPECT_EQ("a.VeryLong", Manifest::attribute(manifest, "Main-Class"));
    EXPECT_EQ("", Manifest::attribute(manifest, "Name"));
    EXPECT_EQ("", Manifest::attribute("", "Main-Class"));
    EXPECT_EQ((std::vector<std::string>{"x.jar", "lib/y.jarz.jar"}), Manifest::classPath(manifest));
}
