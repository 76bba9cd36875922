#include "BundleOptions.h"

#include <algorithm>

#include "ErrorHandling.h"
#include "InfoPlist.h"

namespace {

using O = BundleOptions;

const char* const usageHead =
    "Usage: kovalu-bundle [--launcher FILE] --name NAME [--runtime JAVA_HOME]\n"
    "                     (--main-jar JAR | --main-class CLASS | --main-module MODULE[/CLASS])\n"
    "                     [OPTION]...\n"
    "       kovalu-bundle sign PATH.app --sign IDENTITY [--entitlements FILE]\n"
    "       kovalu-bundle notarize PATH (--keychain-profile NAME |\n"
    "                     --key FILE.p8 --key-id ID --issuer UUID) [--zip [FILE]]\n"
    "       kovalu-bundle verify PATH.app\n"
    "       kovalu-bundle version\n"
    "\n"
    "Writes NAME.app: Contents/MacOS/NAME (the launcher), Contents/app/NAME.cfg,\n"
    "the application files in Contents/app, Contents/Info.plist and the Java\n"
    "runtime in Contents/runtime.\n"
    "\n"
    "Commands:\n"
    "  sign PATH.app           signs an existing bundle in place, as --sign does\n"
    "  notarize PATH           submits a bundle, .zip or .dmg to Apple's notary\n"
    "                          service, waits, and staples the ticket to the bundle\n"
    "                          or disk image; with --zip, zips the stapled bundle\n"
    "  verify PATH.app         checks the bundle (or a .dmg) as Gatekeeper will:\n"
    "                          codesign --verify, spctl --assess, stapler validate\n"
    "  version                 prints the tool's version (also -V)\n"
    "\n"
    "Options:\n";

const char* const usageTail =
    "\n"
    "Relative paths of --main-jar, --class-path and --module-path are written as\n"
    "$APPDIR/PATH and must exist among the application files; absolute ones are\n"
    "written unchanged and must exist. The main class, given or named by the main\n"
    "jar's manifest, must be in the main jar or on the class path.\n";

const OptionEntry* findOption(const std::string& arg) {
    if (arg == "-h") {
        return findOption("--help");
    }
    if (arg == "-q") {
        return findOption("--quiet");
    }
    for (const OptionEntry& entry : optionTable()) {
        if (arg == entry.name) {
            return &entry;
        }
    }
    return nullptr;
}

void checkValue(const OptionEntry& entry, const std::string& value) {
    // The launcher's configuration is line-based: a line break inside a value
    // would silently become a second property.
    if (value.find('\n') != std::string::npos) {
        throw makeException(std::string(entry.name) + " must not contain a line break",
                            KV_SOURCE_CODE_POS);
    }
    // A property list parser refuses a file that is not UTF-8 as a whole.
    if (entry.text && !InfoPlist::isValidUtf8(value)) {
        throw makeException(std::string(entry.name) + " must be UTF-8 text", KV_SOURCE_CODE_POS);
    }
    // Info.plist cannot hold most control characters (XML forbids them).
    for (const char c : value) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (entry.text && (byte < 0x20 || byte == 0x7f)) {
            throw makeException(std::string(entry.name) + " must not contain control characters",
                                KV_SOURCE_CODE_POS);
        }
    }
}

struct Store {
    O& options;
    const std::string& value;

    void operator()(std::string O::*member) const { options.*member = value; }
    void operator()(std::optional<std::string> O::*member) const { options.*member = value; }
    void operator()(std::vector<std::string> O::*member) const {
        (options.*member).push_back(value);
    }
    void operator()(bool O::*member) const { options.*member = true; }
};

} // namespace

const std::vector<OptionEntry>& optionTable() {
    static const std::vector<OptionEntry> table{
        {"--launcher", "FILE",
         "the launcher executable (default: the applauncher\n"
         "beside the tool, or in ../libexec/kovalu)",
         false, &O::launcher},
        {"--name", "NAME", "the application name (a trailing .app is dropped)", true, &O::name},
        {"--runtime", "DIR",
         "a Java runtime home (or a macOS .jdk bundle): copied\n"
         "when it holds lib/libjli.dylib (macOS); when it holds\n"
         "lib/libjli.so (Linux) the bundle only links to that library\n"
         "(default: JAVA_HOME; on macOS, else /usr/libexec/java_home)",
         false, &O::runtime},
        {"--input", "PATH",
         "a jar, file or directory copied into Contents/app\n"
         "under its own name (repeatable)",
         false, &O::inputs},
        {"--main-jar", "JAR", "the main jar, relative to Contents/app", true, &O::mainJar},
        {"--main-class", "CLASS", "the main class", true, &O::mainClass},
        {"--main-module", "MODULE[/CLASS]", "the main module", true, &O::mainModule},
        {"--class-path", "ENTRY", "a class path entry relative to Contents/app (repeatable)", true,
         &O::classPath},
        {"--module-path", "ENTRY", "a module path entry relative to Contents/app (repeatable)",
         true, &O::modulePath},
        {"--java-option", "OPTION",
         "a Java option (repeatable); $APPDIR, $BINDIR and\n"
         "$ROOTDIR in it are replaced by the launcher",
         true, &O::javaOptions},
        {"--argument", "ARG",
         "a default application argument (repeatable); arguments\n"
         "given to the launcher replace all of them",
         true, &O::arguments},
        {"--splash", "IMAGE", "a splash image, copied into Contents/app", true, &O::splash},
        {"--package", "NAME",
         "the package name, written to Contents/app/.package; the\n"
         "launcher then reads NAME.cfg from\n"
         "~/Library/Application Support/NAME first",
         true, &O::package},
        {"--identifier", "ID", "CFBundleIdentifier (default: app.kovalu.NAME)", true,
         &O::identifier},
        {"--version", "VERSION",
         "the bundle version, CFBundleShortVersionString\n"
         "(default: 1.0)",
         true, &O::version},
        {"--build", "NUMBER", "CFBundleVersion, the build number (default: the version)",
         true, &O::build},
        {"--min-macos", "VERSION",
         "LSMinimumSystemVersion, 11.0 or later (the launcher's\n"
         "floor; default: 11.0)",
         true, &O::minMacos},
        {"--icon", "FILE.icns", "the application icon, copied into Contents/Resources", true,
         &O::icon},
        {"--sign", "IDENTITY",
         "sign every Mach-O file (also those inside the jars of\n"
         "Contents/app), then the launcher and the bundle, with\n"
         "codesign and the hardened runtime ('-' signs ad hoc)",
         false, &O::identity},
        {"--entitlements", "FILE",
         "the entitlements for the runtime's executables, the\n"
         "launcher and the bundle (with --sign; default: a file\n"
         "written as NAME.entitlements beside NAME.app, holding\n"
         "what a Java runtime and the --usage kinds need under\n"
         "the hardened runtime)",
         false, &O::entitlements},
        {"--output", "DIR", "where NAME.app is written, created if missing (default: .)", false,
         &O::output},
        {"--jlink", nullptr,
         "instead of copying or linking the runtime, write a\n"
         "runtime of only the modules the application needs\n"
         "with the runtime's bin/jlink; to those bin/jdeps finds\n"
         "it adds the modules applications reach only as\n"
         "services: jdk.crypto.ec (where the runtime has it),\n"
         "jdk.localedata and jdk.charsets (24 to 28 MiB)",
         false, &O::jlink},
        {"--jlink-minimal", nullptr,
         "with --jlink: leave out the service modules --jlink\n"
         "adds (elliptic-curve keys, locale data other than\n"
         "English, most charsets)",
         false, &O::jlinkMinimal},
        {"--add-modules", "LIST",
         "with --jlink: the modules to link (comma-separated); by\n"
         "default bin/jdeps finds them in the main jar, the class\n"
         "path and the module path",
         false, &O::addModules},
        {"--jmods", "DIR",
         "with --jlink: link from this jmods directory (another\n"
         "platform's JDK of the same Java version) instead",
         false, &O::jmods},
        {"--force", nullptr, "replace an existing NAME.app (and NAME.entitlements)", false,
         &O::force},
        {"--cds", nullptr,
         "writes app.cds=auto: the launcher keeps a class-data\n"
         "archive in ~/Library/Caches/<package or NAME> for a\n"
         "faster start",
         false, &O::cds},
        {"--train", nullptr,
         "with a runtime of Java 25 or later: also ships a\n"
         "start-up cache, trained by one launch of the bundle, so\n"
         "that the first launch is fast too (implies --cds)",
         false, &O::train},
        {"--train-argument", "ARG",
         "an argument of the training launch instead of the\n"
         "bundle's own (repeatable)",
         false, &O::trainArguments},
        {"--train-timeout", "SECONDS",
         "stop the training launch after this long (default 120)", false, &O::trainTimeout},
        {"--file-type", "EXT=TYPE[:ROLE[:RANK]]",
         "a document type the application opens (repeatable):\n"
         "TYPE is a description of its own type, exported under\n"
         "the identifier (rank Owner), or the identifier of a\n"
         "known type such as public.plain-text, imported (rank\n"
         "Alternate); ROLE Editor (default), Viewer, Shell or\n"
         "None; RANK Owner, Default, Alternate or None",
         true, &O::fileTypes},
        {"--url-scheme", "SCHEME", "a URL scheme the application opens (repeatable)", true,
         &O::urlSchemes},
        {"--usage", "KIND=TEXT",
         "why the application asks for access to KIND: camera,\n"
         "microphone, location, contacts, calendars, photos,\n"
         "apple-events, desktop, documents or downloads; with\n"
         "--sign the default entitlements allow it (repeatable)",
         true, &O::usages},
        {"--category", "NAME", "LSApplicationCategoryType, e.g. developer-tools", true,
         &O::category},
        {"--copyright", "TEXT", "NSHumanReadableCopyright", true, &O::copyright},
        {"--agent", nullptr, "LSUIElement: no Dock icon and no menu bar", false, &O::agent},
        {"--info-plist", "FILE",
         "an XML property list whose keys are added to\n"
         "Info.plist, replacing those of the same name",
         false, &O::infoPlist},
        {"--zip", "[FILE]", "also write NAME-VERSION.zip (or FILE) holding NAME.app", false,
         &O::zip},
        {"--dmg", "[FILE]",
         "also write the disk image NAME-VERSION.dmg (or FILE, with\n"
         "hdiutil) holding NAME.app and a link to /Applications;\n"
         "signed with --sign",
         false, &O::dmg},
        {"--notarize", nullptr,
         "with --sign (a Developer ID): submit the bundle to\n"
         "Apple's notary service and staple the ticket to it\n"
         "before the zip is written; the disk image too",
         false, &O::notarize},
        {"--keychain-profile", "NAME",
         "notary credentials stored with xcrun notarytool\n"
         "store-credentials",
         true, &O::keychainProfile},
        {"--key", "FILE.p8",
         "or an App Store Connect API key (what CI uses), with\n"
         "--key-id and --issuer",
         false, &O::apiKey},
        {"--key-id", "ID", "the API key's ID", true, &O::apiKeyId},
        {"--issuer", "UUID", "the API key's issuer", true, &O::apiIssuer},
        {"--quiet", nullptr, "no step lines: only errors, warnings and the result\n(also -q)",
         false, &O::quiet},
        {"--help", nullptr, "this text (also -h)", false, &O::help},
    };
    return table;
}

BundleOptions parseOptions(const std::vector<std::string>& args) {
    BundleOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const OptionEntry* entry = findOption(args[i]);
        if (!entry) {
            throw makeException("unknown option: " + args[i] + " (try --help)", KV_SOURCE_CODE_POS);
        }
        if (!entry->valueName) {
            std::visit(Store{options, args[i]}, entry->target);
            continue;
        }
        if (entry->valueName[0] == '[' && (i + 1 == args.size() || args[i + 1][0] == '-')) {
            std::visit(Store{options, std::string()}, entry->target);
            continue;
        }
        if (i + 1 == args.size()) {
            throw makeException(args[i] + " needs a value", KV_SOURCE_CODE_POS);
        }
        const std::string& value = args[++i];
        checkValue(*entry, value);
        std::visit(Store{options, value}, entry->target);
    }
    return options;
}

BundleOptions parseCommandOptions(const std::string& command,
                                  const std::vector<std::string>& args) {
    static const std::vector<std::pair<std::string, std::vector<std::string>>> allowed{
        {"sign", {"--sign", "--entitlements", "--quiet"}},
        {"notarize", {"--keychain-profile", "--key", "--key-id", "--issuer", "--zip", "--force",
                      "--quiet"}},
        {"verify", {}},
    };
    std::vector<std::string> names;
    for (const auto& [name, options] : allowed) {
        if (name == command) {
            names = options;
        }
    }
    if (args.empty() || args[0].empty() || args[0][0] == '-') {
        BundleOptions options = parseOptions(args);
        if (options.help) {
            return options;
        }
        throw makeException(command + " needs the path of a " +
                                (command == "notarize" ? "bundle, zip or disk image" : "bundle") +
                                " first",
                            KV_SOURCE_CODE_POS);
    }
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    for (std::size_t i = 0; i < rest.size(); ++i) {
        const OptionEntry* entry = findOption(rest[i]);
        const std::string name = entry ? entry->name : rest[i];
        if (name != "--help" && std::find(names.begin(), names.end(), name) == names.end()) {
            const std::string takes =
                names.empty() ? std::string("no options")
                              : "only " + tstrings::join(names.begin(), names.end() - 1, ", ") +
                                    (names.size() > 1 ? " and " : "") + names.back();
            throw makeException(command + " takes " + takes + ": " + rest[i], KV_SOURCE_CODE_POS);
        }
        const bool optionalValue = entry->valueName && entry->valueName[0] == '[';
        i += entry->valueName && (!optionalValue || (i + 1 < rest.size() && rest[i + 1][0] != '-'))
                 ? 1
                 : 0;
    }
    BundleOptions options = parseOptions(rest);
    options.bundle = args[0];
    return options;
}

BundleOptions parseSignOptions(const std::vector<std::string>& args) {
    return parseCommandOptions("sign", args);
}

std::string usageText() {
    const std::size_t column = 26;
    std::string text = usageHead;
    for (const OptionEntry& entry : optionTable()) {
        std::string head = std::string("  ") + entry.name;
        if (entry.valueName) {
            head += std::string(" ") + entry.valueName;
        }
        head = head.size() + 2 > column ? head + "\n" + std::string(column, ' ')
                                        : head + std::string(column - head.size(), ' ');
        std::string help = entry.help;
        for (std::size_t at = 0; (at = help.find('\n', at)) != std::string::npos; at += column) {
            help.insert(at + 1, std::string(column, ' '));
        }
        text += head + help + "\n";
    }
    return text + usageTail;
}
