#include "BundleOptions.h"

#include <gtest/gtest.h>

#include <tuple>

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

TEST(BundleOptions, ZipAndDmgTakeAFileOnlyWhenOneFollows) {
    const std::tuple<Args, std::optional<std::string>, std::optional<std::string>> cases[] = {
        {{"--zip"}, "", std::nullopt},
        {{"--zip", "--dmg"}, "", ""},
        {{"--zip", "a.zip", "--dmg", "b.dmg", "-q"}, "a.zip", "b.dmg"},
        {{"--dmg", "", "--force"}, std::nullopt, ""},
    };
    for (const auto& [args, zip, dmg] : cases) {
        const BundleOptions o = parseOptions(args);
        EXPECT_EQ(zip, o.zip) << args[0];
        EXPECT_EQ(dmg, o.dmg) << args[0];
    }
    EXPECT_TRUE(parseOptions({"-q"}).quiet);
}

TEST(BundleOptions, EachCommandTakesItsPathThenOnlyItsOptions) {
    const BundleOptions n = parseCommandOptions(
        "notarize", {"A.app", "--zip", "--key", "k.p8", "--key-id", "I", "--issuer", "U", "-q"});
    EXPECT_EQ("A.app", n.bundle);
    EXPECT_EQ(std::optional<std::string>(""), n.zip);
    EXPECT_EQ("k.p8", n.apiKey);
    EXPECT_TRUE(n.quiet);
    EXPECT_EQ(std::optional<std::string>("A.zip"),
              parseCommandOptions("notarize", {"A.app", "--zip", "A.zip"}).zip);
    const std::tuple<std::string, Args, std::string> cases[] = {
        {"verify", {"A.app", "--quiet"}, "verify takes no options: --quiet"},
        {"verify", {}, "verify needs the path of a bundle first"},
        {"notarize", {"--zip"}, "notarize needs the path of a bundle, zip or disk image first"},
        {"notarize", {"A.app", "--sign", "x"},
         "notarize takes only --keychain-profile, --key, --key-id, --issuer, --zip, --force and "
         "--quiet: --sign"},
    };
    for (const auto& [command, args, message] : cases) {
        EXPECT_EQ(message, kvtest::thrownBy([&] { parseCommandOptions(command, args); }).raw);
    }
}
