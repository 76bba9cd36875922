#ifndef KOVALU_INFOPLIST_H
#define KOVALU_INFOPLIST_H

#include <string>
#include <variant>
#include <vector>

/// One key of a property list dictionary and its string or boolean value.
struct PlistEntry {
    std::string key;
    std::variant<std::string, bool> value;
};

namespace InfoPlist {

/// `text` with the five XML special characters replaced by their entities.
std::string xmlEscape(const std::string& text);

/// An XML property list of one dictionary holding `entries` in their order.
std::string plistText(const std::vector<PlistEntry>& entries);

/// The Info.plist entries of an application bundle; no icon entry when
/// `iconFile` is empty.
std::vector<PlistEntry> bundleEntries(const std::string& name, const std::string& identifier,
                                      const std::string& version, const std::string& iconFile);

/// The entitlements a Java runtime needs under the hardened runtime.
std::vector<PlistEntry> javaEntitlements();

/// The default CFBundleIdentifier for `name`: "app.kovalu." and the name with
/// each character other than an ASCII letter, digit, '.' or '-' replaced by
/// one '-'. Characters are read as UTF-8 whatever the locale; a byte that
/// starts no valid sequence counts as one character.
std::string defaultIdentifier(const std::string& name);

/// True for a non-empty identifier of only ASCII letters, digits, '.' and '-'.
bool isValidIdentifier(const std::string& identifier);

} // namespace InfoPlist

#endif
