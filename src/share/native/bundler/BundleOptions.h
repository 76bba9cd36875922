#ifndef KOVALU_BUNDLEOPTIONS_H
#define KOVALU_BUNDLEOPTIONS_H

#include <optional>
#include <string>
#include <variant>
#include <vector>

/// What the bundle tool was asked to do, as given on its command line.
struct BundleOptions {
    std::string launcher;
    std::string name;
    std::string runtime;
    std::vector<std::string> inputs;
    std::string mainJar;
    std::string mainClass;
    std::string mainModule;
    std::vector<std::string> classPath;
    std::vector<std::string> modulePath;
    std::vector<std::string> javaOptions;
    std::vector<std::string> arguments;
    std::string splash;
    std::optional<std::string> package;
    std::string identifier;
    std::string version = "1.0";
    std::string build;
    std::string minMacos = "11.0";
    std::string icon;
    std::string identity;
    std::string entitlements;
    std::string output = ".";
    bool jlink = false;
    bool jlinkMinimal = false;
    std::optional<std::string> addModules;
    std::string jmods;
    bool force = false;
    bool cds = false;
    bool train = false;
    std::vector<std::string> trainArguments;
    std::string trainTimeout;
    std::vector<std::string> fileTypes;
    std::vector<std::string> urlSchemes;
    std::vector<std::string> usages;
    std::string category;
    std::string copyright;
    bool agent = false;
    std::string infoPlist;
    std::optional<std::string> zip; ///< empty: the default name
    std::optional<std::string> dmg; ///< empty: the default name
    bool notarize = false;
    std::string keychainProfile;
    std::string apiKey;
    std::string apiKeyId;
    std::string apiIssuer;
    bool quiet = false;
    bool help = false;
    std::string bundle; ///< the existing bundle or file a command works on
};

/// One command-line option: its spelling, what its value is called (none for a
/// switch; in brackets for a value that may be left out), its help text,
/// whether its value must be free of control characters, and the member its
/// value goes to.
struct OptionEntry {
    const char* name;
    const char* valueName;
    const char* help;
    bool text;
    std::variant<std::string BundleOptions::*, std::optional<std::string> BundleOptions::*,
                 std::vector<std::string> BundleOptions::*, bool BundleOptions::*>
        target;
};

/// Every option, in the order `--help` shows them.
const std::vector<OptionEntry>& optionTable();

/// Reads the arguments after the program name. The argument after an option
/// that takes a value is its value, whatever its first character; a value
/// that may be left out is taken only when the next argument does not start
/// with '-'. Throws, with
/// a message naming the option, for an unknown option, a missing value, a line
/// break in a value or a control character in a text value.
BundleOptions parseOptions(const std::vector<std::string>& args);

/// Reads the arguments after "sign": the bundle's path, then only --sign,
/// --entitlements, --quiet and --help. Throws, with a message naming it, for
/// any other option, a missing path or a missing value.
BundleOptions parseSignOptions(const std::vector<std::string>& args);

/// Reads the arguments after the command `command` (sign, notarize or
/// verify): the path it works on, then only the options that command takes.
/// Throws, with a message naming it, for any other option, a missing path or
/// a missing value.
BundleOptions parseCommandOptions(const std::string& command, const std::vector<std::string>& args);

/// The `--help` text, built from the option table.
std::string usageText();

#endif
