#include "Distribution.h"

#include <filesystem>

#include "BundleFiles.h"
#include "ErrorHandling.h"
#include "FileUtils.h"
#include "JarFile.h"
#include "Notarization.h"
#include "Subprocess.h"

namespace fs = std::filesystem;

namespace {

void moveTo(const std::string& from, const std::string& to) {
    if (const int error = BundleFiles::renamePath(from, to)) {
        fail("cannot move " + from + " to " + to + ": " + BundleFiles::errorText(error),
             KV_SOURCE_CODE_POS);
    }
}

// A file named in another directory may be on another disk, which no rename
// reaches: it is copied beside its place first.
void placeArtifact(const BundlePlan& plan, Staging& staging, const std::string& kind,
                   const std::string& to) {
    if (FileUtils::dirname(to) == plan.outputDir) {
        staging.moveArtifact(kind, to);
        return;
    }
    BundleFiles::TempPath copy;
    copy.reset(BundleFiles::makeUniqueFile(FileUtils::dirname(to) + "/." +
                                           FileUtils::basename(to) + "."));
    std::error_code ec;
    fs::copy_file(staging.artifact(kind), copy.get(), fs::copy_options::overwrite_existing, ec);
    if (ec) {
        fail("cannot write " + to + ": " + ec.message(), KV_SOURCE_CODE_POS);
    }
    moveTo(copy.get(), to);
    copy.release();
}

} // namespace

namespace Distribution {

std::vector<std::string> zipCommand(const std::string& ditto, const std::string& zip,
                                    const std::string& app, const std::string& out) {
    // Resource forks and extended attributes would come back as "._" files
    // when the archive is unpacked elsewhere.
    if (!ditto.empty()) {
        return {ditto, "-c", "-k", "--norsrc", "--noextattr", "--keepParent", app, out};
    }
    // -y: a framework's Versions/Current copied instead of linked makes the
    // bundle's signature ambiguous.
    return {zip, "-q", "-r", "-y", out, FileUtils::basename(app)};
}

void makeZip(const std::string& app, const std::string& out, const std::string& shownAs) {
    const std::vector<std::string> argv = zipCommand(
        Subprocess::findOnPath("ditto"), Subprocess::findOnPath("zip"), app, out);
    if (argv[0].empty()) {
        fail("--zip needs ditto or zip, neither of which is on the PATH", KV_SOURCE_CODE_POS);
    }
    const ProgramResult r = Subprocess::run(argv, FileUtils::dirname(app));
    if (r.status != 0) {
        fail(FileUtils::basename(argv[0]) + " failed on " + shownAs + ": " +
                 Subprocess::reason(r.err + r.out),
             KV_SOURCE_CODE_POS);
    }
    // zip stores the names' bytes as they are but does not say they are
    // UTF-8, which macOS's Archive Utility then reads as another encoding.
    if (FileUtils::basename(argv[0]) == "zip") {
        JarFile(out).flagUtf8Names();
    }
}

void makeImage(const std::string& hdiutil, const std::string& app, const std::string& out,
               const std::string& shownAs) {
    const std::string name = FileUtils::basename(app);
    BundleFiles::TempPath folder;
    folder.reset(BundleFiles::makeUniqueDir(FileUtils::dirname(app) + "/.image."));
    moveTo(app, folder.get() + "/" + name);
    std::error_code ec;
    fs::create_symlink("/Applications", folder.get() + "/Applications", ec);
    ProgramResult r;
    if (!ec) {
        r = Subprocess::run({hdiutil, "create", "-volname", name.substr(0, name.size() - 4),
                             "-srcfolder", folder.get(), "-ov", "-format", "UDZO", out});
    }
    moveTo(folder.get() + "/" + name, app);
    if (ec) {
        fail("cannot link /Applications for the disk image: " + ec.message(), KV_SOURCE_CODE_POS);
    }
    if (r.status != 0) {
        fail("hdiutil failed on " + shownAs + ": " + Subprocess::reason(r.err + r.out),
             KV_SOURCE_CODE_POS);
    }
}

void makeArtifacts(const BundlePlan& plan, const Staging& staging,
                   const BundleSigner::Signer& signer, Progress& progress) {
    if (!plan.zipTarget.empty()) {
        Progress::Step step = progress.step("Writing " + FileUtils::basename(plan.zipTarget));
        makeZip(staging.bundle(), staging.artifact("zip"), plan.zipTarget);
        step.done();
    }
    if (!plan.dmgTarget.empty()) {
        Progress::Step step = progress.step("Writing " + FileUtils::basename(plan.dmgTarget));
        makeImage(plan.hdiutil, staging.bundle(), staging.artifact("dmg"), plan.dmgTarget);
        if (!signer.identity.empty()) {
            BundleSigner::signImage(signer, staging.artifact("dmg"), plan.dmgTarget);
        }
        step.done();
        if (plan.notary) {
            Notarization::submit(*plan.notary, progress, staging.artifact("dmg"),
                                 FileUtils::basename(plan.dmgTarget));
            Notarization::staple(*plan.notary, progress, staging.artifact("dmg"), plan.dmgTarget);
        }
    }
}

void moveArtifacts(const BundlePlan& plan, Staging& staging) {
    if (!plan.entitlementsTarget.empty()) {
        staging.moveArtifact("entitlements", plan.entitlementsTarget);
    }
    if (!plan.zipTarget.empty()) {
        placeArtifact(plan, staging, "zip", plan.zipTarget);
    }
    if (!plan.dmgTarget.empty()) {
        placeArtifact(plan, staging, "dmg", plan.dmgTarget);
    }
}

} // namespace Distribution
