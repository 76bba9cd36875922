#include "InfoPlist.h"

#include <algorithm>
#include <iterator>

#include "ErrorHandling.h"
#include "tstrings.h"

PlistValue::PlistValue(const char* text) : value(std::string(text)) {}
PlistValue::PlistValue(std::string text) : value(std::move(text)) {}
PlistValue::PlistValue(bool flag) : value(flag) {}
PlistValue::PlistValue(std::vector<PlistValue> array) : value(std::move(array)) {}
PlistValue::PlistValue(std::vector<PlistEntry> dict) : value(std::move(dict)) {}
PlistValue::PlistValue(PlistXml xml) : value(std::move(xml)) {}

namespace {

struct UsageKind {
    const char* kind;
    const char* key;
    const char* entitlement; ///< empty when none is needed outside the sandbox
};

const UsageKind usageKinds[] = {
    {"camera", "NSCameraUsageDescription", "com.apple.security.device.camera"},
    {"microphone", "NSMicrophoneUsageDescription", "com.apple.security.device.audio-input"},
    {"location", "NSLocationUsageDescription", "com.apple.security.personal-information.location"},
    {"contacts", "NSContactsUsageDescription",
     "com.apple.security.personal-information.addressbook"},
    {"calendars", "NSCalendarsUsageDescription",
     "com.apple.security.personal-information.calendars"},
    {"photos", "NSPhotoLibraryUsageDescription",
     "com.apple.security.personal-information.photos-library"},
    {"apple-events", "NSAppleEventsUsageDescription", "com.apple.security.automation.apple-events"},
    {"desktop", "NSDesktopFolderUsageDescription", ""},
    {"documents", "NSDocumentsFolderUsageDescription", ""},
    {"downloads", "NSDownloadsFolderUsageDescription", ""},
};

const char* const categoryPrefix = "public.app-category.";

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

/// `name` with each character other than an ASCII letter, digit, '.' or '-'
/// replaced by one '-'.
std::string identifierPart(const std::string& name) {
    std::string result;
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

/// Splits "A=B" at its first '='; throws naming `option` when either side is empty.
std::pair<std::string, std::string> splitPair(const std::string& value, const std::string& option,
                                              const std::string& form) {
    const std::size_t eq = value.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == value.size()) {
        fail(option + " needs " + form + ": " + value, KV_SOURCE_CODE_POS);
    }
    return {value.substr(0, eq), value.substr(eq + 1)};
}

void checkUnique(std::vector<std::string>& seen, const std::string& value,
                 const std::string& option) {
    if (std::find(seen.begin(), seen.end(), value) != seen.end()) {
        fail(option + " names " + value + " twice", KV_SOURCE_CODE_POS);
    }
    seen.push_back(value);
}

bool isOneOf(const std::string& word, std::initializer_list<const char*> words) {
    return std::any_of(words.begin(), words.end(), [&](const char* w) { return word == w; });
}

/// A type the system or another application declares, named by its
/// identifier (public.plain-text, com.adobe.pdf): two or more dot-separated
/// parts of letters, digits and '-'.
bool isTypeIdentifier(const std::string& text) {
    std::vector<std::string> parts;
    tstrings::split(parts, text, ".");
    return parts.size() >= 2 && std::all_of(parts.begin(), parts.end(), [](const std::string& p) {
               return !p.empty() && std::all_of(p.begin(), p.end(), [](char c) {
                   return c != '.' && isIdentifierChar(static_cast<unsigned char>(c));
               });
           });
}

/// One --file-type value: EXT=TYPE[:ROLE[:RANK]], TYPE being a description
/// of the application's own type or the identifier of a known one.
struct FileType {
    std::string ext;
    std::string type;
    std::string role;
    std::string rank;
    bool known;
};

const std::initializer_list<const char*> roles{"Editor", "Viewer", "Shell", "None"};
const std::initializer_list<const char*> ranks{"Owner", "Default", "Alternate", "None"};

FileType parseFileType(const std::string& value) {
    const auto [ext, rest] =
        splitPair(value, "--file-type", "EXT=DESCRIPTION or EXT=TYPE.IDENTIFIER[:ROLE[:RANK]]");
    if (ext[0] == '.' || ext.find('/') != std::string::npos) {
        fail("--file-type needs an extension without '.' or '/' in front of '=': " + value,
             KV_SOURCE_CODE_POS);
    }
    FileType t{ext, rest, "", "", false};
    // ROLE and RANK are taken only when they are among the words the system
    // knows, so that a description may hold a ':' of its own.
    std::vector<std::string> parts;
    tstrings::split(parts, rest, ":");
    if (parts.size() >= 3 && isOneOf(parts[parts.size() - 2], roles) &&
        isOneOf(parts.back(), ranks)) {
        t.rank = parts.back();
        t.role = parts[parts.size() - 2];
    } else if (parts.size() >= 2 && isOneOf(parts.back(), roles)) {
        t.role = parts.back();
    }
    const std::size_t cut = (t.role.empty() ? 0 : t.role.size() + 1) +
                            (t.rank.empty() ? 0 : t.rank.size() + 1);
    t.type = rest.substr(0, rest.size() - cut);
    if (t.type.empty()) {
        fail("--file-type needs a description or type identifier before the role: " + value,
             KV_SOURCE_CODE_POS);
    }
    t.known = isTypeIdentifier(t.type);
    // A type the system already knows is opened, not owned.
    t.role = t.role.empty() ? "Editor" : t.role;
    t.rank = t.rank.empty() ? (t.known ? "Alternate" : "Owner") : t.rank;
    return t;
}

PlistValue typeDeclaration(const std::string& uti, const std::string& description,
                           const std::string& ext) {
    std::vector<PlistEntry> declared{{"UTTypeIdentifier", uti}};
    if (!description.empty()) {
        declared.push_back({"UTTypeDescription", description});
        declared.push_back({"UTTypeConformsTo", std::vector<PlistValue>{"public.data"}});
    }
    declared.push_back(
        {"UTTypeTagSpecification",
         std::vector<PlistEntry>{{"public.filename-extension", std::vector<PlistValue>{ext}}}});
    return declared;
}

void addFileTypes(const std::vector<std::string>& given, const std::string& identifier,
                  std::vector<PlistEntry>& entries) {
    std::vector<PlistValue> documents;
    std::vector<PlistValue> exported;
    std::vector<PlistValue> imported;
    std::vector<std::string> seen;
    for (const std::string& value : given) {
        const FileType t = parseFileType(value);
        checkUnique(seen, tstrings::toLower(t.ext), "--file-type");
        const std::string uti = t.known ? t.type : identifier + "." + identifierPart(t.ext);
        documents.push_back(std::vector<PlistEntry>{
            {"CFBundleTypeName", t.type},
            {"CFBundleTypeRole", t.role},
            {"LSHandlerRank", t.rank},
            {"LSItemContentTypes", std::vector<PlistValue>{uti}}});
        if (t.known) {
            imported.push_back(typeDeclaration(uti, "", t.ext));
        } else {
            exported.push_back(typeDeclaration(uti, t.type, t.ext));
        }
    }
    if (!documents.empty()) {
        entries.push_back({"CFBundleDocumentTypes", documents});
    }
    if (!exported.empty()) {
        entries.push_back({"UTExportedTypeDeclarations", exported});
    }
    if (!imported.empty()) {
        entries.push_back({"UTImportedTypeDeclarations", imported});
    }
}

bool isSchemeChar(char c, bool first) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    return letter || (!first && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
}

void addUrlSchemes(const std::vector<std::string>& given, const std::string& identifier,
                   std::vector<PlistEntry>& entries) {
    std::vector<PlistValue> types;
    std::vector<std::string> seen;
    for (const std::string& scheme : given) {
        bool valid = !scheme.empty();
        for (std::size_t i = 0; valid && i < scheme.size(); ++i) {
            valid = isSchemeChar(scheme[i], i == 0);
        }
        if (!valid) {
            fail("--url-scheme needs a letter followed by letters, digits, '+', '-' or '.': " +
                     scheme,
                 KV_SOURCE_CODE_POS);
        }
        checkUnique(seen, tstrings::toLower(scheme), "--url-scheme");
        types.push_back(std::vector<PlistEntry>{
            {"CFBundleURLName", identifier + "." + identifierPart(scheme)},
            {"CFBundleURLSchemes", std::vector<PlistValue>{scheme}}});
    }
    if (!types.empty()) {
        entries.push_back({"CFBundleURLTypes", types});
    }
}

void addUsages(const std::vector<std::string>& given, std::vector<PlistEntry>& entries) {
    std::vector<std::string> seen;
    for (const std::string& value : given) {
        const std::pair<std::string, std::string> kindAndText =
            splitPair(value, "--usage", "KIND=TEXT");
        const std::string& kind = kindAndText.first;
        const auto known = std::find_if(std::begin(usageKinds), std::end(usageKinds),
                                        [&](const UsageKind& u) { return kind == u.kind; });
        if (known == std::end(usageKinds)) {
            fail("--usage: unknown kind " + kind + " (known: " + InfoPlist::usageKindNames() + ")",
                 KV_SOURCE_CODE_POS);
        }
        checkUnique(seen, kind, "--usage");
        entries.push_back({known->key, kindAndText.second});
    }
}

// The categories the App Store and the Finder know; any other is ignored.
const char* const categories[] = {"business",
                                  "developer-tools",
                                  "education",
                                  "entertainment",
                                  "finance",
                                  "games",
                                  "graphics-design",
                                  "healthcare-fitness",
                                  "lifestyle",
                                  "medical",
                                  "music",
                                  "news",
                                  "photography",
                                  "productivity",
                                  "reference",
                                  "social-networking",
                                  "sports",
                                  "travel",
                                  "utilities",
                                  "video",
                                  "weather",
                                  "action-games",
                                  "adventure-games",
                                  "arcade-games",
                                  "board-games",
                                  "card-games",
                                  "casino-games",
                                  "dice-games",
                                  "educational-games",
                                  "family-games",
                                  "kids-games",
                                  "music-games",
                                  "puzzle-games",
                                  "racing-games",
                                  "role-playing-games",
                                  "simulation-games",
                                  "sports-games",
                                  "strategy-games",
                                  "trivia-games",
                                  "word-games"};

std::string categoryValue(const std::string& given) {
    const std::string name = tstrings::startsWith(given, categoryPrefix)
                                 ? given.substr(std::string(categoryPrefix).size())
                                 : given;
    bool valid = !name.empty();
    for (const char c : name) {
        valid = valid && ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-');
    }
    if (!valid) {
        fail("--category needs a name of lower-case letters, digits and '-' (such as "
             "developer-tools): " +
                 given,
             KV_SOURCE_CODE_POS);
    }
    if (std::find(std::begin(categories), std::end(categories), name) == std::end(categories)) {
        fail("--category is none of the categories macOS knows (business, developer-tools, "
             "games, productivity, utilities, ...): " +
                 given,
             KV_SOURCE_CODE_POS);
    }
    return categoryPrefix + name;
}

void render(const PlistValue& v, const std::string& indent, std::string& text);

void renderEntries(const std::vector<PlistEntry>& entries, const std::string& indent,
                   std::string& text) {
    for (const PlistEntry& entry : entries) {
        text += indent + "<key>" + InfoPlist::xmlEscape(entry.key) + "</key>\n";
        render(entry.value, indent, text);
    }
}

void render(const PlistValue& v, const std::string& indent, std::string& text) {
    if (const std::string* s = std::get_if<std::string>(&v.value)) {
        text += indent + "<string>" + InfoPlist::xmlEscape(*s) + "</string>\n";
    } else if (const bool* b = std::get_if<bool>(&v.value)) {
        text += indent + (*b ? "<true/>\n" : "<false/>\n");
    } else if (const auto* array = std::get_if<std::vector<PlistValue>>(&v.value)) {
        text += indent + "<array>\n";
        for (const PlistValue& item : *array) {
            render(item, indent + "  ", text);
        }
        text += indent + "</array>\n";
    } else if (const auto* dict = std::get_if<std::vector<PlistEntry>>(&v.value)) {
        text += indent + "<dict>\n";
        renderEntries(*dict, indent + "  ", text);
        text += indent + "</dict>\n";
    } else {
        text += indent + std::get<PlistXml>(v.value).text + "\n";
    }
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
    renderEntries(entries, "  ", text);
    return text + "</dict>\n</plist>\n";
}

std::vector<PlistEntry> bundleEntries(const std::string& name, const std::string& identifier,
                                      const std::string& version, const std::string& build,
                                      const std::string& minMacos, const std::string& iconFile) {
    // Mixed localizations: the application menu follows the user's language
    // although the bundle holds no .lproj folders.
    std::vector<PlistEntry> entries{{"CFBundleAllowMixedLocalizations", true},
                                    {"CFBundleDevelopmentRegion", "en"},
                                    {"CFBundleExecutable", name}};
    if (!iconFile.empty()) {
        entries.push_back({"CFBundleIconFile", iconFile});
    }
    entries.insert(entries.end(), {{"CFBundleIdentifier", identifier},
                                   {"CFBundleInfoDictionaryVersion", "6.0"},
                                   {"CFBundleName", name},
                                   {"CFBundlePackageType", "APPL"},
                                   {"CFBundleShortVersionString", version},
                                   {"CFBundleVersion", build},
                                   {"LSMinimumSystemVersion", minMacos},
                                   {"NSHighResolutionCapable", true}});
    return entries;
}

std::vector<PlistEntry> declarationEntries(const Declarations& d, const std::string& identifier) {
    std::vector<PlistEntry> entries;
    addFileTypes(d.fileTypes, identifier, entries);
    addUrlSchemes(d.urlSchemes, identifier, entries);
    addUsages(d.usages, entries);
    if (!d.category.empty()) {
        entries.push_back({"LSApplicationCategoryType", categoryValue(d.category)});
    }
    if (!d.copyright.empty()) {
        entries.push_back({"NSHumanReadableCopyright", d.copyright});
    }
    if (d.agent) {
        entries.push_back({"LSUIElement", true});
    }
    return entries;
}

std::vector<PlistEntry> usageEntitlements(const std::vector<PlistEntry>& entries) {
    std::vector<PlistEntry> result;
    for (const UsageKind& u : usageKinds) {
        const bool used = std::any_of(entries.begin(), entries.end(),
                                      [&](const PlistEntry& e) { return e.key == u.key; });
        if (used && *u.entitlement) {
            result.push_back({u.entitlement, true});
        }
    }
    return result;
}

std::string usageKindNames() {
    std::string names;
    for (const UsageKind& u : usageKinds) {
        names += (names.empty() ? "" : ", ") + std::string(u.kind);
    }
    return names;
}

std::vector<PlistEntry> merge(std::vector<PlistEntry> ours, const std::vector<PlistEntry>& theirs,
                              const std::function<void(const std::string&)>& replaced) {
    for (const PlistEntry& entry : theirs) {
        const auto same = std::find_if(ours.begin(), ours.end(),
                                       [&](const PlistEntry& e) { return e.key == entry.key; });
        if (same == ours.end()) {
            ours.push_back(entry);
            continue;
        }
        replaced(entry.key);
        same->value = entry.value;
    }
    return ours;
}

std::vector<PlistEntry> javaEntitlements() {
    return {{"com.apple.security.cs.allow-jit", true},
            {"com.apple.security.cs.allow-unsigned-executable-memory", true},
            {"com.apple.security.cs.disable-library-validation", true},
            {"com.apple.security.cs.allow-dyld-environment-variables", true}};
}

std::string defaultIdentifier(const std::string& name) {
    return "app.kovalu." + identifierPart(name);
}

bool isValidUtf8(const std::string& text) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = utf8Length(text, at);
        if (length == 1 && static_cast<unsigned char>(text[at]) >= 0x80) {
            return false;
        }
        at += length;
    }
    return true;
}

bool isValidVersion(const std::string& version) {
    std::vector<std::string> parts;
    tstrings::split(parts, version, ".");
    return !parts.empty() && parts.size() <= 3 && version.back() != '.' &&
           std::all_of(parts.begin(), parts.end(), [](const std::string& p) {
               return !p.empty() && p.size() <= 9 &&
                      std::all_of(p.begin(), p.end(), [](char c) { return c >= '0' && c <= '9'; });
           });
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

int compareVersions(const std::string& a, const std::string& b) {
    std::vector<std::string> x;
    std::vector<std::string> y;
    tstrings::split(x, a, ".");
    tstrings::split(y, b, ".");
    for (std::size_t i = 0; i < std::max(x.size(), y.size()); ++i) {
        const long p = i < x.size() ? std::stol(x[i]) : 0;
        const long q = i < y.size() ? std::stol(y[i]) : 0;
        if (p != q) {
            return p < q ? -1 : 1;
        }
    }
    return 0;
}

} // namespace InfoPlist
