#include "Log.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <sstream>

#include <gtest/gtest.h>

#include "TestSupport.h"

using kvtest::LogRecorder;

namespace {

LogEvent makeEvent(const char* level, const char* file, int line, const char* function,
                   const char* message) {
    LogEvent event;
    event.levelText = level;
    event.fileName = file;
    event.line = line;
    event.functionName = function;
    event.message = message;
    return event;
}

// Level, file, line, function and message of a record, in one text.
std::string fields(const LogEvent& e) {
    return e.levelText + " " + e.fileName + ":" + std::to_string(e.line) + " " + e.functionName +
           ": " + e.message;
}

std::string formatted(const LogEvent& event) {
    std::ostringstream out;
    StreamLogAppender appender(out);
    appender.append(event);
    return out.str();
}

int composed;

int countComposition() {
    ++composed;
    return composed;
}

int tracedFunctionLine;

void tracedFunction() {
    tracedFunctionLine = __LINE__ + 1;
    LOG_TRACE_FUNCTION();
    LOG_WARNING("careful " << 3);
}

} // namespace

TEST(LogStreamLogAppender, WritesPositionLineThenIndentedLevelAndMessage) {
    EXPECT_EQ("[main:42 (run)]\n\tTRACE: Starting\n",
              formatted(makeEvent("TRACE", "main", 42, "run", "Starting")));
    EXPECT_EQ("[f.cpp:-3 (~Jvm)]\n\tERROR: a\nb\n",
              formatted(makeEvent("ERROR", "f.cpp", -3, "~Jvm", "a\nb")));
    EXPECT_EQ("[:0 ()]\n\tINFO: \n", formatted(makeEvent("INFO", "", 0, "", "")));
}

TEST(LogLogger, LevelTextsIncludingUnknown) {
    LogRecorder recorder;
    const Logger logger(recorder, Logger::LogTrace);
    const int levels[] = {0, 1, 2, 3, 4, -1, 100};
    for (int level : levels) {
        logger.log(static_cast<Logger::LogLevel>(level), "f", 1, "g", "m");
    }
    const char* expected[] = {"TRACE", "INFO", "WARNING", "ERROR", "UNKNOWN", "UNKNOWN", "UNKNOWN"};
    ASSERT_EQ(7u, recorder.events.size());
    for (std::size_t i = 0; i < recorder.events.size(); ++i) {
        EXPECT_EQ(expected[i], recorder.events[i].levelText) << "level " << levels[i];
    }
}

TEST(LogLogger, FillsEveryFieldAndKeepsLastFileComponent) {
    LogRecorder recorder;
    const Logger logger(recorder, Logger::LogTrace);
    logger.log(Logger::LogWarning, "/src/share/x.cpp", 12, "initFromConfigFile", "text");
    logger.log(Logger::LogTrace, "a\\b\\c.cpp", 1, "f", "");
    logger.log(Logger::LogTrace, "dir/", 1, "f", "");
    logger.log(Logger::LogTrace, "plain", 1, "f", "");
    ASSERT_EQ(4u, recorder.events.size());
    EXPECT_EQ("WARNING x.cpp:12 initFromConfigFile: text", fields(recorder.events[0]));
    EXPECT_EQ("c.cpp", recorder.events[1].fileName);
    EXPECT_EQ("", recorder.events[2].fileName);
    EXPECT_EQ("plain", recorder.events[3].fileName);
}

TEST(LogLogger, LogIgnoresThresholdButIsLoggableHonoursIt) {
    LogRecorder recorder;
    Logger logger(recorder, Logger::LogWarning);
    EXPECT_FALSE(logger.isLoggable(Logger::LogInfo));
    EXPECT_TRUE(logger.isLoggable(Logger::LogWarning));
    EXPECT_TRUE(logger.isLoggable(static_cast<Logger::LogLevel>(7)));
    logger.log(Logger::LogTrace, "f", 1, "g", "below");
    EXPECT_EQ(1u, recorder.events.size());
    logger.setLogLevel(Logger::LogTrace);
    EXPECT_FALSE(logger.isLoggable(static_cast<Logger::LogLevel>(-1)));
    EXPECT_TRUE(logger.isLoggable(Logger::LogTrace));
}

TEST(LogScopeTracer, LogsEntryAndExitWithEntryLineInMessage) {
    LogRecorder recorder;
    Logger logger(recorder, Logger::LogTrace);
    {
        const Logger::ScopeTracer tracer(logger, Logger::LogInfo, "/x/app.cpp", 123, "launch",
                                         "launch");
        ASSERT_EQ(1u, recorder.events.size());
    }
    ASSERT_EQ(2u, recorder.events.size());
    EXPECT_EQ("INFO app.cpp:123 launch: Entering launch", fields(recorder.events[0]));
    EXPECT_EQ("INFO app.cpp:0 launch: Exiting launch (entered at app.cpp:123)",
              fields(recorder.events[1]));
}

TEST(LogScopeTracer, DecidesOnceAtConstruction) {
    LogRecorder recorder;
    Logger logger(recorder, Logger::LogWarning);
    {
        const Logger::ScopeTracer tracer(logger, Logger::LogTrace, "f", 1, "g", "off");
        logger.setLogLevel(Logger::LogTrace);
    }
    EXPECT_TRUE(recorder.events.empty());
    {
        const Logger::ScopeTracer tracer(logger, Logger::LogTrace, "f", 1, "g", "on");
        logger.setLogLevel(Logger::LogError);
    }
    ASSERT_EQ(2u, recorder.events.size());
    EXPECT_EQ("Exiting on (entered at f:1)", recorder.events[1].message);
}

TEST(LogScopeTracer, KeepsCopiesOfItsTexts) {
    LogRecorder recorder;
    Logger logger(recorder, Logger::LogTrace);
    std::string file = "dir/a.cpp";
    std::string function = "fn";
    {
        const Logger::ScopeTracer tracer(logger, Logger::LogTrace, file.c_str(), 9,
                                         function.c_str(), "scope");
        file.assign(100, 'z');
        function.assign(100, 'z');
    }
    ASSERT_EQ(2u, recorder.events.size());
    EXPECT_EQ("TRACE a.cpp:0 fn: Exiting scope (entered at a.cpp:9)", fields(recorder.events[1]));
}

TEST(LogTeeLogAppender, ForwardsToFirstThenSecondSkippingNull) {
    std::vector<std::string> order;
    LogRecorder a(&order, "a");
    LogRecorder b(&order, "b");
    TeeLogAppender(&a, &b).append(LogEvent());
    TeeLogAppender(nullptr, &b).append(LogEvent());
    TeeLogAppender(&a, nullptr).append(LogEvent());
    TeeLogAppender(nullptr, nullptr).append(LogEvent());
    EXPECT_EQ((std::vector<std::string>{"a", "b", "b", "a"}), order);
}

TEST(LogWithExtraLogAppender, AddsExtraAfterPreviousAndRestores) {
    std::vector<std::string> order;
    LogRecorder previous(&order, "previous");
    LogRecorder extra(&order, "extra");
    Logger::defaultLogger().setAppender(previous);
    {
        const WithExtraLogAppender with(extra);
        Logger::defaultLogger().log(Logger::LogTrace, "f", 1, "g", "during");
    }
    Logger::defaultLogger().log(Logger::LogTrace, "f", 1, "g", "after");
    EXPECT_EQ((std::vector<std::string>{"previous", "extra", "previous"}), order);
    EXPECT_EQ(&previous, &Logger::defaultLogger().getAppender());
}

TEST(LogCallSite, MacrosCarryCallSiteAndSkipCompositionBelowThreshold) {
    LogRecorder recorder;
    tracedFunction();
    ASSERT_EQ(3u, recorder.events.size());
    const std::string line = std::to_string(tracedFunctionLine);
    EXPECT_EQ("TRACE LogTest.cpp:" + line + " tracedFunction: Entering tracedFunction",
              fields(recorder.events[0]));
    EXPECT_EQ("WARNING LogTest.cpp:" + std::to_string(tracedFunctionLine + 1) +
                  " tracedFunction: careful 3",
              fields(recorder.events[1]));
    EXPECT_EQ("Exiting tracedFunction (entered at LogTest.cpp:" + line + ")",
              recorder.events[2].message);

    composed = 0;
    Logger::defaultLogger().setLogLevel(Logger::LogWarning);
    LOG_TRACE("never " << countComposition());
    EXPECT_EQ(0, composed);
    EXPECT_EQ(3u, recorder.events.size());
}

// Needs a pristine process: "threadsafe" death tests re-run the test binary, so
// no appender has been installed in the child when the record is logged.
TEST(LogDefaultLoggerDeathTest, WritesToStandardOutputBeforeAnyAppenderIsInstalled) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            int fds[2];
            std::fflush(stdout);
            if (::pipe(fds) != 0 || ::dup2(fds[1], 1) < 0) {
                ::_exit(2);
            }
            const int line = __LINE__ + 1;
            Logger::defaultLogger().log(Logger::LogTrace, __FILE__, line, "run", "Starting");
            ::close(1);
            ::close(fds[1]);
            char buffer[256];
            const ssize_t size = ::read(fds[0], buffer, sizeof(buffer));
            const std::string out(buffer, size > 0 ? static_cast<std::size_t>(size) : 0);
            const std::string expected =
                "[LogTest.cpp:" + std::to_string(line) + " (run)]\n\tTRACE: Starting\n";
            std::fprintf(stderr, "stdout: '%s'\n", out.c_str());
            const bool loggable = Logger::defaultLogger().isLoggable(Logger::LogTrace);
            ::_exit(out == expected && loggable ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}
