#ifndef KOVALU_DISTRIBUTION_H
#define KOVALU_DISTRIBUTION_H

#include <string>
#include <vector>

/// The download artifacts made from a finished bundle.
namespace Distribution {

/// The command that writes the zip file `out` holding the bundle `app`
/// (whose parent is the working directory) under its own name, with links
/// kept as links and modes kept: ditto when given, else zip.
std::vector<std::string> zipCommand(const std::string& ditto, const std::string& zip,
                                    const std::string& app, const std::string& out);

/// Writes the zip file `out` holding `app` with ditto or zip, whichever is on
/// the PATH; throws with the tool's reason when it fails.
void makeZip(const std::string& app, const std::string& out);

/// Writes the compressed disk image `out` with `hdiutil`, its volume named
/// after the bundle and holding `app` and a link to /Applications. The bundle
/// is moved into a folder beside it for the time it takes and moved back.
/// Throws with hdiutil's reason when it fails.
void makeImage(const std::string& hdiutil, const std::string& app, const std::string& out);

} // namespace Distribution

#endif
