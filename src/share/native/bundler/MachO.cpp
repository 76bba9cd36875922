#include "MachO.h"

namespace {

unsigned long long bigEndian(const std::string& bytes, std::size_t at, std::size_t width) {
    unsigned long long value = 0;
    for (std::size_t i = at; i < at + width; ++i) {
        value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    }
    return value;
}

const unsigned long long universal32 = 0xcafebabeULL;
const unsigned long long universal64 = 0xcafebabfULL;

bool isThin(unsigned long long magic) {
    // Thin files are written in the target's (little-endian) byte order.
    return magic == 0xcffaedfeULL || magic == 0xcefaedfeULL;
}

} // namespace

namespace MachO {

bool isMachO(const std::string& head) {
    if (head.size() < 4) {
        return false;
    }
    const unsigned long long magic = bigEndian(head, 0, 4);
    if (isThin(magic)) {
        return true;
    }
    if ((magic != universal32 && magic != universal64) || head.size() < 8) {
        return false;
    }
    const unsigned long long count = bigEndian(head, 4, 4);
    return count >= 1 && count < 45;
}

std::optional<unsigned long long> firstSlice(const std::string& head) {
    if (!isMachO(head) || isThin(bigEndian(head, 0, 4))) {
        return std::nullopt;
    }
    // The first entry follows the eight-byte header: CPU type and subtype,
    // then the offset, four bytes wide in the 32-bit header, eight in the other.
    const bool wide = bigEndian(head, 0, 4) == universal64;
    if (head.size() < (wide ? 24u : 20u)) {
        return std::nullopt;
    }
    return bigEndian(head, 16, wide ? 8 : 4);
}

bool isExecutable(const std::string& head) {
    if (head.size() < 16 || !isThin(bigEndian(head, 0, 4))) {
        return false;
    }
    const unsigned long fileType = static_cast<unsigned char>(head[12]) |
                                   static_cast<unsigned long>(static_cast<unsigned char>(head[13])) << 8;
    return fileType == 2 && head[14] == 0 && head[15] == 0;
}

} // namespace MachO
