#include "JvmLauncherLib.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "JvmLauncher.h"

// These functions are called by name from outside the executable, so they stay
// in the dynamic symbol table whatever the default visibility of the build.
#define JVMLAUNCHER_EXPORT __attribute__((visibility("default")))

namespace {

typedef int32_t (*JliLaunchFunc)(int32_t argc, char** argv, int32_t jargc, const char** jargv,
                                 int32_t appclassc, const char** appclassv,
                                 const char* fullversion, const char* dotversion,
                                 const char* pname, const char* lname, unsigned char javaargs,
                                 unsigned char cpwildcard, unsigned char javaw, int32_t ergo);

// The arrays behind the header are packed without alignment, so a slot is
// read byte-wise.
const char* readSlot(char* const* array, int32_t index) {
    const char* value;
    memcpy(&value, reinterpret_cast<const char*>(array) + static_cast<size_t>(index) * sizeof(value),
           sizeof(value));
    return value;
}

} // namespace

extern "C" {

JVMLAUNCHER_EXPORT JvmlLauncherAPI* jvmLauncherGetAPI(void) {
    return &api;
}

JVMLAUNCHER_EXPORT JvmlLauncherData* jvmLauncherCreateJvmlLauncherData(JvmlLauncherAPI* api,
                                                                       JvmlLauncherHandle handle,
                                                                       int32_t* size) {
    if (!handle) {
        return NULL;
    }

    JvmlLauncherData* result = NULL;
    void* buffer = NULL;
    const int32_t dataSize = api->getJvmlLauncherDataSize(handle);
    if (dataSize >= 1) {
        buffer = malloc(static_cast<size_t>(dataSize));
        if (!buffer) {
            jvmLauncherLog("%s", strerror(errno));
        } else {
            result = api->initJvmlLauncherData(handle, buffer, dataSize);
            if (result) {
                buffer = NULL;
                if (size) {
                    *size = dataSize;
                }
            }
        }
    }

    api->closeHandle(handle);
    free(buffer);
    return result;
}

JVMLAUNCHER_EXPORT int32_t jvmLauncherStartJvm(JvmlLauncherData* data, void* JLI_Launch) {
    // The header may sit at any address the caller chose.
    JvmlLauncherData header;
    memcpy(&header, data, sizeof(header));

    jvmLauncherLog("jli lib: [%s]", header.libPath);
    for (int32_t i = 0; i < header.argc; ++i) {
        jvmLauncherLog("jli arg[%d]: [%s]", i, readSlot(header.argv, i));
    }
    if (header.envCount > 0) {
        for (int32_t i = 0; i < header.envCount; ++i) {
            jvmLauncherLog("env var[%d]: %s=[%s]", i, readSlot(header.envNames, i),
                           readSlot(header.envValues, i));
        }
        for (int32_t i = 0; i < header.envCount; ++i) {
            if (setenv(readSlot(header.envNames, i), readSlot(header.envValues, i), 1) != 0) {
                jvmLauncherLog("setenv(%d) failed", i);
            }
        }
    }

    const JliLaunchFunc launch = reinterpret_cast<JliLaunchFunc>(JLI_Launch);
    return launch(header.argc, header.argv, 0, NULL, 0, NULL, "", "", "java", "java",
                  /*javaargs=*/0, /*cpwildcard=*/0, /*javaw=*/0, /*ergo=*/0);
}

JVMLAUNCHER_EXPORT void jvmLauncherLog(const char* format, ...) {
    const char* debug = getenv("KOVALU_DEBUG");
    if (!debug || strcmp(debug, "true") != 0) {
        return;
    }
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
    fputc('\n', stderr);
}

} // extern "C"
