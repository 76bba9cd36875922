#ifndef KOVALU_DLL_H
#define KOVALU_DLL_H

#include <string>
#include <type_traits>

#include "tstrings.h"

/// Owns one load of a dynamic library, made by path.
class Dll {
public:
    /// Loads the library; throws when the loader refuses it.
    explicit Dll(const tstrings::any& libPath);
    /// Loads the same path again: each copy holds and releases its own load.
    Dll(const Dll& other);
    Dll& operator=(const Dll&) = delete;
    ~Dll();

    /// The address of `name`, or null when it is missing and
    /// `throwIfNotFound` is false; throws when it is missing and true.
    void* getFunction(const std::string& name, bool throwIfNotFound) const;

    /// Sets `fn` to the address of `name`; a missing name throws.
    template <class T>
    void getFunction(const tstrings::any& name, T& fn) const {
        fn = reinterpret_cast<T>(getFunction(name.str(), true));
    }

    const std::string& getPath() const { return path; }

    /// Releases a loader handle; a null handle is ignored.
    static void freeLibrary(void* handle);

private:
    std::string path;
    void* handle;
};

/// Throws "<name>() function is not available in <path>" from `function`.
[[noreturn]] void throwFunctionNotAvailable(const std::string& name, const std::string& path,
                                            const char* function);

/// One function of a library; keeps its own load of the library while alive.
template <class T>
class DllFunction {
public:
    DllFunction(const Dll& lib, const tstrings::any& name)
        : library(lib), address(), symbolName(name.str()) {
        // A throwing lookup destroys the copied `library`, releasing its load.
        library.getFunction(tstrings::any(symbolName), address);
    }

    operator T() const {
        if (!address) {
            throwFunctionNotAvailable(symbolName, library.getPath(),
                                      std::is_same<T, void*>::value ? "operator void *" : __func__);
        }
        return address;
    }

private:
    Dll library;
    T address;
    std::string symbolName;
};

#endif
