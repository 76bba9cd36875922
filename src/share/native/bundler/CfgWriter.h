#ifndef KOVALU_CFGWRITER_H
#define KOVALU_CFGWRITER_H

#include <string>
#include <vector>

#include "BundleOptions.h"
#include "BundlePlan.h"
#include "Staging.h"

/// The files that tell the launcher and the system what the bundle holds.
namespace CfgWriter {

/// The launcher's configuration file: `classPath`, `modulePath` and `mainJar`
/// are given as they are to be written.
std::string cfgText(const BundleOptions& o, const std::vector<std::string>& classPath,
                    const std::vector<std::string>& modulePath, const std::string& mainJar);

/// Writes Contents/app/NAME.cfg, Contents/app/.package when asked for and
/// Contents/Info.plist; throws when a file cannot be written.
void writeConfiguration(const BundleOptions& o, const BundlePlan& plan, const Staging& staging);

} // namespace CfgWriter

#endif
