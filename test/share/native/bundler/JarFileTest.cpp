#include "JarFile.h"

#include <gtest/gtest.h>

#include "Subprocess.h"
#include "TestSupport.h"

TEST(JarFile, ReadsTheCentralDirectoryAndAStoredManifest) {
    kvtest::TempDir tmp;
    const std::string manifest = "Manifest-Version: 1.0\nMain-Class: a.B\n\n";
    kvtest::writeJar(tmp / "a.jar", {{"META-INF/MANIFEST.MF", manifest}, {"a/B.class", "x"}});
    // A zip file comment may follow the end record; it may even hold its signature.
    std::string bytes = kvtest::readFile(tmp / "a.jar");
    bytes.replace(bytes.size() - 2, 2, std::string("\x08\x00", 2));
    kvtest::writeFile(tmp / "comment.jar", bytes + std::string("PK\x05\x06xxxx", 8));
    kvtest::writeJar(tmp / "none.jar", {{"a/B.class", "x"}});
    for (const char* name : {"a.jar", "comment.jar"}) {
        const JarFile jar(tmp / name);
        EXPECT_TRUE(jar.contains("a/B.class")) << name;
        EXPECT_FALSE(jar.contains("a/C.class")) << name;
        EXPECT_FALSE(jar.contains("a/")) << name;
        EXPECT_EQ(manifest, jar.manifest()) << name;
    }
    EXPECT_EQ("", JarFile(tmp / "none.jar").manifest());
}

TEST(JarFile, RefusesWhatIsNoZipFile) {
    kvtest::TempDir tmp;
    kvtest::writeJar(tmp / "a.jar", {{"a/B.class", "x"}});
    const std::string whole = kvtest::readFile(tmp / "a.jar");
    // The central directory starts after the 30-byte local header, name and data.
    const std::size_t directory = 30 + 9 + 1;
    const std::pair<std::string, std::string> cases[] = {
        {"", "no end of central directory (not a zip file)"},
        {"not a zip file", "no end of central directory (not a zip file)"},
        {whole.substr(0, whole.size() - 1), "no end of central directory (not a zip file)"},
        {whole.substr(0, directory) + "XX" + whole.substr(directory + 2),
         "damaged central directory"},
    };
    for (const auto& [content, reason] : cases) {
        kvtest::writeFile(tmp / "bad.jar", content);
        EXPECT_EQ("cannot read " + tmp / "bad.jar" + " as a jar: " + reason,
                  kvtest::thrownBy([&] { JarFile jar(tmp / "bad.jar"); }).raw);
    }
    EXPECT_NE("", kvtest::thrownBy([&] { JarFile jar(tmp / "missing.jar"); }).raw);
}

TEST(JarFile, ReadsACompressedManifestWithUnzip) {
    const std::string zip = Subprocess::findOnPath("zip");
    if (zip.empty() || Subprocess::findOnPath("unzip").empty()) {
        GTEST_SKIP() << "no zip and unzip on the PATH";
    }
    kvtest::TempDir tmp;
    const std::string manifest = "Main-Class: a.B\n" + std::string(400, ' ') + "\n\n";
    kvtest::writeFile(tmp / "META-INF/MANIFEST.MF", manifest);
    ASSERT_EQ(0, kvtest::runProcess({zip, "-q", "-9", tmp / "a.jar", "META-INF/MANIFEST.MF"}, {},
                                    tmp.path())
                     .exitCode);
    EXPECT_EQ(manifest, JarFile(tmp / "a.jar").manifest());
}

TEST(Manifest, AttributeOfTheMainSection) {
    const std::string manifest = "Manifest-Version: 1.0\r\nmain-class: a.Very\r\n Long\r\n"
                                 "Class-Path: x.jar  lib/y.jar\n z.jar\n\nName: a/\n"
                                 "Main-Class: b.Other\n";
    EXPECT_EQ("a.VeryLong", Manifest::attribute(manifest, "Main-Class"));
    EXPECT_EQ("", Manifest::attribute(manifest, "Name"));
    EXPECT_EQ("", Manifest::attribute("", "Main-Class"));
    EXPECT_EQ((std::vector<std::string>{"x.jar", "lib/y.jarz.jar"}), Manifest::classPath(manifest));
}
