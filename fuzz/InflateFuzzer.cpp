// Feeds arbitrary bytes to the deflate decoder: it may only decode or throw
// the tool's error, and a limit must cut decoding short without changing the
// bytes it did decode.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "ErrorHandling.h"
#include "FuzzSupport.h"
#include "Inflate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string in(reinterpret_cast<const char*>(data), size);
    // What a few KiB of deflate data may stand for is bounded by the limit.
    const std::size_t limit = 1 << 20;
    try {
        const std::string all = Inflate::inflate(in, limit);
        const std::string head = Inflate::inflate(in, 64);
        if (head.size() < 64 && head != all) {
            kvfuzz::fail("a limit changed a short result");
        }
        if (all.compare(0, head.size(), head) != 0 && all.size() >= head.size()) {
            kvfuzz::fail("a limit changed the first bytes");
        }
    } catch (const KvErrorBase&) {
    } catch (const std::exception& e) {
        kvfuzz::fail(std::string("not the tool's error: ") + e.what());
    }
    return 0;
}
