#include "MachO.h"

#include <gtest/gtest.h>

TEST(MachO, IsMachO) {
    const std::pair<std::string, bool> cases[] = {
        {std::string("\xcf\xfa\xed\xfe\x0c\0\0\x01", 8), true}, // thin 64-bit
        {"\xce\xfa\xed\xfe", true},                          // thin 32-bit
        {std::string("\xca\xfe\xba\xbe\0\0\0\x02", 8), true},   // universal, two slices
        {std::string("\xca\xfe\xba\xbe\0\0\0\x2c", 8), true},   // 44 architectures
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
