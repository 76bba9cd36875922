#ifndef KOVALU_INFOPLIST_H
#define KOVALU_INFOPLIST_H

#include <functional>
#include <string>
#include <variant>
#include <vector>

struct PlistEntry;

/// A value's XML kept as it was read, written back unchanged.
struct PlistXml {
    std::string text;
};

/// A property list value: a string, a boolean, an array, a dictionary (its
/// entries in order) or XML read from elsewhere.
struct PlistValue {
    PlistValue(const char* text);
    PlistValue(std::string text);
    PlistValue(bool flag);
    PlistValue(std::vector<PlistValue> array);
    PlistValue(std::vector<PlistEntry> dict);
    PlistValue(PlistXml xml);

    std::variant<std::string, bool, std::vector<PlistValue>, std::vector<PlistEntry>, PlistXml>
        value;
};

/// One key of a property list dictionary and its value.
struct PlistEntry {
    std::string key;
    PlistValue value;
};

namespace InfoPlist {

/// `text` with the five XML special characters replaced by their entities.
std::string xmlEscape(const std::string& text);

/// An XML property list of one dictionary holding `entries` in their order.
std::string plistText(const std::vector<PlistEntry>& entries);

/// The Info.plist entries of an application bundle: `version` is the short
/// version, `build` the bundle version, `minMacos` the minimum system version;
/// no icon entry when `iconFile` is empty.
std::vector<PlistEntry> bundleEntries(const std::string& name, const std::string& identifier,
                                      const std::string& version, const std::string& build,
                                      const std::string& minMacos, const std::string& iconFile);

/// What an application declares to the system beyond its name, as given on
/// the command line.
struct Declarations {
    std::vector<std::string> fileTypes;  ///< EXT=DESCRIPTION
    std::vector<std::string> urlSchemes; ///< SCHEME
    std::vector<std::string> usages;     ///< KIND=TEXT
    std::string category;                ///< NAME or public.app-category.NAME
    std::string copyright;
    bool agent = false;
};

/// The Info.plist entries of `d`: document types with an exported type each
/// (under `identifier`), URL types, usage descriptions, the category, the
/// copyright and LSUIElement. Throws with one line naming the option for a
/// malformed or repeated value or an unknown usage kind.
std::vector<PlistEntry> declarationEntries(const Declarations& d, const std::string& identifier);

/// The hardened-runtime entitlements the usage descriptions in `entries`
/// need (none for the kinds that need none).
std::vector<PlistEntry> usageEntitlements(const std::vector<PlistEntry>& entries);

/// The usage kinds `--usage` knows, comma-separated, for messages and help.
std::string usageKindNames();

/// `ours` with `theirs` merged in: a key of theirs replaces ours in place
/// (`replaced` is told its name), a new one is added at the end.
std::vector<PlistEntry> merge(std::vector<PlistEntry> ours, const std::vector<PlistEntry>& theirs,
                              const std::function<void(const std::string&)>& replaced);

/// The entitlements a Java runtime needs under the hardened runtime.
std::vector<PlistEntry> javaEntitlements();

/// The default CFBundleIdentifier for `name`: "app.kovalu." and the name with
/// each character other than an ASCII letter, digit, '.' or '-' replaced by
/// one '-'. Characters are read as UTF-8 whatever the locale; a byte that
/// starts no valid sequence counts as one character.
std::string defaultIdentifier(const std::string& name);

/// True when `text` is well-formed UTF-8, as a property list's text must be.
bool isValidUtf8(const std::string& text);

/// True for a version macOS reads as CFBundleShortVersionString: one to three
/// numbers separated by '.' (1, 1.2, 1.2.3).
bool isValidVersion(const std::string& version);

/// True for a non-empty identifier of only ASCII letters, digits, '.' and '-'.
bool isValidIdentifier(const std::string& identifier);

/// Compares two version numbers (`isValidVersion`) part by part, a missing
/// part counting as 0: negative, 0 or positive.
int compareVersions(const std::string& a, const std::string& b);

} // namespace InfoPlist

#endif
