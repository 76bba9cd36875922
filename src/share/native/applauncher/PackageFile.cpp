#include "PackageFile.h"

#include <fstream>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "Log.h"

PackageFile PackageFile::loadFromAppDir(const std::string& appDir) {
    std::string packageName;
    const std::string path = FileUtils::combinePath(appDir, ".package");
    if (!FileUtils::isFileExists(path)) {
        return PackageFile(packageName);
    }

    LOG_TRACE("Read \"" << path << "\" package file");

    std::ifstream stream(path.c_str());
    if (!stream) {
        // Taken at once: composing the message may touch errno.
        const std::string error = lastCRTError();
        throw makeException(tstrings::any() << "Error opening \"" << path << "\" file: " << error,
                            KV_SOURCE_CODE_POS);
    }

    std::string line;
    if (std::getline(stream, line)) {
        LOG_TRACE("Package name is [" << line << "]");
        packageName = line;
    }
    return PackageFile(packageName);
}
