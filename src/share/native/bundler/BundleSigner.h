#ifndef KOVALU_BUNDLESIGNER_H
#define KOVALU_BUNDLESIGNER_H

#include <functional>
#include <string>
#include <vector>

/// Signs a bundle's code with codesign, nested code first.
namespace BundleSigner {

/// How to sign: the codesign program, the identity ('-' signs ad hoc) and the
/// entitlements file the executables get.
struct Signer {
    std::string codesign;
    std::string identity;
    std::string entitlements;
};

/// A Mach-O file or a nested bundle (a framework's version, an application)
/// of a bundle, by its path relative to the bundle.
struct MachOFile {
    std::string path;
    bool executable;
};

/// One codesign call: the path relative to the bundle and whether the
/// entitlements go with it.
struct Step {
    std::string path;
    bool entitlements;
};

/// The order in which a bundle's Mach-O files are signed: those outside the
/// runtime and Contents/MacOS (the application's), then the runtime's, then
/// Contents/MacOS; deeper paths before shallower ones within each. The runtime's
/// executables and everything in Contents/MacOS get the entitlements.
std::vector<Step> signOrder(std::vector<MachOFile> files);

/// Signs the Mach-O entries inside the jars of Contents/app, each as a file
/// of its own name, and puts them back (rewriting each jar that has some),
/// then every Mach-O file of the bundle, every nested framework version and
/// application and every file in Contents/MacOS in `signOrder`, then the
/// bundle. `shownAs` stands for `bundle` in messages. Throws with one
/// line naming the file when codesign fails on it, and when a signed jar holds
/// Mach-O entries. `afterJars`, when given, runs once the jars are final.
void signBundle(const Signer& signer, const std::string& bundle, const std::string& shownAs,
                const std::function<void()>& afterJars = {});

/// Signs a disk image (no hardened runtime, no entitlements); throws with
/// codesign's reason when it fails.
void signImage(const Signer& signer, const std::string& image, const std::string& shownAs);

} // namespace BundleSigner

#endif
