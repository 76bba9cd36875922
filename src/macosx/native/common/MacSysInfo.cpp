// SysInfo: argc, argv, getProcessModulePath, getRealPath, getCommandArgs.
#include "SysInfo.h"

#include <mach-o/dyld.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "ErrorHandling.h"
#include "FileUtils.h"

namespace SysInfo {

int argc = 0;
char** argv = nullptr;

std::string getProcessModulePath() {
    std::vector<char> buffer;
    uint32_t size = 0;
    while (true) {
        const int status = _NSGetExecutablePath(buffer.data(), &size);
        if (status == 0) {
            break;
        }
        // A refusal that asks for no more room than it had would never end.
        if (status > 0 || size <= buffer.size()) {
            throw makeException("_NSGetExecutablePath() failed", KV_SOURCE_CODE_POS);
        }
        buffer.resize(size);
    }
    return FileUtils::toAbsolutePath(getRealPath(buffer));
}

std::string getRealPath(const std::vector<char>& path) {
    const std::string pathStr(path.begin(), std::find(path.begin(), path.end(), '\0'));

    struct stat info;
    if (::lstat(pathStr.c_str(), &info) == -1) {
        const std::string error = lastCRTError();
        throw makeException(tstrings::any() << "lstat(" << pathStr << ") failed. Error: " << error,
                            KV_SOURCE_CODE_POS);
    }

    // The bundle root is found by counting components, so every link along the
    // way, every relative link target and every "." or ".." must be settled,
    // each against the directory it appears in.
    std::unique_ptr<char, decltype(&::free)> resolved(::realpath(pathStr.c_str(), nullptr),
                                                      &::free);
    if (!resolved) {
        const std::string error = lastCRTError();
        throw makeException(tstrings::any() << "realpath(" << pathStr << ") failed. Error: "
                                            << error,
                            KV_SOURCE_CODE_POS);
    }
    return resolved.get();
}

std::vector<std::string> getCommandArgs(CommandArgProgramNameMode mode) {
    std::vector<std::string> result;
    for (int i = (mode == ExcludeProgramName ? 1 : 0); i < argc; ++i) {
        const std::string arg(argv[i]);
        // The system may add a process serial number when opened from the desktop.
        if (tstrings::startsWith(arg, "-psn_")) {
            continue;
        }
        result.push_back(arg);
    }
    return result;
}

} // namespace SysInfo
