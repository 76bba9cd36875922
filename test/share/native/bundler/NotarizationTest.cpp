#include "Notarization.h"

#include <gtest/gtest.h>

#include "TestSupport.h"

TEST(Notarization, ReadsTheVerdictAndEachIssueOfTheLog) {
    const Notarization::Submission s = Notarization::readSubmission(
        "{\"id\":\"2efe\",\"message\":\"Processing complete\",\"status\":\"Invalid\"}");
    EXPECT_EQ("2efe", s.id);
    EXPECT_EQ("Invalid", s.status);
    EXPECT_EQ("Processing complete", s.message);
    EXPECT_EQ("notarytool answered no JSON object",
              kvtest::thrownBy([] { Notarization::readSubmission("[]"); }).raw);
    const std::pair<std::string, std::vector<std::string>> logs[] = {
        {"{\"issues\":[{\"path\":\"A.zip/A.app/x\",\"message\":\"not signed\"},"
         "{\"message\":\"no path\"}],\"statusSummary\":\"s\"}",
         {"A.zip/A.app/x: not signed", ": no path"}},
        {"{\"issues\":null,\"statusSummary\":\"Archive contains critical validation errors\"}",
         {"Archive contains critical validation errors"}},
        {"{\"issues\":[]}", {}},
    };
    for (const auto& [log, lines] : logs) {
        EXPECT_EQ(lines, Notarization::readIssues(log)) << log;
    }
}

TEST(Notarization, ReasonIsWhatTheToolSaidWithoutItsPathOrProgress) {
    const std::pair<std::string, std::string> cases[] = {
        {"Processing: /x/A.app\nA.app does not have a ticket stapled to it.\n",
         "A.app does not have a ticket stapled to it."},
        {"/x/A.app: rejected\nsource=Unnotarized Developer ID\n",
         "rejected; source=Unnotarized Developer ID"},
        {"\n", "no output"},
    };
    for (const auto& [output, reason] : cases) {
        EXPECT_EQ(reason, Notarization::reason(output, "/x/A.app"));
    }
}
