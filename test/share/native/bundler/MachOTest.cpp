#include "MachO.h"

#include <gtest/gtest.h>

TEST(MachO, IsMachO) {
    const std::pair<std::string, bool> cases[] = {
        {std::string("\xcf\xfa\xed\xfe\x0c\0\0\x01", 8), true}, // thin 64-bit
        {"\xce\xfa\xed\xfe", true},                          // thin 32-bit
        {std::string("\xca\xfe\xba\xbe\0\0\0\x02", 8), true},   // universal, two slices
        {std::string("\xca\xfe\xba\xbe\0\0\0\x2c", 8), true},   // 44 architectures
        {std::string("\xca\xfe\xba\xbf\0\0\0\x02", 8), true},   // universal, 64-bit header
        {std::string("\xca\xfe\xba\xbf\0\0\0\x3d", 8), false},  // no such count
        {std::string("\xca\xfe\xba\xbe\0\0\0\x2d", 8), false},  // class file, Java 1.1
        {std::string("\xca\xfe\xba\xbe\0\0\0\x3d", 8), false},  // class file, Java 17
        {std::string("\xca\xfe\xba\xbe\0\0\0\0", 8), false},    // no architecture
        {"\xca\xfe\xba\xbe", false},                          // too short to tell
        {"\xcf\xfa\xed", false},
        {"\x7f" "ELF\x02\x01\x01\x00", false},
        {"", false},
    };
    for (const auto& [head, expected] : cases) {
        EXPECT_EQ(expected, MachO::isMachO(head)) << testing::PrintToString(head);
    }
}

// A universal file's kind is read from its first slice.
TEST(MachO, FirstSliceAndExecutable) {
    const std::string slice = std::string("\0\0\0\x01\0\0\0\0", 8);
    const std::string thin = std::string("\xcf\xfa\xed\xfe\x0c\0\0\x01\0\0\0\0", 12);
    const struct {
        std::string head;
        std::optional<unsigned long long> slice;
        bool executable;
    } cases[] = {
        {std::string("\xca\xfe\xba\xbe\0\0\0\x01", 8) + slice + std::string("\0\0\x40\0", 4), 0x4000, false},
        {std::string("\xca\xfe\xba\xbf\0\0\0\x01", 8) + slice + std::string("\0\0\0\x01\0\0\x80\0", 8),
         0x100008000ULL, false},
        {std::string("\xca\xfe\xba\xbf\0\0\0\x01", 8) + slice + std::string("\0\0\x40", 3), std::nullopt, false},
        {thin + std::string("\x02\0\0\0", 4), std::nullopt, true},  // MH_EXECUTE
        {thin + std::string("\x06\0\0\0", 4), std::nullopt, false}, // MH_DYLIB
        {thin + std::string("\x02\0\0\x01", 4), std::nullopt, false},
        {thin, std::nullopt, false},
        {std::string("\xca\xfe\xba\xbe\0\0\0\x3d", 8) + slice + std::string("\0\0\x40\0", 4), std::nullopt, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.slice, MachO::firstSlice(c.head)) << testing::PrintToString(c.head);
        EXPECT_EQ(c.executable, MachO::isExecutable(c.head)) << testing::PrintToString(c.head);
    }
}
