#include "Bundler.h"

#include <functional>
#include <optional>

#include "BundleChecks.h"
#include "BundleCopy.h"
#include "BundleSigning.h"
#include "CfgWriter.h"
#include "Distribution.h"
#include "ErrorHandling.h"
#include "Notarization.h"
#include "Staging.h"
#include "StartupTraining.h"

namespace Bundler {

std::string makeBundle(const BundleOptions& options, Progress& progress) {
    const Warn warn = [&progress](const std::string& line) { progress.warn(line); };
    const BundlePlan plan = BundleChecks::check(options, warn);
    const std::optional<StartupTraining::Plan> training = StartupTraining::check(options, plan);
    Staging staging(plan.outputDir, plan.name);
    try {
        BundleCopy::copyApplication(options, plan, staging);
        CfgWriter::writeConfiguration(options, plan, staging);
        BundleCopy::placeRuntime(options, plan, staging, progress);
        // After the jars are final, which the cache records, and before the
        // seal, which covers the cache.
        const auto train = [&] {
            StartupTraining::train(*training, staging.bundle(), plan.name, progress);
        };
        const BundleSigner::Signer signer = BundleSigning::signBundle(
            options, plan, staging, progress, training ? std::function<void()>(train) : nullptr);
        // Before the downloads are made, so that they hold the stapled bundle.
        if (plan.notary) {
            Notarization::notarizeApp(*plan.notary, progress, staging.bundle(), plan.target);
        }
        Distribution::makeArtifacts(plan, staging, signer, progress);
        staging.moveIntoPlace(plan.target, options.force);
        Distribution::moveArtifacts(plan, staging);
    } catch (const KvErrorBase& e) {
        fail(staging.shown(e.rawMessage(), plan.target), KV_SOURCE_CODE_POS);
    }
    return plan.target;
}

} // namespace Bundler
