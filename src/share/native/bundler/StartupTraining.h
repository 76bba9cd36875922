#ifndef KOVALU_STARTUPTRAINING_H
#define KOVALU_STARTUPTRAINING_H

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "BundleOptions.h"
#include "BundlePlan.h"
#include "Progress.h"

/// --train: the start-up cache that the bundle ships, trained by running the
/// assembled bundle through its own launcher, as a user would start it.
namespace StartupTraining {

/// How to train: the launch's arguments (none: the bundle's own) and the
/// seconds the application may run.
struct Plan {
    std::vector<std::string> arguments;
    int timeoutSeconds = 120;
};

/// The plan of --train, --train-argument and --train-timeout; none without
/// --train. Throws with one line for a bad value, or for a --train-* option
/// without --train.
std::optional<Plan> plan(const BundleOptions& options);

/// `plan` of the options, with the build's runtime checked: its release
/// file must allow training here (`checkRuntime`), and --jmods must not link
/// for another platform. Throws with one line before anything is written.
std::optional<Plan> check(const BundleOptions& options, const BundlePlan& build);

/// The platform of this host as runtime release files name it, e.g.
/// "Darwin aarch64".
std::string hostPlatform();

/// Throws with one line when the runtime whose release file reads
/// `releaseText` cannot be trained here: before Java 25 (its archive does not
/// survive a move), or of another platform than this host.
void checkRuntime(const std::string& releaseText);

/// Trains the launcher `name` of the bundle at `bundleDir`: a recording
/// launch, the create step, and a launch with the new cache whose output and
/// exit status must be the recording's. Writes "Contents/app/<name>.aot" and
/// returns its size, which the step's line in `progress` says; returns 0,
/// writing nothing, after one warning when the launch with the cache
/// differs. Throws with one line, writing nothing into the bundle, when a run
/// fails, times out or writes no cache.
std::uint64_t train(const Plan& plan, const std::string& bundleDir, const std::string& name,
                    Progress& progress);

} // namespace StartupTraining

#endif
