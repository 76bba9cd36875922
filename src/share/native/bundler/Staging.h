#ifndef KOVALU_STAGING_H
#define KOVALU_STAGING_H

#include <memory>
#include <string>

#include "BundleFiles.h"

/// The hidden directory beside a bundle's place in which it and its
/// artifacts are made, and the renames that put them in place. Everything is
/// built under a hidden name and renamed at the end, so that no run leaves a
/// bundle that looks whole before it is; an interrupt (SIGINT, SIGTERM)
/// removes the directory, and so does the next run of one that was killed.
class Staging {
public:
    /// Removes the abandoned staging directories of NAME.app in `dir`, then
    /// creates `dir`/.NAME.app.XXXXXX; throws when it cannot.
    Staging(const std::string& dir, const std::string& name);
    Staging(const Staging&) = delete;
    Staging& operator=(const Staging&) = delete;

    /// Says `message` again with the hidden places of this run named as the
    /// user will find them: the bundle as `target`, an artifact beside it.
    std::string shown(const std::string& message, const std::string& target) const;

    /// The bundle being built, NAME.app inside the staging directory, so that
    /// it is signed under its final name.
    const std::string& bundle() const { return bundleDir; }
    /// Its Contents and Contents/app directories (not created here).
    std::string contents() const { return bundleDir + "/Contents"; }
    std::string appDir() const { return bundleDir + "/Contents/app"; }
    /// Where a file of `kind` ("zip", "dmg", "entitlements") is made before
    /// it is moved beside the bundle as NAME.KIND.
    std::string artifact(const std::string& kind) const;

    /// Moves the bundle to `target` with one rename, an existing one aside
    /// first when `force` (and back when the rename fails). Throws "TARGET
    /// already exists ..." when another run put a bundle there first.
    void moveIntoPlace(const std::string& target, bool force);

    /// Moves the file of `kind` to `to`; throws when it cannot.
    void moveArtifact(const std::string& kind, const std::string& to);

private:
    std::string outputDir;
    std::string name;
    // Destroyed in reverse order: the directory goes while the handler that
    // would remove it on a signal is still there.
    std::unique_ptr<BundleFiles::RemovedOnSignal> onSignal;
    std::unique_ptr<BundleFiles::InUse> inUse;
    BundleFiles::TempPath staging;
    std::string bundleDir;
};

#endif
