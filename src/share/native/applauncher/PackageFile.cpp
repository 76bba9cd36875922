#include "PackageFile.h"

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

    // Read as the configuration file is: a FIFO planted here must not stall
    // the launch, nor a device be read from.
    std::string content;
    const FileUtils::ReadResult read = FileUtils::readRegularFile(path, content);
    // Taken at once: composing the message may touch errno.
    const std::string error =
        read == FileUtils::ReadResult::NotRegular ? "Not a regular file" : lastCRTError();
    if (read != FileUtils::ReadResult::Read) {
        throw makeException(tstrings::any() << "Error opening \"" << path << "\" file: " << error,
                            KV_SOURCE_CODE_POS);
    }

    if (!content.empty()) {
        packageName = content.substr(0, content.find('\n'));
        LOG_TRACE("Package name is [" << packageName << "]");
    }
    return PackageFile(packageName);
}
