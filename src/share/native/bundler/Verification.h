#ifndef KOVALU_VERIFICATION_H
#define KOVALU_VERIFICATION_H

#include <functional>
#include <string>
#include <vector>

/// Checks a finished bundle or disk image the way Gatekeeper will.
namespace Verification {

/// One check: what the result line calls it and the program to run.
struct Check {
    std::string name;
    std::vector<std::string> argv;
};

/// The checks of `path` (a .app or .dmg) with these tools: the signature
/// (codesign --verify --deep --strict --verbose=2), Gatekeeper's verdict
/// (spctl --assess) and the stapled ticket (xcrun stapler validate).
std::vector<Check> checks(const std::string& codesign, const std::string& spctl,
                          const std::string& xcrun, const std::string& path);

/// Runs the checks of `path`, giving `line` one line per check ("NAME:
/// passed" or "NAME: failed: WHY"); returns how many failed. Throws with one
/// line, running none, when `path` is no bundle or disk image or when a tool
/// is not on the PATH.
int verify(const std::string& path, const std::function<void(const std::string&)>& line);

} // namespace Verification

#endif
