#ifndef KOVALU_STAGING_H
#define KOVALU_STAGING_H

#include <string>

#include "BundleFiles.h"
#include "BundlePlan.h"

/// The hidden directory beside the target in which a bundle and its artifacts
/// are made, and the renames that put them in place. Everything is built
/// under a hidden name and renamed at the end, so that no run leaves a bundle
/// that looks whole before it is.
class Staging {
  public:
    /// Creates OUTPUT/.NAME.app.XXXXXX holding NAME.app/Contents with its
    /// MacOS and app directories; throws when it cannot.
    explicit Staging(const BundlePlan& plan);
    Staging(const Staging&) = delete;
    Staging& operator=(const Staging&) = delete;

    /// The staging directory itself.
    const std::string& dir() const { return staging.get(); }
    /// The bundle being built, NAME.app inside the staging directory, so that
    /// it is signed under its final name.
    const std::string& bundle() const { return bundleDir; }
    const std::string& contents() const { return contentsDir; }
    const std::string& appDir() const { return applicationDir; }
    /// Where an artifact or file of `kind` ("zip", "dmg", "entitlements") is
    /// made before it is moved beside the bundle.
    std::string artifact(const std::string& kind) const;

    /// Moves the bundle into place with one rename, an existing one aside
    /// first when `force` (and back when the rename fails), then the
    /// artifacts. Throws "TARGET already exists ..." when another run put a
    /// bundle there first.
    void moveIntoPlace(bool force);

  private:
    void moveArtifact(const std::string& kind, const std::string& to);

    const BundlePlan& plan;
    BundleFiles::TempPath staging;
    std::string bundleDir;
    std::string contentsDir;
    std::string applicationDir;
};

#endif
