// The file-system side of FileUtils: isFileExists, toAbsolutePath, stripExeSuffix.
#include "FileUtils.h"

#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "ErrorHandling.h"

namespace FileUtils {

bool isFileExists(const std::string& path) {
    struct stat buf;
    return ::stat(path.c_str(), &buf) != -1;
}

std::string toAbsolutePath(const std::string& path) {
    if (!path.empty() && isDirSeparator(path[0])) {
        return path;
    }
    std::vector<char> buffer(1024, 0);
    if (!::getcwd(buffer.data(), buffer.size())) {
        throw makeException(tstrings::any() << "getcwd() failed. Error: " << lastCRTError(),
                            KV_SOURCE_CODE_POS);
    }
    const std::string cwd(buffer.data());
    if (cwd.empty()) {
        throw makeException("getcwd() returned empty string", KV_SOURCE_CODE_POS);
    }
    if (path.empty()) {
        return cwd;
    }
    return combinePath(cwd, path);
}

std::string stripExeSuffix(const std::string& path) {
    return path;
}

} // namespace FileUtils
