#include "InfoPlist.h"

namespace {

bool isIdentifierChar(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '.' || c == '-';
}

/// The length of the valid UTF-8 sequence starting at `at`, or 1 when none does.
std::size_t utf8Length(const std::string& text, std::size_t at) {
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = lead >= 0xf0 && lead <= 0xf4   ? 4
                               : lead >= 0xe0 && lead < 0xf0 ? 3
                               : lead >= 0xc2 && lead < 0xe0 ? 2
                                                             : 1;
    if (length == 1 || at + length > text.size()) {
        return 1;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(text[at + i]) & 0xc0) != 0x80) {
            return 1;
        }
    }
    return length;
}

} // namespace

namespace InfoPlist {

std::string xmlEscape(const std::string& text) {
    std::string result;
    for (const char c : text) {
        switch (c) {
        case '&': result += "&amp;"; break;
        case '<': result += "&lt;"; break;
        case '>': result += "&gt;"; break;
        case '"': result += "&quot;"; break;
        case '\'': result += "&apos;"; break;
        default: result += c;
        }
    }
    return result;
}

std::string plistText(const std::vector<PlistEntry>& entries) {
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                       "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                       "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                       "<plist version=\"1.0\">\n"
                       "<dict>\n";
    for (const PlistEntry& entry : entries) {
        text += "  <key>" + xmlEscape(entry.key) + "</key>\n";
        if (const std::string* s = std::get_if<std::string>(&entry.value)) {
            text += "  <string>" + xmlEscape(*s) + "</string>\n";
        } else {
            text += std::get<bool>(entry.value) ? "  <true/>\n" : "  <false/>\n";
        }
    }
    return text + "</dict>\n</plist>\n";
}

std::vector<PlistEntry> bundleEntries(const std::string& name, const std::string& identifier,
                                      const std::string& version, const std::string& iconFile) {
    std::vector<PlistEntry> entries{{"CFBundleDevelopmentRegion", "en"},
                                    {"CFBundleExecutable", name}};
    if (!iconFile.empty()) {
        entries.push_back({"CFBundleIconFile", iconFile});
    }
    entries.insert(entries.end(), {{"CFBundleIdentifier", identifier},
                                   {"CFBundleInfoDictionaryVersion", "6.0"},
                                   {"CFBundleName", name},
                                   {"CFBundlePackageType", "APPL"},
                                   {"CFBundleShortVersionString", version},
                                   {"CFBundleVersion", version},
                                   {"LSMinimumSystemVersion", "11.0"},
                                   {"NSHighResolutionCapable", true}});
    return entries;
}

std::vector<PlistEntry> javaEntitlements() {
    return {{"com.apple.security.cs.allow-jit", true},
            {"com.apple.security.cs.allow-unsigned-executable-memory", true},
            {"com.apple.security.cs.disable-library-validation", true},
            {"com.apple.security.cs.allow-dyld-environment-variables", true}};
}

std::string defaultIdentifier(const std::string& name) {
    std::string result = "app.kovalu.";
    for (std::size_t at = 0; at < name.size();) {
        const unsigned char c = static_cast<unsigned char>(name[at]);
        if (isIdentifierChar(c)) {
            result += name[at++];
            continue;
        }
        result += '-';
        at += utf8Length(name, at);
    }
    return result;
}

bool isValidIdentifier(const std::string& identifier) {
    if (identifier.empty()) {
        return false;
    }
    for (const char c : identifier) {
        if (!isIdentifierChar(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

} // namespace InfoPlist
