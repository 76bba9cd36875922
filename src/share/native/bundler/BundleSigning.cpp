#include "BundleSigning.h"

#include <filesystem>

#include "BundleChecks.h"
#include "BundleFiles.h"
#include "ErrorHandling.h"
#include "FileUtils.h"
#include "PlistReader.h"
#include "Subprocess.h"
#include "tstrings.h"

namespace fs = std::filesystem;

namespace {

/// The entitlements of a Java runtime and those the usage descriptions among
/// `infoPlist` need, as a property list.
std::string defaultEntitlements(const std::vector<PlistEntry>& infoPlist) {
    std::vector<PlistEntry> granted = InfoPlist::javaEntitlements();
    const std::vector<PlistEntry> usage = InfoPlist::usageEntitlements(infoPlist);
    granted.insert(granted.end(), usage.begin(), usage.end());
    return InfoPlist::plistText(granted);
}

} // namespace

namespace BundleSigning {

// Nested code is signed before what holds it: the bundle's seal covers the
// signatures inside it, so signing outside first would break verification.
BundleSigner::Signer signBundle(const BundleOptions& o, const BundlePlan& plan,
                                const Staging& staging, Progress& progress,
                                const std::function<void()>& afterJars) {
    if (o.identity.empty()) {
        if (afterJars) {
            afterJars();
        }
        return {};
    }
    BundleSigner::Signer signer{plan.codesign, o.identity, o.entitlements};
    if (signer.entitlements.empty()) {
        signer.entitlements = staging.artifact("entitlements");
        BundleFiles::writeText(signer.entitlements, defaultEntitlements(plan.infoPlist));
        BundleFiles::setMode(signer.entitlements, 0644);
    }
    Progress::Step step = progress.step("Signing " + plan.name + ".app");
    BundleSigner::signBundle(signer, staging.bundle(), plan.target, afterJars);
    step.done();
    return signer;
}

std::string signExisting(const BundleOptions& o, Progress& progress) {
    const std::string bundle = FileUtils::removeTrailingSlash(o.bundle);
    if (!tstrings::endsWith(bundle, ".app") || !BundleFiles::isDirectory(bundle + "/Contents")) {
        fail("not a bundle (NAME.app holding Contents): " + o.bundle, KV_SOURCE_CODE_POS);
    }
    if (o.identity.empty()) {
        fail("sign needs --sign IDENTITY", KV_SOURCE_CODE_POS);
    }
    const std::string codesign = Subprocess::findOnPath("codesign");
    if (codesign.empty()) {
        fail("--sign needs codesign, which is not on the PATH", KV_SOURCE_CODE_POS);
    }
    if (!o.entitlements.empty() && !BundleFiles::isRegularFile(o.entitlements)) {
        fail("entitlements file not found: " + o.entitlements, KV_SOURCE_CODE_POS);
    }
    if (!o.entitlements.empty()) {
        BundleChecks::readEntitlements(o.entitlements);
    }
    std::vector<PlistEntry> declared;
    try {
        declared = PlistReader::topLevel(BundleFiles::readText(bundle + "/Contents/Info.plist"));
    } catch (const KvErrorBase& e) {
        fail("cannot read " + bundle + "/Contents/Info.plist: " + e.rawMessage(),
             KV_SOURCE_CODE_POS);
    }
    // A copy is signed and replaces the bundle at the end, so that a failure
    // leaves the bundle as it was rather than half signed.
    const std::string name = BundleFiles::fileName(bundle);
    Staging staging(FileUtils::dirname(fs::absolute(bundle).string()),
                    name.substr(0, name.size() - 4));
    BundleFiles::copyTree(bundle, staging.bundle(), /*followLinks=*/false);
    BundleSigner::Signer signer{codesign, o.identity, o.entitlements};
    if (signer.entitlements.empty()) {
        // What the bundle's usage descriptions ask for, as when it is made
        // and signed in one run.
        signer.entitlements = staging.artifact("entitlements");
        BundleFiles::writeText(signer.entitlements, defaultEntitlements(declared));
    }
    const std::string target = fs::absolute(bundle).string();
    try {
        Progress::Step step = progress.step("Signing " + name);
        BundleSigner::signBundle(signer, staging.bundle(), bundle);
        step.done();
    } catch (const KvErrorBase& e) {
        fail(staging.shown(e.rawMessage(), target), KV_SOURCE_CODE_POS);
    }
    staging.moveIntoPlace(target, /*force=*/true);
    return bundle;
}

} // namespace BundleSigning
