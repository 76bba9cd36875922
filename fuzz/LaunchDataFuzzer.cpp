// Flattens random launch descriptions into the one-block launch data. The
// block must be as large as the size query said, hold exactly the strings of
// the description, and point nowhere outside itself; a buffer that is one
// byte short must be refused untouched.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "JvmLauncher.h"
#include "JvmLauncherLib.h"

namespace {

const size_t headerSize = 40;

// Every byte counted the way the block stores it: strings with their NUL,
// pointer arrays of 8 bytes per entry, argv with its closing null.
size_t expectedSize(const Jvm& jvm) {
    size_t size = headerSize + jvm.getLibraryPath().size() + 1;
    size += 8 * (jvm.getArguments().size() + 1);
    for (const auto& s : jvm.getArguments()) {
        size += s.size() + 1;
    }
    size += 8 * jvm.getEnvNames().size();
    for (const auto& s : jvm.getEnvNames()) {
        size += s.size() + 1;
    }
    size += 8 * jvm.getEnvValues().size();
    for (const auto& s : jvm.getEnvValues()) {
        size += s.size() + 1;
    }
    return size;
}

class Block {
public:
    Block(const char* data, size_t size) : begin(data), end(data + size) {}

    // The block packs pointers without alignment, so they are read bytewise.
    const char* pointerAt(const char* where) const {
        if (where < begin || where + sizeof(void*) > end) {
            kvfuzz::fail("pointer slot outside the block");
        }
        const char* p;
        std::memcpy(&p, where, sizeof p);
        return p;
    }

    int32_t intAt(size_t offset) const {
        int32_t value;
        std::memcpy(&value, begin + offset, sizeof value);
        return value;
    }

    // A string the block points at: it must start and end inside the block.
    std::string stringAt(const char* p, const char* what) const {
        if (p < begin + headerSize || p >= end) {
            kvfuzz::fail(std::string(what) + " points outside the block");
        }
        const void* nul = std::memchr(p, '\0', static_cast<size_t>(end - p));
        if (!nul) {
            kvfuzz::fail(std::string(what) + " runs past the end of the block");
        }
        return std::string(p);
    }

    // A pointer array of `count` entries: it must lie wholly inside the block.
    void checkArray(const char* p, size_t count, const char* what) const {
        if (p < begin + headerSize || p > end || static_cast<size_t>(end - p) < 8 * count) {
            kvfuzz::fail(std::string(what) + " array outside the block");
        }
    }

    const char* const begin;
    const char* const end;
};

// What a C reader of the block sees of a string: the bytes up to the first NUL.
std::string asCString(const std::string& s) {
    return std::string(s.c_str());
}

void checkStrings(const Block& block, const char* array, const std::vector<std::string>& expected,
                  const char* what) {
    block.checkArray(array, expected.size(), what);
    for (size_t i = 0; i < expected.size(); ++i) {
        const char* p = block.pointerAt(array + 8 * i);
        if (block.stringAt(p, what) != asCString(expected[i])) {
            kvfuzz::fail(std::string(what) + " " + std::to_string(i) + " differs");
        }
    }
}

void checkBlock(const Jvm& jvm, const char* data, size_t size) {
    const Block block(data, size);
    const char* libPath = block.pointerAt(data);
    if (libPath != data + headerSize ||
        block.stringAt(libPath, "libPath") != asCString(jvm.getLibraryPath())) {
        kvfuzz::fail("libPath is not the path right behind the header");
    }

    const auto& args = jvm.getArguments();
    if (block.intAt(8) != static_cast<int32_t>(args.size())) {
        kvfuzz::fail("argc differs");
    }
    const char* argv = block.pointerAt(data + 16);
    if (argv != data + headerSize + jvm.getLibraryPath().size() + 1) {
        kvfuzz::fail("argv does not follow the library path");
    }
    checkStrings(block, argv, args, "argv");
    block.checkArray(argv, args.size() + 1, "argv");
    if (block.pointerAt(argv + 8 * args.size()) != nullptr) {
        kvfuzz::fail("argv is not closed by a null pointer");
    }

    if (block.intAt(12) != static_cast<int32_t>(jvm.getEnvNames().size())) {
        kvfuzz::fail("envCount differs");
    }
    checkStrings(block, block.pointerAt(data + 24), jvm.getEnvNames(), "envNames");
    checkStrings(block, block.pointerAt(data + 32), jvm.getEnvValues(), "envValues");
}

void checkShortBuffer(const Jvm& jvm, size_t size) {
    JvmlLauncherAPI* api = jvmLauncherGetAPI();
    JvmlLauncherHandle handle = jvm.exportLauncher();
    std::vector<char> buffer(size, '\x5a');
    const JvmlLauncherData* result =
        api->initJvmlLauncherData(handle, buffer.data(), static_cast<int32_t>(size - 1));
    api->closeHandle(handle);
    if (result) {
        kvfuzz::fail("a buffer one byte short was accepted");
    }
    for (char c : buffer) {
        if (c != '\x5a') {
            kvfuzz::fail("a refused buffer was written");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kvfuzz::silenceLogging();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    Jvm jvm;
    jvm.setLibraryPath(input.ConsumeRandomLengthString(256));
    const size_t argCount = input.ConsumeIntegralInRange<size_t>(0, 64);
    for (size_t i = 0; i < argCount && input.remaining_bytes() > 0; ++i) {
        jvm.addArgument(input.ConsumeRandomLengthString(128));
    }
    const size_t envCount = input.ConsumeIntegralInRange<size_t>(0, 8);
    for (size_t i = 0; i < envCount && input.remaining_bytes() > 0; ++i) {
        const std::string name = input.ConsumeRandomLengthString(32);
        jvm.addEnvironmentVariable(name, input.ConsumeRandomLengthString(128));
    }

    JvmlLauncherAPI* api = jvmLauncherGetAPI();
    JvmlLauncherHandle query = jvm.exportLauncher();
    const int32_t queried = api->getJvmlLauncherDataSize(query);
    api->closeHandle(query);
    const size_t expected = expectedSize(jvm);
    if (queried < 0 || static_cast<size_t>(queried) != expected) {
        kvfuzz::fail("size query gave " + std::to_string(queried) + ", the layout needs " +
                     std::to_string(expected));
    }

    int32_t written = -1;
    JvmlLauncherData* block = jvmLauncherCreateJvmlLauncherData(api, jvm.exportLauncher(), &written);
    if (!block) {
        kvfuzz::fail("no block for a valid description");
    }
    if (written != queried) {
        kvfuzz::fail("block size " + std::to_string(written) + " differs from the size query " +
                     std::to_string(queried));
    }
    checkBlock(jvm, reinterpret_cast<const char*>(block), expected);
    std::free(block);

    checkShortBuffer(jvm, expected);
    return 0;
}
