#include "Staging.h"

#include <cerrno>

#include "ErrorHandling.h"

Staging::Staging(const BundlePlan& plan) : plan(plan) {
    BundleFiles::makeDirs(plan.outputDir);
    staging.reset(BundleFiles::makeUniqueDir(plan.outputDir + "/." + plan.name + ".app."));
    bundleDir = staging.get() + "/" + plan.name + ".app";
    contentsDir = bundleDir + "/Contents";
    applicationDir = contentsDir + "/app";
    BundleFiles::makeDirs(contentsDir + "/MacOS");
    BundleFiles::makeDirs(applicationDir);
    BundleFiles::setMode(bundleDir, 0755);
}

std::string Staging::artifact(const std::string& kind) const {
    return staging.get() + "/" + plan.name + "." + kind;
}

void Staging::moveArtifact(const std::string& kind, const std::string& to) {
    if (const int error = BundleFiles::renamePath(artifact(kind), to)) {
        fail("cannot move " + to + " into place: " + BundleFiles::errorText(error),
             KV_SOURCE_CODE_POS);
    }
}

void Staging::moveIntoPlace(bool force) {
    const std::string& target = plan.target;
    BundleFiles::TempPath old;
    if (force && BundleFiles::existsAsIs(target)) {
        old.reset(BundleFiles::makeUniqueDir(plan.outputDir + "/." + plan.name + ".app.old."));
        if (const int error =
                BundleFiles::renamePath(target, old.get() + "/" + plan.name + ".app")) {
            fail("cannot move the existing " + target + " aside: " + BundleFiles::errorText(error),
                 KV_SOURCE_CODE_POS);
        }
    }
    // One rename: of two runs into one place, the second fails here rather
    // than nest its bundle in the first one's, as moving into a directory would.
    if (const int error = BundleFiles::renamePath(bundleDir, target)) {
        if (!old.get().empty()) {
            // Put the replaced bundle back rather than lose it.
            BundleFiles::renamePath(old.get() + "/" + plan.name + ".app", target);
        }
        if (error == EEXIST || error == ENOTEMPTY || error == ENOTDIR) {
            fail(target + " already exists (use --force to replace it)", KV_SOURCE_CODE_POS);
        }
        fail("cannot move the bundle into place: " + target + ": " + BundleFiles::errorText(error),
             KV_SOURCE_CODE_POS);
    }
    if (!plan.entitlementsTarget.empty()) {
        if (const int error =
                BundleFiles::renamePath(artifact("entitlements"), plan.entitlementsTarget)) {
            fail("cannot write the entitlements beside the bundle: " + plan.entitlementsTarget +
                     ": " + BundleFiles::errorText(error),
                 KV_SOURCE_CODE_POS);
        }
    }
    if (!plan.zipTarget.empty()) {
        moveArtifact("zip", plan.zipTarget);
    }
    if (!plan.dmgTarget.empty()) {
        moveArtifact("dmg", plan.dmgTarget);
    }
}
