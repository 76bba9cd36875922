#include <mach-o/dyld.h>

#include <gtest/gtest.h>

#include <cstring>

#include "TestSupport.h"

namespace {

uint32_t neededSize() {
    uint32_t size = 0;
    EXPECT_EQ(-1, _NSGetExecutablePath(nullptr, &size));
    return size;
}

TEST(NSGetExecutablePath, ExactSizeFitsWithItsNul) {
    uint32_t size = neededSize();
    ASSERT_GT(size, 1u);
    std::vector<char> buffer(size + 4, 'x');
    ASSERT_EQ(0, _NSGetExecutablePath(buffer.data(), &size));
    EXPECT_EQ(size, std::strlen(buffer.data()) + 1);
    EXPECT_EQ(std::string(4, 'x'), std::string(buffer.begin() + size, buffer.end()));
}

TEST(NSGetExecutablePath, OneByteShortLeavesTheBufferAlone) {
    const uint32_t needed = neededSize();
    uint32_t size = needed - 1;
    std::vector<char> buffer(needed, 'x');
    EXPECT_EQ(-1, _NSGetExecutablePath(buffer.data(), &size));
    EXPECT_EQ(needed, size);
    EXPECT_EQ(std::string(needed, 'x'), std::string(buffer.begin(), buffer.end()));
}

// The path comes back as the process was started: neither made absolute nor
// resolved through links.
TEST(NSGetExecutablePath, GivesThePathAsStarted) {
    kvtest::TempDir tmp;
    kvtest::makeDirs(tmp / "bin");
    kvtest::makeSymlink(KVTEST_SYSINFO_PROBE_PATH, tmp / "bin/probe-link");

    for (const std::string start : {"./probe-link", "../bin/./probe-link"}) {
        const kvtest::ProcessResult r = kvtest::runProcess({start, "--raw"}, {}, tmp / "bin");
        ASSERT_EQ(0, r.exitCode) << r.err;
        EXPECT_EQ(start + "\n", r.out);
    }
    const kvtest::ProcessResult r = kvtest::runProcess({tmp / "bin/probe-link", "--raw"});
    ASSERT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ(tmp / "bin/probe-link\n", r.out);
}

} // namespace
