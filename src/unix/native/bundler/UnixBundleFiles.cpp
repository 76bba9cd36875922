// BundleFiles::makeUniqueDir, makeUniqueFile, renamePath, errorText and
// TempPath with mkdtemp, mkstemp, rename and the file-system library.
#include "BundleFiles.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "ErrorHandling.h"

namespace {

std::vector<char> pattern(const std::string& prefix) {
    const std::string text = prefix + "XXXXXX";
    return std::vector<char>(text.c_str(), text.c_str() + text.size() + 1);
}

} // namespace

namespace BundleFiles {

std::string makeUniqueDir(const std::string& prefix) {
    std::vector<char> path = pattern(prefix);
    if (!::mkdtemp(path.data())) {
        throw makeException("cannot create a directory " + prefix + "XXXXXX: " + lastCRTError(),
                            KV_SOURCE_CODE_POS);
    }
    return path.data();
}

std::string makeUniqueFile(const std::string& prefix) {
    std::vector<char> path = pattern(prefix);
    const int fd = ::mkstemp(path.data());
    if (fd < 0) {
        throw makeException("cannot create a file " + prefix + "XXXXXX: " + lastCRTError(),
                            KV_SOURCE_CODE_POS);
    }
    ::close(fd);
    return path.data();
}

int renamePath(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

std::string errorText(int error) {
    return std::strerror(error);
}

TempPath::~TempPath() {
    if (!path.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
}

} // namespace BundleFiles
