#include "Staging.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "ErrorHandling.h"
#include "tstrings.h"

namespace fs = std::filesystem;

namespace {

/// ".NAME.app.", with NAME cut (at a character's start) so that the
/// directory's name, six characters longer, fits where NAME.app fits.
std::string stagingPrefix(const std::string& name) {
    const std::size_t longest = 255 - 6 - 6 - 5; // ".", ".app.", XXXXXX, "old."
    std::size_t size = std::min(name.size(), longest);
    while (size > 0 && size < name.size() &&
           (static_cast<unsigned char>(name[size]) & 0xc0) == 0x80) {
        --size;
    }
    return "." + name.substr(0, size) + ".app.";
}

// Only directories of this tool's own pattern, .NAME.app.XXXXXX, and only
// those whose run has ended: another run may be building beside this one.
void removeAbandoned(const std::string& dir, const std::string& name) {
    const std::string prefix = stagingPrefix(name);
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string entry = it->path().filename().string();
        if (entry.size() == prefix.size() + 6 && entry.compare(0, prefix.size(), prefix) == 0 &&
            it->is_directory() && !it->is_symlink() &&
            BundleFiles::InUse::isAbandoned(it->path().string())) {
            std::error_code ignored;
            fs::remove_all(it->path(), ignored);
        }
    }
}

} // namespace

Staging::Staging(const std::string& dir, const std::string& name) : outputDir(dir), name(name) {
    BundleFiles::makeDirs(outputDir);
    removeAbandoned(outputDir, name);
    staging.reset(BundleFiles::makeUniqueDir(outputDir + "/" + stagingPrefix(name)));
    onSignal = std::make_unique<BundleFiles::RemovedOnSignal>(staging.get());
    inUse = std::make_unique<BundleFiles::InUse>(staging.get());
    bundleDir = staging.get() + "/" + name + ".app";
}

std::string Staging::shown(const std::string& message, const std::string& target) const {
    return tstrings::replace(tstrings::replace(message, bundleDir, target), staging.get(),
                             outputDir);
}

std::string Staging::artifact(const std::string& kind) const {
    return staging.get() + "/" + name + "." + kind;
}

void Staging::moveArtifact(const std::string& kind, const std::string& to) {
    if (const int error = BundleFiles::renamePath(artifact(kind), to)) {
        fail("cannot move " + to + " into place: " + BundleFiles::errorText(error),
             KV_SOURCE_CODE_POS);
    }
}

void Staging::moveIntoPlace(const std::string& target, bool force) {
    BundleFiles::TempPath old;
    if (force && BundleFiles::existsAsIs(target)) {
        old.reset(BundleFiles::makeUniqueDir(outputDir + "/" + stagingPrefix(name) + "old."));
        if (const int error = BundleFiles::renamePath(target, old.get() + "/" + name + ".app")) {
            fail("cannot move the existing " + target + " aside: " + BundleFiles::errorText(error),
                 KV_SOURCE_CODE_POS);
        }
    }
    // One rename: of two runs into one place, the second fails here rather
    // than nest its bundle in the first one's, as moving into a directory would.
    if (const int error = BundleFiles::renamePath(bundleDir, target)) {
        if (!old.get().empty()) {
            // Put the replaced bundle back rather than lose it.
            BundleFiles::renamePath(old.get() + "/" + name + ".app", target);
        }
        if (error == EEXIST || error == ENOTEMPTY || error == ENOTDIR) {
            fail(target + " already exists (use --force to replace it)", KV_SOURCE_CODE_POS);
        }
        fail("cannot move the bundle into place: " + target + ": " +
                 BundleFiles::errorText(error),
             KV_SOURCE_CODE_POS);
    }
}
