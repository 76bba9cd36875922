// _NSGetExecutablePath for Linux, where <mach-o/dyld.h> does not exist.
#include "mach-o/dyld.h"

#include <sys/auxv.h>

#include <cstring>

extern "C" int _NSGetExecutablePath(char* buf, uint32_t* bufsize) {
    // AT_EXECFN is the path handed to execve, as macOS reports it: relative or
    // through a link when started so. /proc/self/exe is already resolved.
    const char* path = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
    if (!path) {
        return 1;
    }
    const std::size_t needed = std::strlen(path) + 1;
    if (needed > UINT32_MAX) {
        return 1;
    }
    if (*bufsize < needed) {
        *bufsize = static_cast<uint32_t>(needed);
        return -1;
    }
    std::memcpy(buf, path, needed);
    return 0;
}
