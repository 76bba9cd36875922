#include "Progress.h"

#include <gtest/gtest.h>

#include <regex>

TEST(Progress, ElapsedTimeInTheUnitThatReadsBest) {
    const std::pair<double, std::string> cases[] = {
        {0.04, "0.0 s"}, {21.44, "21.4 s"}, {59.94, "59.9 s"}, {59.96, "1 min 0 s"},
        {192.3, "3 min 12 s"}, {3725, "1 h 2 min"},
    };
    for (const auto& [seconds, text] : cases) {
        EXPECT_EQ(text, Progress::elapsedText(seconds)) << seconds;
    }
}

TEST(Progress, AStepLineEndsWithItsResultOrIsRepeatedAfterAnInterruption) {
    std::string out;
    {
        Progress p([&](const std::string& text) { out += text; }, /*quiet=*/false);
        p.step("A").done("Accepted");
        Progress::Step b = p.step("B");
        p.warn("w");
        b.done();
        Progress::Step c = p.step("C");
    }
    const std::regex expected("A \\.\\.\\. Accepted after 0\\.[0-9] s\nB \\.\\.\\.\n"
                              "kovalu-bundle: warning: w\nB \\.\\.\\. 0\\.[0-9] s\n"
                              "C \\.\\.\\. failed after 0\\.[0-9] s\n");
    EXPECT_TRUE(std::regex_match(out, expected)) << out;
    std::string quiet;
    Progress q([&](const std::string& text) { quiet += text; }, /*quiet=*/true);
    q.step("A").done();
    q.warn("w");
    EXPECT_EQ("kovalu-bundle: warning: w\n", quiet);
}
