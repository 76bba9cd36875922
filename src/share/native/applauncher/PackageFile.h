#ifndef KOVALU_PACKAGEFILE_H
#define KOVALU_PACKAGEFILE_H

#include <string>

/// The package name read from an app directory's ".package" file.
class PackageFile {
public:
    explicit PackageFile(const std::string& packageName) : packageName(packageName) {}

    std::string getPackageName() const { return packageName; }

    /// Reads the first line of "<appDir>/.package"; an empty name when the
    /// file is missing or empty. Throws when it exists but is no regular file or
    /// cannot be read; a FIFO is refused without waiting for a writer.
    static PackageFile loadFromAppDir(const std::string& appDir);

private:
    std::string packageName;
};

#endif
