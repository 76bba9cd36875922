#ifndef KOVALU_JARFILE_H
#define KOVALU_JARFILE_H

#include <map>
#include <string>
#include <vector>

/// The entries of a jar (zip) file, read from its central directory.
class JarFile {
public:
    /// Reads the central directory of the jar at `path`; throws "cannot read
    /// <path> as a jar: <reason>" when it is no zip file or a zip64 one.
    explicit JarFile(const std::string& path);

    /// True when the jar holds an entry of this name.
    bool contains(const std::string& name) const;

    /// The text of META-INF/MANIFEST.MF, empty without one. A compressed
    /// manifest is read with the system's `unzip`; throws when that fails.
    std::string manifest() const;

private:
    struct Entry {
        unsigned method;
        unsigned long compressedSize;
        unsigned long localHeader;
    };

    std::string readStored(const Entry& entry) const;

    std::string path;
    std::map<std::string, Entry> entries;
};

namespace Manifest {

/// The value of `name` in the main section of a manifest, with continuation
/// lines joined; empty when it is missing.
std::string attribute(const std::string& manifest, const std::string& name);

/// The space-separated entries of the main section's Class-Path.
std::vector<std::string> classPath(const std::string& manifest);

} // namespace Manifest

#endif
