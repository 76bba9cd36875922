#include "InfoPlist.h"

#include <gtest/gtest.h>

#include "TestSupport.h"

TEST(InfoPlist, XmlEscape) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain", "plain"},
        {"R&D <T>", "R&amp;D &lt;T&gt;"},
        {"\"it's\"", "&quot;it&apos;s&quot;"},
        {"&amp;", "&amp;amp;"},
        {"", ""},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(out, InfoPlist::xmlEscape(in)) << in;
    }
}

TEST(InfoPlist, PlistTextKeepsOrderAndEscapesKeysAndValues) {
    EXPECT_EQ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
              "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
              "<plist version=\"1.0\">\n<dict>\n"
              "  <key>Z&lt;</key>\n  <string>a&amp;b</string>\n"
              "  <key>A</key>\n  <true/>\n"
              "  <key>B</key>\n  <false/>\n"
              "</dict>\n</plist>\n",
              InfoPlist::plistText({{"Z<", std::string("a&b")}, {"A", true}, {"B", false}}));
}

TEST(InfoPlist, BundleEntriesNameTheIconOnlyWhenGiven) {
    for (const std::string icon : {"", "a.icns"}) {
        std::vector<std::string> keys;
        for (const PlistEntry& e : InfoPlist::bundleEntries("N", "id", "2", "2", "11.0", icon)) {
            keys.push_back(e.key);
        }
        std::vector<std::string> expected{"CFBundleAllowMixedLocalizations",
                                          "CFBundleDevelopmentRegion", "CFBundleExecutable",
                                          "CFBundleIdentifier", "CFBundleInfoDictionaryVersion",
                                          "CFBundleName", "CFBundlePackageType",
                                          "CFBundleShortVersionString", "CFBundleVersion",
                                          "LSMinimumSystemVersion", "NSHighResolutionCapable"};
        if (!icon.empty()) {
            expected.insert(expected.begin() + 3, "CFBundleIconFile");
        }
        EXPECT_EQ(expected, keys) << icon;
    }
}

// Each character, not each byte, becomes one '-', whatever the locale.
TEST(InfoPlist, DefaultIdentifier) {
    const std::pair<std::string, std::string> cases[] = {
        {"Demo", "Demo"},
        {"a.b-c_d 1", "a.b-c-d-1"},
        {"R&D <Tool>", "R-D--Tool-"},
        {"Caf\xc3\xa9", "Caf-"},
        {"\xe6\x97\xa5\xe6\x9c\xac", "--"},
        {"x\xf0\x9f\x98\x80y", "x-y"},
        {"\xff\xfe", "--"},            // no UTF-8 lead bytes
        {"\xc0\xaf", "--"},            // overlong encoding of '/'
        {"a\xc3", "a-"},               // truncated sequence
        {"\xe2\x82x", "--x"},          // sequence cut short by an ASCII byte
    };
    for (const auto& [name, suffix] : cases) {
        EXPECT_EQ("app.kovalu." + suffix, InfoPlist::defaultIdentifier(name)) << name;
        EXPECT_TRUE(InfoPlist::isValidIdentifier(InfoPlist::defaultIdentifier(name))) << name;
    }
}

TEST(InfoPlist, IsValidIdentifier) {
    for (const char* good : {"com.example.demo", "a-b.C9"}) {
        EXPECT_TRUE(InfoPlist::isValidIdentifier(good)) << good;
    }
    for (const char* bad : {"", "bad id", "a_b", "caf\xc3\xa9", "a/b"}) {
        EXPECT_FALSE(InfoPlist::isValidIdentifier(bad)) << bad;
    }
}

TEST(InfoPlist, PlistTextNestsArraysAndDictionaries) {
    EXPECT_EQ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
              "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
              "<plist version=\"1.0\">\n<dict>\n"
              "  <key>A</key>\n  <array>\n    <dict>\n      <key>B</key>\n"
              "      <array>\n        <string>&lt;c&gt;</string>\n      </array>\n"
              "    </dict>\n  </array>\n"
              "  <key>X</key>\n  <integer>1</integer>\n"
              "</dict>\n</plist>\n",
              InfoPlist::plistText(
                  {{"A", std::vector<PlistValue>{std::vector<PlistEntry>{
                             {"B", std::vector<PlistValue>{"<c>"}}}}},
                   {"X", PlistXml{"<integer>1</integer>"}}}));
}

TEST(InfoPlist, DeclarationsRefuseMalformedAndRepeatedValues) {
    using D = InfoPlist::Declarations;
    const std::pair<D, std::string> cases[] = {
        {D{{"kv"}, {}, {}, "", "", false},
         "--file-type needs EXT=DESCRIPTION or EXT=TYPE.IDENTIFIER[:ROLE[:RANK]]: kv"},
        {D{{"=Doc"}, {}, {}, "", "", false},
         "--file-type needs EXT=DESCRIPTION or EXT=TYPE.IDENTIFIER[:ROLE[:RANK]]: =Doc"},
        {D{{"kv="}, {}, {}, "", "", false},
         "--file-type needs EXT=DESCRIPTION or EXT=TYPE.IDENTIFIER[:ROLE[:RANK]]: kv="},
        {D{{".kv=Doc"}, {}, {}, "", "", false},
         "--file-type needs an extension without '.' or '/' in front of '=': .kv=Doc"},
        {D{{"kv=A", "KV=B"}, {}, {}, "", "", false}, "--file-type names kv twice"},
        {D{{}, {"1abc"}, {}, "", "", false},
         "--url-scheme needs a letter followed by letters, digits, '+', '-' or '.': 1abc"},
        {D{{}, {"a:b"}, {}, "", "", false},
         "--url-scheme needs a letter followed by letters, digits, '+', '-' or '.': a:b"},
        {D{{}, {"kov", "Kov"}, {}, "", "", false}, "--url-scheme names kov twice"},
        {D{{}, {}, {"cam=x"}, "", "", false},
         "--usage: unknown kind cam (known: camera, microphone, location, contacts, calendars, "
         "photos, apple-events, desktop, documents, downloads)"},
        {D{{}, {}, {"camera"}, "", "", false}, "--usage needs KIND=TEXT: camera"},
        {D{{}, {}, {"camera=a", "camera=b"}, "", "", false}, "--usage names camera twice"},
        {D{{}, {}, {}, "Games", "", false},
         "--category needs a name of lower-case letters, digits and '-' (such as "
         "developer-tools): Games"},
        {D{{}, {}, {}, "gamez", "", false},
         "--category is none of the categories macOS knows (business, developer-tools, games, "
         "productivity, utilities, ...): gamez"},
        {D{{}, {}, {}, "public.app-category.", "", false},
         "--category needs a name of lower-case letters, digits and '-' (such as "
         "developer-tools): public.app-category."},
    };
    for (const auto& [d, message] : cases) {
        EXPECT_EQ(message, kvtest::thrownBy([&] { InfoPlist::declarationEntries(d, "id"); }).raw);
    }
}

TEST(InfoPlist, MergeReplacesInPlaceAndAddsTheRest) {
    std::vector<std::string> replaced;
    const std::vector<PlistEntry> merged = InfoPlist::merge(
        {{"A", "1"}, {"B", "2"}}, {{"C", PlistXml{"<true/>"}}, {"A", PlistXml{"<string>x</string>"}}},
        [&](const std::string& key) { replaced.push_back(key); });
    std::vector<std::string> keys;
    for (const PlistEntry& e : merged) {
        keys.push_back(e.key);
    }
    EXPECT_EQ((std::vector<std::string>{"A", "B", "C"}), keys);
    EXPECT_EQ("<string>x</string>", std::get<PlistXml>(merged[0].value.value).text);
    EXPECT_EQ(std::vector<std::string>{"A"}, replaced);
}

TEST(InfoPlist, VersionNumbersAreComparedPartByPart) {
    EXPECT_EQ(0, InfoPlist::compareVersions("11", "11.0.0"));
    EXPECT_LT(InfoPlist::compareVersions("10.15", "11.0"), 0);
    EXPECT_GT(InfoPlist::compareVersions("11.0.1", "11.0"), 0);
    EXPECT_GT(InfoPlist::compareVersions("12", "11.9"), 0);
}
