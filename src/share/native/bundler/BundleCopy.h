#ifndef KOVALU_BUNDLECOPY_H
#define KOVALU_BUNDLECOPY_H

#include "BundleOptions.h"
#include "BundlePlan.h"
#include "Progress.h"
#include "Staging.h"

/// The copying steps of a build: the application's files and the runtime.
namespace BundleCopy {

/// Copies the launcher to Contents/MacOS/NAME, the inputs and the splash image
/// to Contents/app and the icon to Contents/Resources; throws when a copy fails.
void copyApplication(const BundleOptions& o, const BundlePlan& plan, const Staging& staging);

/// Puts the runtime in Contents/runtime/Contents/Home: a runtime linked with
/// jlink, a copy of the given one, or (off macOS) a link to its library, with
/// a step line for each long step. Throws with one line when that fails.
void placeRuntime(const BundleOptions& o, const BundlePlan& plan, const Staging& staging,
                  Progress& progress);

} // namespace BundleCopy

#endif
