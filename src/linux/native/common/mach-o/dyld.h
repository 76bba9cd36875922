#ifndef KOVALU_LINUX_MACH_O_DYLD_H
#define KOVALU_LINUX_MACH_O_DYLD_H

// Stand-in for the one macOS loader call the launcher uses, for hosts that
// lack <mach-o/dyld.h>. Same name, same contract.

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/// Copies the path the process was started with (possibly relative, possibly
/// a symbolic link) and returns 0 when it fits in `*bufsize` bytes with its
/// NUL; otherwise stores the size needed in `*bufsize` and returns -1.
/// Returns 1 when the system does not tell the path.
int _NSGetExecutablePath(char* buf, uint32_t* bufsize);

#ifdef __cplusplus
}
#endif

#endif
