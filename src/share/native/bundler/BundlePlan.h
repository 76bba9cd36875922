#ifndef KOVALU_BUNDLEPLAN_H
#define KOVALU_BUNDLEPLAN_H

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "InfoPlist.h"
#include "Notarization.h"
#include "RuntimeLink.h"

/// Receives one warning line, without the program's prefix.
using Warn = std::function<void(const std::string&)>;

/// One application path as given on the command line (relative to the
/// bundle's Contents/app) and where it is found before the bundle exists.
struct AppEntry {
    std::string given;
    std::string source; ///< the file or directory it will be a copy of
};

/// What the checks of a build found: every value a step needs, settled
/// before anything is written.
struct BundlePlan {
    std::string name; ///< without ".app"
    std::string identifier;
    std::vector<std::string> inputs; ///< without trailing slashes
    std::string runtimeHome;
    bool copyRuntime = false;
    std::string outputDir;
    std::string target;             ///< OUTPUT/NAME.app
    std::string entitlementsTarget; ///< where the default entitlements go, or empty
    std::optional<JlinkPlan> jlink;
    std::optional<AppEntry> mainJar;
    std::vector<AppEntry> classPath;
    std::vector<AppEntry> modulePath;
    std::string codesign;
    std::string hdiutil;
    std::vector<PlistEntry> infoPlist;
    std::string zipTarget;
    std::string dmgTarget;
    std::optional<Notarization::Notary> notary; ///< with --notarize
};

#endif
