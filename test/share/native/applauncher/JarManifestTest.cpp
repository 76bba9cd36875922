#include "JarManifest.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestSupport.h"

using Strings = std::vector<std::string>;
using Entries = std::vector<std::pair<std::string, std::string>>;
using JarManifest::Outcome;

TEST(JarManifest, ReadsTheManifestOfAJar) {
    kvtest::TempDir tmp;
    const std::string manifest = "Manifest-Version: 1.0\r\nClass-Path: lib.jar\r\n\r\n";
    const std::string path = tmp / "a.jar";
    const struct {
        const char* what;
        Entries entries;
        std::string prefix; // bytes put in front of the zip
        bool zip64;
        Outcome outcome;
        std::string text;
    } cases[] = {
        {"stored", {{"a.class", "x"}, {"META-INF/MANIFEST.MF", manifest}}, "", false,
         Outcome::Found, manifest},
        {"other case", {{"meta-inf/Manifest.mf", manifest}}, "", false, Outcome::Found, manifest},
        {"exact name first", {{"META-INF/manifest.mf", "other"}, {"META-INF/MANIFEST.MF", manifest}},
         "", false, Outcome::Found, manifest},
        {"bytes in front", {{"META-INF/MANIFEST.MF", manifest}}, "#!/bin/sh\n", false,
         Outcome::Found, manifest},
        {"none", {{"a.class", "x"}}, "", false, Outcome::None, ""},
        {"twice", {{"META-INF/MANIFEST.MF", "a"}, {"META-INF/MANIFEST.MF", "b"}}, "", false,
         Outcome::Unreadable, ""},
        {"zip64", {{"META-INF/MANIFEST.MF", manifest}}, "", true, Outcome::Unreadable, ""},
    };
    for (const auto& c : cases) {
        kvtest::writeJar(path, c.entries, c.zip64);
        kvtest::writeFile(path, c.prefix + kvtest::readFile(path));
        std::string text;
        std::string why;
        EXPECT_EQ(c.outcome, JarManifest::readFile(path, text, why)) << c.what << ": " << why;
        EXPECT_EQ(c.text, text) << c.what;
    }
    // Damaged in every way a cut or a flipped byte can: never more than the
    // outcomes above, and a manifest only as written.
    kvtest::writeJar(path, {{"META-INF/MANIFEST.MF", manifest}});
    const std::string good = kvtest::readFile(path);
    for (std::size_t i = 0; i < good.size(); ++i) {
        for (const std::string& bad :
             {good.substr(0, i), good.substr(0, i) + char(good[i] ^ 0x80) + good.substr(i + 1)}) {
            kvtest::writeFile(path, bad);
            std::string text;
            std::string why;
            const Outcome outcome = JarManifest::readFile(path, text, why);
            EXPECT_TRUE(outcome != Outcome::Found || text.size() == manifest.size()) << i;
        }
    }
    kvtest::makeDirs(tmp / "dir.jar");
    std::string text;
    std::string why;
    EXPECT_EQ(Outcome::Unreadable, JarManifest::readFile(tmp / "dir.jar", text, why));
}

TEST(JarManifest, ClassPathOfTheMainSection) {
    const std::pair<const char*, Strings> cases[] = {
        {"Class-Path: a.jar  lib/b.jar\r\n", {"a.jar", "lib/b.jar"}},
        {"class-path: a.jar\n", {"a.jar"}},
        {"Manifest-Version: 1.0\nClass-Path: lib/very-long-na\n me.jar c.jar\n", {"lib/very-long-name.jar", "c.jar"}},
        {"Class-Path: a.jar\r\rClass-Path: b.jar\r", {"a.jar"}},
        {"Main-Class: M\n\nName: x\nClass-Path: b.jar\n", {}},
        {"Class-Path:\tx.jar\n", {"x.jar"}},
        {"Class-Paths: a.jar\n", {}},
        {"", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.second, JarManifest::classPath(c.first)) << c.first;
    }
}

TEST(JarManifest, ResolvesEntriesAsTheClassLoader) {
    const struct {
        const char* dir;
        const char* entry;
        const char* path; // null: no local file for certain
    } cases[] = {
        {"/app", "lib.jar", "/app/lib.jar"},
        {"/app/x", "../lib/./a.jar", "/app/lib/a.jar"},
        {"/app", "/opt/a.jar", "/opt/a.jar"},
        {"/app", "file:/opt/a.jar", "/opt/a.jar"},
        {"/app", "a%20b.jar", "/app/a b.jar"},
        {"/app", "classes/", "/app/classes/"},
        {"/", "../../a.jar", "/a.jar"},
        {"/app", "http://host/a.jar", nullptr},
        {"/app", "a.jar?x", nullptr},
        {"/app", "a.jar#x", nullptr},
        {"/app", "a%2.jar", nullptr},
        {"/app", "a%00.jar", nullptr},
        {"relative", "a.jar", nullptr},
    };
    for (const auto& c : cases) {
        std::string path;
        EXPECT_EQ(c.path != nullptr, JarManifest::resolve(c.dir, c.entry, path)) << c.entry;
        EXPECT_EQ(c.path ? c.path : "", c.path ? path : std::string()) << c.entry;
    }
}
