#ifndef KOVALU_BUNDLESIGNING_H
#define KOVALU_BUNDLESIGNING_H

#include <functional>
#include <string>

#include "BundleOptions.h"
#include "BundlePlan.h"
#include "BundleSigner.h"
#include "Progress.h"
#include "Staging.h"

/// The signing step of a build and the sign command: which entitlements go
/// with the code, and the call to the signer.
namespace BundleSigning {

/// Signs the staged bundle when --sign asks for it, with the given
/// entitlements or, without them, the runtime's and those the usage
/// descriptions need (written beside the bundle at the end). Returns how it
/// signed (an empty identity when it did not); throws when codesign fails.
/// `progress` gets the step's line. `afterJars`, when given, runs once the
/// jars are final, before anything else is signed, also when nothing is.
BundleSigner::Signer signBundle(const BundleOptions& o, const BundlePlan& plan,
                                const Staging& staging, Progress& progress,
                                const std::function<void()>& afterJars = {});

/// Signs the existing bundle `o.bundle`, as a build signs a new one, on a
/// copy that replaces it only when every step succeeded. Returns the bundle's
/// path; throws with one line, leaving the bundle as it was, when a check or
/// codesign fails.
std::string signExisting(const BundleOptions& o, Progress& progress);

} // namespace BundleSigning

#endif
