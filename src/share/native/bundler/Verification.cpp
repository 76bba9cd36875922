#include "Verification.h"

#include <filesystem>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "Notarization.h"
#include "Subprocess.h"
#include "tstrings.h"

namespace fs = std::filesystem;

namespace Verification {

std::vector<Check> checks(const std::string& codesign, const std::string& spctl,
                          const std::string& xcrun, const std::string& path) {
    // A disk image is opened, not executed: Gatekeeper judges its own signature.
    const std::vector<std::string> assess =
        FileUtils::suffix(path) == ".dmg"
            ? std::vector<std::string>{spctl, "--assess", "--type", "open", "--context",
                                       "context:primary-signature", "-vv", path}
            : std::vector<std::string>{spctl, "--assess", "--type", "execute", "-vv", path};
    return {{"signature", {codesign, "--verify", "--deep", "--strict", "--verbose=2", path}},
            {"Gatekeeper", assess},
            {"stapled ticket", {xcrun, "stapler", "validate", path}}};
}

int verify(const std::string& given, const std::function<void(const std::string&)>& line) {
    const std::string path = FileUtils::removeTrailingSlash(given);
    std::error_code ec;
    const bool app = FileUtils::suffix(path) == ".app" && fs::is_directory(path + "/Contents", ec);
    const bool image = FileUtils::suffix(path) == ".dmg" && fs::is_regular_file(path, ec);
    if (!app && !image) {
        fail("verify needs a bundle (NAME.app holding Contents) or a .dmg: " + given,
             KV_SOURCE_CODE_POS);
    }
    std::vector<std::string> tools;
    std::vector<std::string> missing;
    for (const char* name : {"codesign", "spctl", "xcrun"}) {
        tools.push_back(Subprocess::findOnPath(name));
        if (tools.back().empty()) {
            missing.push_back(name);
        }
    }
    if (!missing.empty()) {
        const std::string last = missing.back();
        missing.pop_back();
        const std::string named =
            missing.empty()
                ? last + " is"
                : tstrings::join(missing.begin(), missing.end(), ", ") + " and " + last + " are";
        fail("verify needs codesign, spctl and xcrun, which come with macOS: " + named +
                 " not on the PATH",
             KV_SOURCE_CODE_POS);
    }
    int failed = 0;
    for (const Check& check : checks(tools[0], tools[1], tools[2], path)) {
        const ProgramResult r = Subprocess::run(check.argv);
        if (r.status == 0) {
            line(check.name + ": passed");
            continue;
        }
        ++failed;
        line(check.name + ": failed: " + Notarization::reason(r.err + r.out, path));
    }
    return failed;
}

} // namespace Verification
