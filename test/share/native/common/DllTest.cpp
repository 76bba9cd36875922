#include "Dll.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <memory>

#include "TestSupport.h"

namespace {

const std::string kLib = KVTEST_FAKEJLI_PATH;
// The small library has no C++ statics that could pin it in memory, so its
// unloading can be observed.
const std::string kSmallLib = KVTEST_FAKEJLI_NOSYM_PATH;
const char* const kSmallLibFunction = "kvtestNotTheLauncher";

// What the loader itself says about a failing load or lookup.
std::string loaderErrorOfOpen(const std::string& path) {
    void* h = ::dlopen(path.c_str(), RTLD_LAZY);
    EXPECT_EQ(nullptr, h);
    const char* e = ::dlerror();
    return e ? e : "";
}

std::string loaderErrorOfLookup(const std::string& path, const std::string& name) {
    void* h = ::dlopen(path.c_str(), RTLD_LAZY);
    EXPECT_NE(nullptr, h);
    ::dlerror();
    EXPECT_EQ(nullptr, ::dlsym(h, name.c_str()));
    const char* e = ::dlerror();
    const std::string text = e ? e : "";
    ::dlclose(h);
    return text;
}

using kvtest::isLoaded;
using kvtest::thrownBy;

TEST(Dll, LoadsAndFindsAFunction) {
    ASSERT_FALSE(isLoaded(kSmallLib));
    {
        Dll lib(tstrings::any() << kSmallLib);
        EXPECT_TRUE(isLoaded(kSmallLib));
        auto fn = reinterpret_cast<int (*)()>(lib.getFunction(kSmallLibFunction, true));
        ASSERT_NE(nullptr, fn);
        EXPECT_EQ(0, fn());
    }
    EXPECT_FALSE(isLoaded(kSmallLib));
}

TEST(Dll, CopyHoldsItsOwnLoad) {
    auto first = std::make_unique<Dll>(tstrings::any(kSmallLib));
    Dll copy(*first);
    first.reset();
    ASSERT_TRUE(isLoaded(kSmallLib));
    auto fn = reinterpret_cast<int (*)()>(copy.getFunction(kSmallLibFunction, true));
    EXPECT_EQ(0, fn());
}

TEST(Dll, EveryLoadIsReleased) {
    {
        Dll first{tstrings::any(kSmallLib)};
        { Dll copy(first); }
        EXPECT_TRUE(isLoaded(kSmallLib));
    }
    EXPECT_FALSE(isLoaded(kSmallLib));
}

TEST(Dll, MissingLibraryIsAnErrorWithTheLoaderText) {
    kvtest::TempDir tmp;
    const std::string path = tmp / "libmissing.so";
    const kvtest::Thrown c = thrownBy([&] { Dll lib{tstrings::any(path)}; });
    EXPECT_EQ("dlopen(" + path + ") failed. Error: " + loaderErrorOfOpen(path), c.raw);
    EXPECT_NE(std::string::npos, c.what.find("UnixDll.cpp("));
    EXPECT_NE(std::string::npos, c.what.find(") at loadLibrary(): dlopen("));
}

TEST(Dll, MissingFunction) {
    Dll lib{tstrings::any(kSmallLib)};
    EXPECT_EQ(nullptr, lib.getFunction("JLI_Launch", false));

    const kvtest::Thrown c = thrownBy([&] { lib.getFunction("JLI_Launch", true); });
    EXPECT_EQ("dlsym(" + kSmallLib + ", JLI_Launch) failed. Error: " +
                  loaderErrorOfLookup(kSmallLib, "JLI_Launch"),
              c.raw);
    EXPECT_NE(std::string::npos, c.what.find(") at getFunction(): dlsym("));

    void* fn = nullptr;
    EXPECT_EQ(c.raw, thrownBy([&] { lib.getFunction(tstrings::any("JLI_Launch"), fn); }).raw);
}

TEST(Dll, FreeLibraryReleasesAHandleAndIgnoresNull) {
    Dll::freeLibrary(nullptr);
    void* h = ::dlopen(kSmallLib.c_str(), RTLD_LAZY);
    ASSERT_NE(nullptr, h);
    Dll::freeLibrary(h);
    EXPECT_FALSE(isLoaded(kSmallLib));
}

TEST(DllFunction, KeepsTheLibraryLoadedWhileAlive) {
    auto lib = std::make_unique<Dll>(tstrings::any(kSmallLib));
    {
        DllFunction<void*> fn(*lib, tstrings::any(kSmallLibFunction));
        lib.reset();
        ASSERT_TRUE(isLoaded(kSmallLib));
        void* address = fn;
        EXPECT_EQ(0, reinterpret_cast<int (*)()>(address)());
    }
    EXPECT_FALSE(isLoaded(kSmallLib));
}

TEST(DllFunction, ConvertsToTheLookedUpAddress) {
    Dll lib{tstrings::any(kLib)};
    const DllFunction<void*> fn(lib, tstrings::any("JLI_Launch"));
    const void* address = fn;
    EXPECT_EQ(lib.getFunction("JLI_Launch", true), address);
}

TEST(DllFunction, FailedLookupReleasesItsCopy) {
    {
        Dll lib{tstrings::any(kSmallLib)};
        const kvtest::Thrown c =
            thrownBy([&] { DllFunction<void*> fn(lib, tstrings::any("JLI_Launch")); });
        EXPECT_EQ(0u, c.raw.find("dlsym(" + kSmallLib + ", JLI_Launch) failed. Error: "));
    }
    EXPECT_FALSE(isLoaded(kSmallLib));
}

TEST(DllFunction, UnavailableFunctionMessage) {
    const kvtest::Thrown c = thrownBy([] {
        throwFunctionNotAvailable("JLI_Launch", "/rt/libjli.dylib", "operator void *");
    });
    EXPECT_EQ("JLI_Launch() function is not available in /rt/libjli.dylib", c.raw);
    EXPECT_NE(std::string::npos, c.what.find("Dll.cpp("));
    EXPECT_NE(std::string::npos, c.what.find(") at operator void *(): JLI_Launch()"));
}

} // namespace
