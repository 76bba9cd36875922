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

// Jars past 65,535 entries or 4 GiB: read and searched, never rewritten.
TEST(JarFile, ReadsZip64JarsButDoesNotRewriteThem) {
    kvtest::TempDir tmp;
    const std::string manifest = "Main-Class: a.B\n\n";
    kvtest::writeJar(tmp / "built.jar",
                     {{"META-INF/MANIFEST.MF", manifest}, {"a/B.class", "x"}, {"x.dylib", "code"}},
                     true);
    std::vector<std::string> jars{"built.jar"};
    // Info-ZIP's zip marks only some values, and writes zip64 records all the same.
    const std::string zip = Subprocess::findOnPath("zip");
    if (!zip.empty()) {
        kvtest::writeFile(tmp / "in/x.dylib", "code");
        ASSERT_EQ(0, kvtest::runProcess({zip, "-q", "-0", "-fz", tmp / "zip.jar", "x.dylib"}, {},
                                        tmp / "in")
                         .exitCode);
        jars.push_back("zip.jar");
    }
    for (const std::string& name : jars) {
        SCOPED_TRACE(name);
        const JarFile jar(tmp / name);
        EXPECT_TRUE(jar.contains("x.dylib"));
        EXPECT_EQ("code", jar.read("x.dylib"));
        EXPECT_EQ("cannot rewrite " + tmp / name +
                      ": it is a zip64 file, which this tool reads but does not rewrite",
                  kvtest::thrownBy([&] {
                      jar.writeWithReplacements({{"x.dylib", "signed"}}, tmp / "out.jar");
                  }).raw);
    }
    const JarFile built(tmp / "built.jar");
    EXPECT_EQ((std::vector<std::string>{"META-INF/MANIFEST.MF", "a/B.class", "x.dylib"}),
              built.names());
    EXPECT_EQ(manifest, built.manifest());
    // Without the locator the zip64 end record cannot be found.
    std::string bytes = kvtest::readFile(tmp / "built.jar");
    bytes.replace(bytes.size() - 42, 4, "PK\x00\x00");
    kvtest::writeFile(tmp / "bad.jar", bytes);
    EXPECT_EQ("cannot read " + tmp / "bad.jar" +
                  " as a jar: no zip64 end of central directory locator",
              kvtest::thrownBy([&] { JarFile jar(tmp / "bad.jar"); }).raw);
}

// Decoded by the tool itself: no unzip, which took a name beginning with '-'
// for an option.
TEST(JarFile, ReadsADeflatedManifestItself) {
    const std::string zip = Subprocess::findOnPath("zip");
    if (zip.empty()) {
        GTEST_SKIP() << "no zip on the PATH";
    }
    kvtest::TempDir tmp;
    const std::string manifest = "Main-Class: a.B\n" + std::string(400, ' ') + "\n\n";
    kvtest::writeFile(tmp / "META-INF/MANIFEST.MF", manifest);
    ASSERT_EQ(0, kvtest::runProcess({zip, "-q", "-9", tmp / "-a.jar", "META-INF/MANIFEST.MF"},
                                    {}, tmp.path())
                     .exitCode);
    EXPECT_EQ(manifest, JarFile(tmp / "-a.jar").manifest());
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

namespace {

/// Where the local header of the entry `name` starts in a zip file's bytes.
std::size_t localHeader(const std::string& zip, const std::string& name) {
    for (std::size_t at = zip.find("PK\x03\x04"); at != std::string::npos;
         at = zip.find("PK\x03\x04", at + 1)) {
        if (zip.compare(at + 30, name.size(), name) == 0) {
            return at;
        }
    }
    return std::string::npos;
}

} // namespace

// Written by zip itself: deflated and stored entries, to a file and streamed
// (with data descriptors after the data).
TEST(JarFile, ReplacesOneEntryAndCopiesTheOthersByteForByte) {
    kvtest::TempDir tmp;
    kvtest::writeFile(tmp / "a.txt", std::string(4000, 'a'));
    kvtest::writeFile(tmp / "lib.bin", std::string(3000, 'l'));
    kvtest::writeFile(tmp / "s.txt", "stored");
    const std::string zip = Subprocess::findOnPath("zip");
    ASSERT_FALSE(zip.empty()) << "zip is needed for this test";
    kvtest::runProcess({zip, "-q", tmp / "file.jar", "a.txt", "lib.bin", "s.txt"}, {}, tmp.path());
    kvtest::writeFile(tmp / "streamed.jar",
                      kvtest::runProcess({zip, "-q", "-", "a.txt", "lib.bin", "s.txt"}, {}, tmp.path()).out);
    for (const char* name : {"file.jar", "streamed.jar"}) {
        SCOPED_TRACE(name);
        const std::string before = kvtest::readFile(tmp / name);
        JarFile(tmp / name).writeWithReplacements({{"lib.bin", "signed library"}}, tmp / "new.jar");
        const std::string after = kvtest::readFile(tmp / "new.jar");
        const std::size_t lib = localHeader(before, "lib.bin");
        const std::size_t stored = localHeader(before, "s.txt");
        ASSERT_NE(std::string::npos, lib);
        EXPECT_EQ(before.substr(0, lib), after.substr(0, lib));
        EXPECT_NE(std::string::npos,
                  after.find(before.substr(stored, before.find("PK\x01\x02") - stored)));
        EXPECT_EQ(0, kvtest::runProcess({"/usr/bin/env", "unzip", "-tq", tmp / "new.jar"}).exitCode);
        EXPECT_EQ("signed library",
                  kvtest::runProcess({"/usr/bin/env", "unzip", "-p", tmp / "new.jar", "lib.bin"}).out);
        EXPECT_EQ((std::vector<std::string>{"a.txt", "lib.bin", "s.txt"}), JarFile(tmp / "new.jar").names());
    }
}

TEST(JarFile, IsSignedByASignatureFileInMetaInf) {
    kvtest::TempDir tmp;
    const std::pair<std::string, bool> cases[] = {
        {"META-INF/KEY.SF", true},
        {"meta-inf/key.sf", true},
        {"META-INF/sub/KEY.SF", false},
        {"KEY.SF", false},
        {"META-INF/KEY.RSA", false},
        {"META-INF/.SF", false},
    };
    for (const auto& [name, isSigned] : cases) {
        kvtest::writeJar(tmp / "a.jar", {{"a/B.class", "x"}, {name, "sig"}});
        EXPECT_EQ(isSigned, JarFile(tmp / "a.jar").isSigned()) << name;
    }
}

// Deflated by zip itself: fixed and dynamic codes, stored blocks for what does
// not compress, and an empty entry.
TEST(JarFile, ReadsStoredAndDeflatedEntries) {
    kvtest::TempDir tmp;
    std::string noise;
    for (unsigned long x = 1; noise.size() < 70000;) {
        x = x * 6364136223846793005UL + 1442695040888963407UL;
        noise += static_cast<char>(x >> 56);
    }
    std::string text;
    for (int i = 0; i < 3000; ++i) {
        text += "line " + std::to_string(i * 7 % 13) + "\n";
    }
    const std::pair<std::string, std::string> files[] = {
        {"empty", ""}, {"short", "abc"}, {"text", text}, {"noise", noise}};
    std::vector<std::string> argv{Subprocess::findOnPath("zip"), "-q", tmp / "a.jar"};
    ASSERT_FALSE(argv[0].empty()) << "zip is needed for this test";
    for (const auto& [name, content] : files) {
        kvtest::writeFile(tmp / name, content);
        argv.push_back(name);
    }
    kvtest::runProcess(argv, {}, tmp.path());
    kvtest::writeJar(tmp / "b.jar", {{"stored", text}});
    const JarFile jar(tmp / "a.jar");
    for (const auto& [name, content] : files) {
        EXPECT_EQ(content, jar.read(name)) << name;
        EXPECT_EQ(content.substr(0, 8), jar.read(name, 8).substr(0, 8)) << name;
    }
    EXPECT_EQ(text, JarFile(tmp / "b.jar").read("stored"));
    EXPECT_EQ("cannot read none in " + tmp / "b.jar" + ": no such entry",
              kvtest::thrownBy([&] { JarFile(tmp / "b.jar").read("none"); }).raw);
}
