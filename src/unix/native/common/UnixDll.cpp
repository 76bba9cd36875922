#include "Dll.h"

#include <dlfcn.h>

#include <utility>

#include "ErrorHandling.h"

namespace {

std::string loaderError() {
    const char* error = ::dlerror();
    return error ? error : "";
}

void* loadLibrary(const std::string& path) {
    void* handle = ::dlopen(path.c_str(), RTLD_LAZY);
    if (!handle) {
        const std::string error = loaderError();
        throw makeException(tstrings::any() << "dlopen(" << path << ") failed. Error: " << error,
                            KV_SOURCE_CODE_POS);
    }
    return handle;
}

} // namespace

Dll::Dll(const tstrings::any& libPath) : path(libPath.str()), handle(loadLibrary(path)) {}

Dll::Dll(const Dll& other) : path(other.path), handle(loadLibrary(path)) {}

Dll::~Dll() {
    void* taken = std::exchange(handle, nullptr);
    if (taken) {
        freeLibrary(taken);
    }
}

void* Dll::getFunction(const std::string& name, bool throwIfNotFound) const {
    // Drop a stale error so the one reported belongs to this lookup.
    ::dlerror();
    void* address = ::dlsym(handle, name.c_str());
    if (address || !throwIfNotFound) {
        return address;
    }
    const std::string error = loaderError();
    throw makeException(tstrings::any() << "dlsym(" << path << ", " << name << ") failed. Error: "
                                        << error,
                        KV_SOURCE_CODE_POS);
}

void Dll::freeLibrary(void* handle) {
    if (handle) {
        ::dlclose(handle);
    }
}
