#ifndef KOVALU_BUNDLECHECKS_H
#define KOVALU_BUNDLECHECKS_H

#include "BundleOptions.h"
#include "BundlePlan.h"

/// The checks of a build, all made before anything is written.
namespace BundleChecks {

/// Checks everything `o` asks for and settles what the steps need; `warn`
/// receives a line for each value that may work but probably will not.
/// Throws with one line for a value that cannot work.
BundlePlan check(const BundleOptions& o, const Warn& warn);

/// The entries of the entitlements file `path`; throws "cannot read
/// --entitlements PATH: REASON" when it is no XML property list.
std::vector<PlistEntry> readEntitlements(const std::string& path);

} // namespace BundleChecks

#endif
