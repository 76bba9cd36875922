#include "Verification.h"

#include <gtest/gtest.h>

using Args = std::vector<std::string>;

TEST(Verification, ABundleIsExecutedAndADiskImageOpened) {
    const std::pair<std::string, Args> cases[] = {
        {"A.app", {"spctl", "--assess", "--type", "execute", "-vv", "A.app"}},
        {"A.dmg",
         {"spctl", "--assess", "--type", "open", "--context", "context:primary-signature", "-vv",
          "A.dmg"}},
    };
    for (const auto& [path, assess] : cases) {
        const std::vector<Verification::Check> checks =
            Verification::checks("codesign", "spctl", "xcrun", path);
        ASSERT_EQ(3u, checks.size());
        EXPECT_EQ((Args{"codesign", "--verify", "--deep", "--strict", "--verbose=2", path}),
                  checks[0].argv);
        EXPECT_EQ(assess, checks[1].argv);
        EXPECT_EQ((Args{"xcrun", "stapler", "validate", path}), checks[2].argv);
    }
}
