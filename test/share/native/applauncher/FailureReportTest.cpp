#include "FailureReport.h"

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

#include "ErrorHandling.h"
#include "TestSupport.h"
#include "app.h"

namespace {

std::vector<std::string> shown;

void recordAlert(const std::string& title, const std::string& message, double timeout) {
    shown.push_back(title + "|" + message + "|" + std::to_string(static_cast<int>(timeout)));
}

void failFirst() {
    throw makeException("first", KV_SOURCE_CODE_POS);
}

void failSecond() {
    throw makeException("second", KV_SOURCE_CODE_POS);
}

} // namespace

TEST(FailureReport, DialogOnlyWhenLaunchdStartedItWithoutATerminal) {
    const struct {
        bool terminal;
        long parent;
        bool expected;
    } cases[] = {{false, 1, true}, {true, 1, false}, {false, 2, false}, {false, 0, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.parent);
        shown.clear();
        FailureReport::ProcessFacts facts;
        facts.stderrIsTerminal = c.terminal;
        facts.parentPid = c.parent;
        EXPECT_EQ(c.expected, FailureReport::showAlertIfOpenedByLaunchServices(
                                  facts, recordAlert, "Demo", "Failed", "/l/Demo.log"));
        EXPECT_EQ(c.expected ? std::vector<std::string>{"Demo|Failed\n\nThis message is also in "
                                                        "the log file /l/Demo.log|300"}
                             : std::vector<std::string>{},
                  shown);
    }
    EXPECT_EQ("Failed", FailureReport::alertMessage("Failed", ""));
}

TEST(FailureReport, CaptureKeepsTheFirstTextAndPrintsEveryLineAsTheDefault) {
    LogAppender& savedAppender = Logger::defaultLogger().getAppender();
    FailureReport::FailureCapture recorder;
    kvtest::StderrCapture err;
    EXPECT_EQ(1, app::launch(std::nothrow, failFirst, &recorder));
    EXPECT_EQ(1, app::launch(std::nothrow, failSecond, &recorder));
    EXPECT_EQ("first\nsecond\n", err.finish());
    EXPECT_EQ("first", recorder.message());
    Logger::defaultLogger().setAppender(savedAppender);
}

TEST(FailureReport, ErrorOutputTailLeavesOutTheFailureLineAndKeepsTheLastLines) {
    std::string many;
    for (int i = 1; i <= 25; ++i) {
        many += "line " + std::to_string(i) + "\n";
    }
    std::string last20;
    for (int i = 6; i <= 25; ++i) {
        last20 += "line " + std::to_string(i) + (i < 25 ? "\n" : "");
    }
    const struct {
        std::string captured;
        std::size_t maxBytes;
        std::string expected;
    } cases[] = {
        {"", 4096, ""},
        {"E\n", 4096, ""},
        {"cause\nE\n", 4096, "cause"},
        {"cause\nE\n[TRACE] after\n", 4096, "cause\n[TRACE] after"},
        {"E\nE\n", 4096, "E"},
        {"xE\n", 4096, "xE"},
        {many + "E\n", 4096, last20},
        {"first line\nsecond\nthird\n", 12, "second\nthird"},
        {"one long line\n", 4, "line"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.captured);
        EXPECT_EQ(c.expected, FailureReport::errorOutputTail(c.captured, "E", c.maxBytes));
    }
    EXPECT_EQ("E", FailureReport::withErrorOutput("E", ""));
    EXPECT_EQ("E\n\nThe last lines of standard error:\ncause",
              FailureReport::withErrorOutput("E", "cause"));
}
