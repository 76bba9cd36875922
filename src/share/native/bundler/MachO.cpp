#include "MachO.h"

namespace {

unsigned long bigEndian32(const std::string& bytes, std::size_t at) {
    unsigned long value = 0;
    for (std::size_t i = at; i < at + 4; ++i) {
        value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    }
    return value;
}

} // namespace

namespace MachO {

bool isMachO(const std::string& head) {
    if (head.size() < 4) {
        return false;
    }
    const unsigned long magic = bigEndian32(head, 0);
    // Thin files are written in the target's (little-endian) byte order.
    if (magic == 0xcffaedfeUL || magic == 0xcefaedfeUL) {
        return true;
    }
    if (magic != 0xcafebabeUL || head.size() < 8) {
        return false;
    }
    const unsigned long count = bigEndian32(head, 4);
    return count >= 1 && count < 45;
}

} // namespace MachO
