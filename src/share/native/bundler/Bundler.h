#ifndef KOVALU_BUNDLER_H
#define KOVALU_BUNDLER_H

#include <functional>
#include <string>

#include "BundleOptions.h"
#include "Progress.h"

namespace Bundler {

/// Receives one warning line, without the program's prefix.
using Warn = std::function<void(const std::string&)>;

/// Checks everything `options` ask for, then writes NAME.app in a hidden
/// directory beside its place and renames it into place; returns the bundle's
/// path. Throws with one line, leaving nothing of this run behind, when a
/// check or a step fails or another run put a bundle in place first.
/// `progress` receives the step lines and warnings.
std::string makeBundle(const BundleOptions& options, Progress& progress);

/// Signs the existing bundle `options.bundle` in place, as makeBundle signs
/// a new one; without --entitlements with the runtime's entitlements and
/// those its Info.plist's usage descriptions need. Returns the bundle's path;
/// throws with one line when a check or codesign fails.
std::string signExisting(const BundleOptions& options, Progress& progress);

/// The launcher's configuration file: `classPath`, `modulePath` and `mainJar`
/// are given as they are to be written.
std::string cfgText(const BundleOptions& options, const std::vector<std::string>& classPath,
                    const std::vector<std::string>& modulePath, const std::string& mainJar);

} // namespace Bundler

#endif
