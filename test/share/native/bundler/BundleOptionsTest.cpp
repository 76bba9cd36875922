#include "BundleOptions.h"

#include <gtest/gtest.h>

#include "TestSupport.h"

using Args = std::vector<std::string>;

TEST(BundleOptions, AValueIsTheNextArgumentWhateverItsFirstCharacter) {
    const BundleOptions o = parseOptions(
        {"--input", "-x.jar", "--output", "-out", "--argument", "--force", "--argument", "",
         "--input", "b", "--package", "", "--jlink", "--launcher", "a\tb", "--add-modules", "-"});
    EXPECT_EQ((Args{"-x.jar", "b"}), o.inputs);
    EXPECT_EQ("-out", o.output);
    EXPECT_EQ((Args{"--force", ""}), o.arguments);
    EXPECT_FALSE(o.force);
    EXPECT_TRUE(o.jlink);
    EXPECT_EQ(std::optional<std::string>(""), o.package);
    EXPECT_EQ(std::optional<std::string>("-"), o.addModules);
    EXPECT_EQ("a\tb", o.launcher);
    EXPECT_EQ("1.0", o.version);
    EXPECT_FALSE(parseOptions({}).package);
    EXPECT_TRUE(parseOptions({"-h"}).help);
}

TEST(BundleOptions, RefusesWithAMessageNamingTheOption) {
    const std::pair<Args, std::string> cases[] = {
        {{"--unknown"}, "unknown option: --unknown (try --help)"},
        {{"app.jar"}, "unknown option: app.jar (try --help)"},
        {{"--name=Demo"}, "unknown option: --name=Demo (try --help)"},
        {{"--force", "--name"}, "--name needs a value"},
        {{"--output", "a\nb"}, "--output must not contain a line break"},
        {{"--name", "a\x7f"}, "--name must not contain control characters"},
        {{"--class-path", "\x1b"}, "--class-path must not contain control characters"},
        {{"--copyright", "\xa9 2026"}, "--copyright must be UTF-8 text"},
        {{"--file-type", "kv=\xc3"}, "--file-type must be UTF-8 text"},
    };
    for (const auto& [args, message] : cases) {
        EXPECT_EQ(message, kvtest::thrownBy([&] { parseOptions(args); }).raw) << message;
    }
}

TEST(BundleOptions, HelpShowsEveryOptionOfTheTable) {
    const std::string usage = usageText();
    for (const OptionEntry& entry : optionTable()) {
        const std::string head = std::string("\n  ") + entry.name +
                                 (entry.valueName ? std::string(" ") + entry.valueName : "");
        EXPECT_NE(std::string::npos, usage.find(head)) << head;
    }
}

TEST(BundleOptions, SignTakesABundleAndOnlyItsSigningOptions) {
    const BundleOptions o = parseSignOptions({"A.app", "--sign", "--zip", "--entitlements", "e"});
    EXPECT_EQ("A.app", o.bundle);
    EXPECT_EQ("--zip", o.identity);
    EXPECT_EQ("e", o.entitlements);
    EXPECT_TRUE(parseSignOptions({"--help"}).help);
    const std::pair<Args, std::string> cases[] = {
        {{}, "sign needs the path of a bundle first"},
        {{"--sign", "-"}, "sign needs the path of a bundle first"},
        {{"A.app", "--zip"}, "sign takes only --sign, --entitlements and --quiet: --zip"},
        {{"A.app", "B.app"}, "sign takes only --sign, --entitlements and --quiet: B.app"},
        {{"A.app", "--sign"}, "--sign needs a value"},
    };
    for (const auto& [args, message] : cases) {
        EXPECT_EQ(message, kvtest::thrownBy([&] { parseSignOptions(args); }).raw) << message;
    }
}
