#ifndef KOVALU_JARMANIFEST_H
#define KOVALU_JARMANIFEST_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

/// What a jar's manifest tells the runtime's class loader about more jars:
/// its Class-Path. Jars come from anywhere, so every size and offset in one is
/// checked and every read bounded; nothing here throws.
namespace JarManifest {

/// Random access to the bytes of one jar.
class Source {
public:
    virtual ~Source() = default;
    virtual std::uint64_t size() const = 0;
    /// Exactly `count` bytes at `offset` into `out`; false when there are not.
    virtual bool read(std::uint64_t offset, std::size_t count, std::string& out) const = 0;
};

/// How looking for a manifest ended.
enum class Outcome { Found, None, Unreadable };

/// The largest manifest read; a larger one is Unreadable.
const std::size_t maxManifestBytes = 1024 * 1024;
/// The largest central directory read; a larger one is Unreadable.
const std::size_t maxDirectoryBytes = 16 * 1024 * 1024;

/// The text of the jar's META-INF/MANIFEST.MF, that name matched without
/// regard to case as the class loader does when the exact one is missing.
/// None when the jar has no manifest or is no zip file at all (no end
/// record), which the class loader cannot read either; Unreadable, with
/// `why`, when it cannot be told for certain: zip64, damaged, more than one
/// manifest, one compressed other than by deflate or larger than the limits.
Outcome read(const Source& jar, std::string& text, std::string& why);

/// As `read`, for the jar at `path` (links followed): a regular file only,
/// never waiting on a FIFO; anything else is Unreadable.
Outcome readFile(const std::string& path, std::string& text, std::string& why);

/// The entries of the main section's Class-Path (name matched without regard
/// to case), continuation lines joined, split at white space.
std::vector<std::string> classPath(const std::string& manifest);

/// The file that Class-Path entry `entry` of a jar in the directory `jarDir`
/// names, as the class loader resolves it as a URL relative to the jar:
/// "%xx" decoded, "file:" accepted, "." and ".." segments removed. False for
/// what names no local file for certain (another scheme, a query, a fragment,
/// a bad escape) and when `jarDir` is not absolute.
bool resolve(const std::string& jarDir, const std::string& entry, std::string& path);

} // namespace JarManifest

#endif
