#ifndef KOVALU_JVMLAUNCHERLIB_H
#define KOVALU_JVMLAUNCHERLIB_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/// The launch data in one self-contained block: this 40-byte header, then the
/// strings and pointer arrays it points at, packed without alignment.
typedef struct {
    char* libPath;
    int32_t argc;
    int32_t envCount;
    char** argv;
    char** envNames;
    char** envValues;
} JvmlLauncherData;

typedef void* JvmlLauncherHandle;

typedef void (*JvmlLauncherAPI_CloseHandleFunc)(JvmlLauncherHandle);
typedef int32_t (*JvmlLauncherAPI_GetJvmlLauncherDataSizeFunc)(JvmlLauncherHandle);
typedef JvmlLauncherData* (*JvmlLauncherAPI_InitJvmlLauncherDataFunc)(JvmlLauncherHandle, void*, int32_t);

/// The launch-data table: the only way the C side reaches a handle.
typedef struct {
    JvmlLauncherAPI_CloseHandleFunc closeHandle;
    JvmlLauncherAPI_GetJvmlLauncherDataSizeFunc getJvmlLauncherDataSize;
    JvmlLauncherAPI_InitJvmlLauncherDataFunc initJvmlLauncherData;
} JvmlLauncherAPI;

/// The process's launch-data table.
JvmlLauncherAPI* jvmLauncherGetAPI(void);

/// A malloc'ed block for the handle, or null; consumes the handle and stores
/// the block's size through `size` when it is not null.
JvmlLauncherData* jvmLauncherCreateJvmlLauncherData(JvmlLauncherAPI* api,
                                                    JvmlLauncherHandle handle, int32_t* size);

/// Sets the block's environment and calls JLI_Launch at `JLI_Launch`;
/// returns its result.
int32_t jvmLauncherStartJvm(JvmlLauncherData* data, void* JLI_Launch);

/// printf-style line on standard error when "KOVALU_DEBUG" is "true".
void jvmLauncherLog(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

#ifdef __cplusplus
}
#endif

#endif
