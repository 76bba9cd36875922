// The file-system side of FileUtils: isFileExists, readRegularFile,
// toAbsolutePath, stripExeSuffix.
#include "FileUtils.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "ErrorHandling.h"

namespace FileUtils {

bool isFileExists(const std::string& path) {
    struct stat buf;
    return ::stat(path.c_str(), &buf) != -1;
}

namespace {

// Sorts out what is no regular file before and after opening: the look before
// keeps devices from being opened at all, the one after catches a swap.
ReadResult checkRegular(const struct stat& info) {
    if (S_ISDIR(info.st_mode)) {
        errno = EISDIR;
        return ReadResult::OpenFailed;
    }
    return S_ISREG(info.st_mode) ? ReadResult::Read : ReadResult::NotRegular;
}

} // namespace

ReadResult readRegularFile(const std::string& path, std::string& content) {
    struct stat info;
    if (::stat(path.c_str(), &info) == 0 && checkRegular(info) != ReadResult::Read) {
        return checkRegular(info);
    }
    // O_NONBLOCK: opening a FIFO would otherwise wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return ReadResult::OpenFailed;
    }
    ReadResult result = ::fstat(fd, &info) == 0 ? checkRegular(info) : ReadResult::OpenFailed;
    char buffer[64 * 1024];
    while (result == ReadResult::Read) {
        const ssize_t n = ::read(fd, buffer, sizeof(buffer));
        if (n == 0) {
            break;
        }
        if (n > 0) {
            content.append(buffer, static_cast<std::size_t>(n));
        } else if (errno != EINTR) {
            result = ReadResult::ReadFailed;
        }
    }
    const int error = errno;
    ::close(fd);
    errno = error;
    return result;
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
