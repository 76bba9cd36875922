#ifndef KOVALU_JARFILE_H
#define KOVALU_JARFILE_H

#include <map>
#include <string>
#include <vector>

/// The entries of a jar (zip) file, read from its central directory.
class JarFile {
public:
    /// Reads the central directory of the jar at `path`, zip64 or not; throws
    /// "cannot read <path> as a jar: <reason>" when it is no zip file.
    explicit JarFile(const std::string& path);

    /// True when the jar holds an entry of this name.
    bool contains(const std::string& name) const;

    /// The text of META-INF/MANIFEST.MF, stored or deflated, empty without
    /// one; throws when it is damaged or larger than 16 MiB.
    std::string manifest() const;

    /// The content of the entry `name`, stored or deflated; with `limit`, only
    /// about its first `limit` bytes. Throws when the jar holds no such entry,
    /// another compression method or damaged data.
    std::string read(const std::string& name, std::size_t limit = std::string::npos) const;

    /// The entry names in the order of the central directory.
    std::vector<std::string> names() const;

    /// True when the jar carries a signature file (META-INF/NAME.SF), which
    /// any changed entry would break.
    bool isSigned() const;

    /// Writes to `out` a copy of the jar in which each entry named in
    /// `replacements` holds the given bytes, stored uncompressed. Every other
    /// entry, its local header, data and descriptor, is copied byte for byte,
    /// and so is the central directory but for the changed offsets. Throws
    /// when the jar cannot be read or `out` cannot be written.
    void writeWithReplacements(const std::map<std::string, std::string>& replacements,
                               const std::string& out) const;

    /// Sets the language encoding flag (bit 11: the name is UTF-8) of each
    /// entry whose name is UTF-8 and not plain ASCII, in its local header and
    /// central record, in place, as `zip` off macOS leaves it unset. Throws
    /// when the file cannot be written.
    void flagUtf8Names() const;

  private:
    struct Entry {
        std::string name;
        unsigned method;
        unsigned long compressedSize;
        unsigned long localHeader;
        std::string central; ///< the whole central directory record
    };

    static bool zip64Fields(Entry& entry);
    const Entry* find(const std::string& name) const;
    /// The entry's data as stored in the jar, at most its first `limit` bytes.
    std::string readStored(const Entry& entry, std::size_t limit = std::string::npos) const;

    std::string path;
    std::vector<Entry> entries;
    unsigned long directoryOffset = 0;
    std::string endRecord; ///< the end record and the comment after it
    bool zip64 = false;
};

namespace Manifest {

/// The value of `name` in the main section of a manifest, with continuation
/// lines joined; empty when it is missing.
std::string attribute(const std::string& manifest, const std::string& name);

/// The space-separated entries of the main section's Class-Path.
std::vector<std::string> classPath(const std::string& manifest);

} // namespace Manifest

#endif
