#ifndef KOVALU_DISTRIBUTION_H
#define KOVALU_DISTRIBUTION_H

#include <string>
#include <vector>

#include "BundleOptions.h"
#include "BundlePlan.h"
#include "BundleSigner.h"
#include "Progress.h"
#include "Staging.h"

/// The download artifacts made from a finished bundle.
namespace Distribution {

/// The command that writes the zip file `out` holding the bundle `app`
/// (whose parent is the working directory) under its own name, with links
/// kept as links and modes kept: ditto when given, else zip.
std::vector<std::string> zipCommand(const std::string& ditto, const std::string& zip,
                                    const std::string& app, const std::string& out);

/// Writes the zip file `out` holding `app` with ditto or zip, whichever is on
/// the PATH; throws with the tool's reason, naming `out` as `shownAs`, when it
/// fails.
void makeZip(const std::string& app, const std::string& out, const std::string& shownAs);

/// Writes the compressed disk image `out` with `hdiutil`, its volume named
/// after the bundle and holding `app` and a link to /Applications. The bundle
/// is moved into a folder beside it for the time it takes and moved back.
/// Throws with hdiutil's reason, naming `out` as `shownAs`, when it fails.
void makeImage(const std::string& hdiutil, const std::string& app, const std::string& out,
               const std::string& shownAs);

/// Makes the zip file and the disk image the plan asks for in the staging
/// directory, so that they appear only with the bundle, each with a step
/// line; the image is signed when `signer` has an identity, and notarized and
/// stapled when the plan has a notary. Throws with the tool's reason when one
/// fails.
void makeArtifacts(const BundlePlan& plan, const Staging& staging,
                   const BundleSigner::Signer& signer, Progress& progress);

/// Moves the default entitlements, the zip file and the disk image the plan
/// asks for into place (a file named elsewhere, on another disk, is copied
/// there first); throws when one cannot be moved.
void moveArtifacts(const BundlePlan& plan, Staging& staging);

} // namespace Distribution

#endif
