#include "PlistReader.h"

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace {

std::string read(const std::string& dict) {
    std::string result;
    for (const PlistEntry& e :
         PlistReader::topLevel("<?xml version=\"1.0\"?>\n<!-- note -->\n<plist version=\"1.0\">" +
                               dict + "</plist>")) {
        result += "[" + e.key + "=" + std::get<PlistXml>(e.value.value).text + "]";
    }
    return result;
}

} // namespace

TEST(PlistReader, KeepsEachValueAsItsXmlText) {
    const std::pair<std::string, std::string> cases[] = {
        {"<dict/>", ""},
        {"<dict>\n</dict>", ""},
        {"<dict><key>A</key><string>x &amp; y</string></dict>", "[A=<string>x &amp; y</string>]"},
        {"<dict><key>A&lt;&#x42;&#67;</key> <true/></dict>", "[A<BC=<true/>]"},
        {"<dict><key>N</key><array><dict><key>K</key><integer>1</integer></dict><array/></array>"
         "<!-- <dict> --><key>E</key><string><![CDATA[</string>]]></string></dict>",
         "[N=<array><dict><key>K</key><integer>1</integer></dict><array/></array>]"
         "[E=<string><![CDATA[</string>]]></string>]"},
    };
    for (const auto& [dict, expected] : cases) {
        EXPECT_EQ(expected, read(dict)) << dict;
    }
}

TEST(PlistReader, RefusesWhatIsNoXmlPropertyListOfADictionary) {
    const std::pair<std::string, std::string> cases[] = {
        {"bplist00", "it is a binary property list (plutil -convert xml1 FILE makes it XML)"},
        {"<dict/>", "no <plist> element"},
        {"<plist><array/></plist>", "the top level is no dictionary"},
        {"<plist><dict><string>x</string></dict></plist>",
         "expected <key> in the top-level dictionary"},
        {"<plist><dict><key>A</key><string>x", "the property list ends inside a value"},
        {"<plist><dict><key>A", "missing </key>"},
        {"<plist><dict><key>A</key>x</dict></plist>", "no value after <key>A</key>"},
        {"<plist><dict><key>A</key></dict></plist>", "no value after <key>A</key>"},
        {"<plist><dict><key>&bad;</key><true/></dict></plist>", "unknown entity &bad;"},
        {"<plist><dict><key>&#0;</key><true/></dict></plist>", "bad character reference &#0;"},
    };
    for (const auto& [xml, message] : cases) {
        EXPECT_EQ(message, kvtest::thrownBy([&] { PlistReader::topLevel(xml); }).raw) << xml;
    }
}

// Cut anywhere, a property list is read or refused, never read past its end.
TEST(PlistReader, EveryTruncationIsReadOrRefused) {
    const std::string xml = "<?xml version=\"1.0\"?><!-- c --><plist version=\"1.0\"><dict>"
                            "<key>A&amp;</key><array><string>x</string><![CDATA[<]]></array>"
                            "<key>B</key><true/></dict></plist>";
    ASSERT_EQ(2u, PlistReader::topLevel(xml).size());
    for (std::size_t length = 0; length < xml.size(); ++length) {
        try {
            PlistReader::topLevel(xml.substr(0, length));
        } catch (const KvErrorBase&) {
            continue;
        }
        EXPECT_GE(length, xml.find("</dict>") + 7) << length;
    }
}
