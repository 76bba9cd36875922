#include "Notarization.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "BundleFiles.h"
#include "Distribution.h"
#include "ErrorHandling.h"
#include "FileUtils.h"
#include "JsonReader.h"
#include "PlistReader.h"
#include "Subprocess.h"
#include "ToolDefaults.h"
#include "tstrings.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> notarytool(const Notarization::Notary& n,
                                    std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {n.xcrun, "notarytool"});
    arguments.insert(arguments.end(), n.credentials.begin(), n.credentials.end());
    return arguments;
}

// Why a submission failed, printed before the one error line: the log's
// issues, or why there is no log.
void reportLog(const Notarization::Notary& n, Progress& progress, const std::string& id) {
    const ProgramResult log = Subprocess::run(notarytool(n, {"log", id}));
    std::vector<std::string> issues;
    try {
        issues = Notarization::readIssues(log.out);
    } catch (const KvErrorBase&) {
        progress.error("kovalu-bundle: cannot fetch the notary's log: " +
                         Notarization::reason(log.err + log.out, ""));
        return;
    }
    for (const std::string& issue : issues) {
        progress.error(issue);
    }
}

// The short version in the bundle's Info.plist, for the download's name.
std::string bundleVersion(const std::string& app) {
    std::ifstream in(app + "/Contents/Info.plist", std::ios::binary);
    const std::string xml((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    try {
        for (const PlistEntry& e : PlistReader::topLevel(xml)) {
            const PlistXml* value = std::get_if<PlistXml>(&e.value.value);
            if (e.key == "CFBundleShortVersionString" && value &&
                tstrings::startsWith(value->text, "<string>")) {
                const std::string text = value->text.substr(8, value->text.rfind("</string>") - 8);
                return FileUtils::isPlainName(text) ? text : std::string();
            }
        }
    } catch (const KvErrorBase&) {
    }
    return std::string();
}

std::string zipAfterStapling(const BundleOptions& o, const std::string& app) {
    const std::string base = FileUtils::basename(app);
    const std::string name = base.substr(0, base.size() - 4);
    const std::string target = ToolDefaults::downloadPath(
        FileUtils::dirname(fs::absolute(app).string()), name, bundleVersion(app),
        o.zip->empty() ? *o.zip : fs::absolute(*o.zip).lexically_normal().string(), ".zip");
    std::error_code ec;
    if (fs::exists(fs::symlink_status(target, ec)) && !o.force) {
        fail(target + " already exists (use --force to replace it)", KV_SOURCE_CODE_POS);
    }
    BundleFiles::TempPath staged;
    staged.reset(BundleFiles::makeUniqueDir(FileUtils::dirname(target) + "/.zip."));
    const std::string zip = staged.get() + "/" + FileUtils::basename(target);
    Distribution::makeZip(fs::absolute(app).string(), zip, target);
    if (const int error = BundleFiles::renamePath(zip, target)) {
        fail("cannot move " + target + " into place: " + BundleFiles::errorText(error),
             KV_SOURCE_CODE_POS);
    }
    return target;
}

} // namespace

namespace Notarization {

bool hasCredentials(const BundleOptions& o) {
    return !o.keychainProfile.empty() || !o.apiKey.empty() || !o.apiKeyId.empty() ||
           !o.apiIssuer.empty();
}

std::vector<std::string> credentialArguments(const BundleOptions& o) {
    const bool apiKey = !o.apiKey.empty() || !o.apiKeyId.empty() || !o.apiIssuer.empty();
    if (!o.keychainProfile.empty() && apiKey) {
        fail("give --keychain-profile, or --key, --key-id and --issuer, not both",
             KV_SOURCE_CODE_POS);
    }
    if (!o.keychainProfile.empty()) {
        return {"--keychain-profile", o.keychainProfile};
    }
    if (!apiKey) {
        fail("notarization needs --keychain-profile NAME (made once with xcrun notarytool "
             "store-credentials), or --key FILE.p8 with --key-id ID and --issuer UUID",
             KV_SOURCE_CODE_POS);
    }
    std::vector<std::string> missing;
    for (const auto& [value, option] : {std::pair{&o.apiKey, "--key"},
                                        std::pair{&o.apiKeyId, "--key-id"},
                                        std::pair{&o.apiIssuer, "--issuer"}}) {
        if (value->empty()) {
            missing.push_back(option);
        }
    }
    if (!missing.empty()) {
        fail("--key, --key-id and --issuer go together: missing " +
             tstrings::join(missing.begin(), missing.end(), " and "), KV_SOURCE_CODE_POS);
    }
    std::error_code ec;
    if (!fs::is_regular_file(o.apiKey, ec)) {
        fail("API key file not found: " + o.apiKey, KV_SOURCE_CODE_POS);
    }
    return {"--key", o.apiKey, "--key-id", o.apiKeyId, "--issuer", o.apiIssuer};
}

std::string findXcrun() {
    const std::string xcrun = Subprocess::findOnPath("xcrun");
    if (xcrun.empty()) {
        fail("notarization needs xcrun, which is not on the PATH (it comes with Xcode's "
             "command line tools)", KV_SOURCE_CODE_POS);
    }
    return xcrun;
}

Submission readSubmission(const std::string& json) {
    const JsonValue answer = JsonReader::parse(json);
    if (answer.kind != JsonValue::Kind::Object) {
        fail("notarytool answered no JSON object", KV_SOURCE_CODE_POS);
    }
    return {answer.stringMember("id"), answer.stringMember("status"),
            answer.stringMember("message")};
}

std::vector<std::string> readIssues(const std::string& logJson) {
    const JsonValue log = JsonReader::parse(logJson);
    std::vector<std::string> lines;
    const JsonValue* issues = log.member("issues");
    if (issues && issues->kind == JsonValue::Kind::Array) {
        for (const JsonValue& issue : issues->items) {
            lines.push_back(issue.stringMember("path") + ": " + issue.stringMember("message"));
        }
    }
    if (lines.empty() && !log.stringMember("statusSummary").empty()) {
        lines.push_back(log.stringMember("statusSummary"));
    }
    return lines;
}

std::string reason(const std::string& output, const std::string& path) {
    std::vector<std::string> lines;
    tstrings::split(lines, output, "\n", tstrings::DropEmptyPieces);
    std::vector<std::string> kept;
    for (std::string line : lines) {
        if (tstrings::startsWith(line, "Processing: ")) {
            continue;
        }
        if (!path.empty() && tstrings::startsWith(line, path + ": ")) {
            line = line.substr(path.size() + 2);
        }
        kept.push_back(line);
    }
    return kept.empty() ? std::string("no output")
                        : tstrings::join(kept.begin(), kept.end(), "; ");
}

Notary planFor(const BundleOptions& o) {
    if (!o.notarize) {
        fail("--keychain-profile, --key, --key-id and --issuer need --notarize",
             KV_SOURCE_CODE_POS);
    }
    if (o.identity.empty()) {
        fail("--notarize needs --sign with a Developer ID Application identity",
             KV_SOURCE_CODE_POS);
    }
    if (o.identity == "-") {
        fail("--notarize needs a Developer ID Application identity: the notary service refuses "
             "an ad hoc signature (--sign -)", KV_SOURCE_CODE_POS);
    }
    std::vector<std::string> credentials = credentialArguments(o);
    const std::string xcrun = findXcrun();
    if (Subprocess::findOnPath("ditto").empty() && Subprocess::findOnPath("zip").empty()) {
        fail("--notarize needs ditto or zip, neither of which is on the PATH", KV_SOURCE_CODE_POS);
    }
    return Notary{xcrun, std::move(credentials)};
}

void submit(const Notary& n, Progress& progress, const std::string& file,
            const std::string& shownAs) {
    Progress::Step step = progress.step("Submitting " + shownAs + " for notarization");
    const ProgramResult r = Subprocess::run(
        notarytool(n, {"submit", file, "--wait", "--output-format", "json"}));
    Submission answer;
    try {
        answer = readSubmission(r.out);
    } catch (const KvErrorBase&) {
        fail("notarytool failed on " + shownAs + ": " + reason(r.err + r.out, ""),
             KV_SOURCE_CODE_POS);
    }
    if (answer.status == "Accepted") {
        step.done(answer.status);
        return;
    }
    if (answer.status.empty()) {
        fail("notarytool failed on " + shownAs + ": " +
             (answer.message.empty() ? reason(r.err, "") : answer.message), KV_SOURCE_CODE_POS);
    }
    step.done(answer.status);
    if (!answer.id.empty()) {
        reportLog(n, progress, answer.id);
    }
    fail("the notary service found " + shownAs + " " + answer.status + ": " + answer.message +
         " (submission " + answer.id + ")", KV_SOURCE_CODE_POS);
}

void staple(const Notary& n, Progress& progress, const std::string& path,
            const std::string& shownAs) {
    Progress::Step step = progress.step("Stapling the ticket to " + shownAs);
    const ProgramResult r = Subprocess::run({n.xcrun, "stapler", "staple", path});
    if (r.status != 0) {
        fail("stapler failed on " + shownAs + ": " + reason(r.out + r.err, path),
             KV_SOURCE_CODE_POS);
    }
    step.done();
}

void notarizeApp(const Notary& n, Progress& progress, const std::string& app,
                 const std::string& shownAs) {
    // notarytool takes no bare bundle: it goes as a zip that keeps its parent.
    const std::string base = FileUtils::basename(app);
    BundleFiles::TempPath folder;
    folder.reset(BundleFiles::makeUniqueDir(FileUtils::dirname(app) + "/.notarize."));
    const std::string zip = folder.get() + "/" + base.substr(0, base.size() - 4) + ".zip";
    {
        Progress::Step step =
            progress.step("Zipping " + FileUtils::basename(shownAs) + " for the notary service");
        Distribution::makeZip(app, zip, shownAs);
        step.done();
    }
    submit(n, progress, zip, FileUtils::basename(shownAs));
    staple(n, progress, app, shownAs);
}

std::vector<std::string> notarizeExisting(const BundleOptions& o, Progress& progress) {
    const std::string path = FileUtils::removeTrailingSlash(o.bundle);
    const std::string kind = FileUtils::suffix(path);
    std::error_code ec;
    const bool app = kind == ".app" && fs::is_directory(path + "/Contents", ec);
    if (!app && !((kind == ".zip" || kind == ".dmg") && fs::is_regular_file(path, ec))) {
        fail("notarize needs a bundle (NAME.app), a .zip or a .dmg: " + o.bundle,
             KV_SOURCE_CODE_POS);
    }
    if (o.zip && !app) {
        fail("--zip goes with a bundle (NAME.app), whose ticket is stapled before it is zipped",
             KV_SOURCE_CODE_POS);
    }
    const Notary notary{findXcrun(), credentialArguments(o)};
    const std::string absolute = fs::absolute(path).string();
    if (app) {
        notarizeApp(notary, progress, absolute, path);
        return o.zip ? std::vector<std::string>{path, zipAfterStapling(o, path)}
                     : std::vector<std::string>{path};
    }
    submit(notary, progress, absolute, FileUtils::basename(path));
    if (kind == ".dmg") {
        staple(notary, progress, absolute, path);
    } else {
        progress.warn("a ticket cannot be stapled to a zip: Gatekeeper fetches it online; "
                      "notarize the bundle with --zip to ship one that carries it");
    }
    return {path};
}

} // namespace Notarization
