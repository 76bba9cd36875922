#ifndef KOVALU_BUNDLER_H
#define KOVALU_BUNDLER_H

#include <string>

#include "BundleOptions.h"
#include "BundlePlan.h"
#include "Progress.h"

namespace Bundler {

/// Receives one warning line, without the program's prefix.
using Warn = ::Warn;

/// Checks everything `options` ask for, then writes NAME.app in a hidden
/// directory beside its place and renames it into place; returns the bundle's
/// path. Throws with one line, leaving nothing of this run behind, when a
/// check or a step fails or another run put a bundle in place first.
/// `progress` receives the step lines and warnings.
std::string makeBundle(const BundleOptions& options, Progress& progress);

} // namespace Bundler

#endif
