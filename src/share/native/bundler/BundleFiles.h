#ifndef KOVALU_BUNDLEFILES_H
#define KOVALU_BUNDLEFILES_H

#include <string>

/// The file-system steps that put a bundle in place atomically.
namespace BundleFiles {

/// Creates a new directory, readable only by its owner, named `prefix`
/// followed by six random characters, and returns its path; throws when it
/// cannot.
std::string makeUniqueDir(const std::string& prefix);

/// Creates a new empty file, readable only by its owner, named `prefix`
/// followed by six random characters, and returns its path; throws when it
/// cannot.
std::string makeUniqueFile(const std::string& prefix);

/// Renames `from` to `to` with one rename(2): a file `to` is replaced, a
/// directory `to` only when empty. Returns 0, or the errno of the failure.
int renamePath(const std::string& from, const std::string& to);

/// The system's text for an errno value.
std::string errorText(int error);

/// Removes a path and everything below it on destruction unless released.
class TempPath {
public:
    TempPath() = default;
    TempPath(const TempPath&) = delete;
    TempPath& operator=(const TempPath&) = delete;
    ~TempPath();

    void reset(const std::string& value) { path = value; }
    void release() { path.clear(); }
    const std::string& get() const { return path; }

private:
    std::string path;
};

} // namespace BundleFiles

#endif
