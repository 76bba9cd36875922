#include "ErrorHandling.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Log.h"

namespace {

class RecordingAppender : public LogAppender {
public:
    void append(const LogEvent& event) override { events.push_back(event); }
    std::vector<LogEvent> events;
};

// Routes the default logger into a recorder and puts the previous appender back.
class RecordDefaultLogger {
public:
    RecordDefaultLogger() : saved(&Logger::defaultLogger().getAppender()) {
        Logger::defaultLogger().setAppender(recorder);
    }
    ~RecordDefaultLogger() { Logger::defaultLogger().setAppender(*saved); }
    RecordDefaultLogger(const RecordDefaultLogger&) = delete;
    RecordDefaultLogger& operator=(const RecordDefaultLogger&) = delete;

    RecordingAppender recorder;

private:
    LogAppender* saved;
};

} // namespace

TEST(ErrorHandlingMakeException, CarriesRawAndFullMessage) {
    const KvError<std::runtime_error> e =
        makeException(tstrings::any() << "getcwd() " << "returned empty string",
                      SourceCodePos("/src/unix/F.cpp", "toAbsolutePath", 49));
    EXPECT_STREQ("getcwd() returned empty string", e.rawMessage());
    EXPECT_STREQ("F.cpp(49) at toAbsolutePath(): getcwd() returned empty string", e.what());
}

TEST(ErrorHandlingMakeException, PlainStringAndEmptyMessage) {
    const KvError<std::runtime_error> e = makeException("", SourceCodePos("a/b.cpp", "f", 3));
    EXPECT_STREQ("", e.rawMessage());
    EXPECT_STREQ("b.cpp(3) at f(): ", e.what());
}

TEST(ErrorHandlingMakeException, CutsFileAfterEitherSeparator) {
    EXPECT_STREQ("G.cpp(1) at f(): m",
                 makeException("m", SourceCodePos("C:\\x/y\\G.cpp", "f", 1)).what());
    EXPECT_STREQ("(1) at f(): m", makeException("m", SourceCodePos("dir/", "f", 1)).what());
    EXPECT_STREQ("plain(-2) at f(): m", makeException("m", SourceCodePos("plain", "f", -2)).what());
}

TEST(ErrorHandlingMakeException, CaughtThreeWays) {
    const SourceCodePos pos("x/T.cpp", "run", 7);
    try {
        throw makeException("boom", pos);
    } catch (const KvErrorBase& e) {
        EXPECT_STREQ("boom", e.rawMessage());
    }
    try {
        throw makeException("boom", pos);
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ("T.cpp(7) at run(): boom", e.what());
    }
    try {
        throw makeException("boom", pos);
    } catch (const std::exception& e) {
        EXPECT_STREQ("T.cpp(7) at run(): boom", e.what());
    }
}

TEST(ErrorHandlingMakeException, SourcePosMacroNamesTheBareFunction) {
    const SourceCodePos pos = KV_SOURCE_CODE_POS;
    EXPECT_STREQ("TestBody", pos.func);
    EXPECT_EQ(__LINE__ - 2, pos.line);
    EXPECT_STREQ(__FILE__, pos.file);
}

TEST(ErrorHandlingMakeMessage, UsesFullMessageOfNestedError) {
    const KvError<std::runtime_error> inner = makeException("m", SourceCodePos("a.cpp", "f", 1));
    EXPECT_EQ("b.cpp(2) at g(): a.cpp(1) at f(): m",
              makeMessage(inner, SourceCodePos("/b.cpp", "g", 2)));
}

TEST(ErrorHandlingReport, KvErrorIsWrappedWithItsFullMessage) {
    RecordDefaultLogger log;
    reportError(SourceCodePos("/s/G.cpp", "launch", 179),
                makeException("m", SourceCodePos("F.cpp", "f", 4)));
    ASSERT_EQ(1u, log.recorder.events.size());
    const LogEvent& event = log.recorder.events[0];
    EXPECT_EQ("ERROR", event.levelText);
    EXPECT_EQ("G.cpp", event.fileName);
    EXPECT_EQ(179, event.line);
    EXPECT_EQ("launch", event.functionName);
    EXPECT_EQ("Exception with message 'F.cpp(4) at f(): m' caught", event.message);
}

TEST(ErrorHandlingReport, PlainRuntimeErrorIsReportedWithItsWhat) {
    RecordDefaultLogger log;
    reportError(SourceCodePos("G.cpp", "h", 1), std::runtime_error("plain"));
    ASSERT_EQ(1u, log.recorder.events.size());
    EXPECT_EQ("Exception with message 'plain' caught", log.recorder.events[0].message);
}

TEST(ErrorHandlingReport, UnknownErrorHasFixedText) {
    RecordDefaultLogger log;
    reportUnknownError(SourceCodePos("a\\b\\G.cpp", "h", 5));
    ASSERT_EQ(1u, log.recorder.events.size());
    const LogEvent& event = log.recorder.events[0];
    EXPECT_EQ("ERROR", event.levelText);
    EXPECT_EQ("G.cpp", event.fileName);
    EXPECT_EQ(5, event.line);
    EXPECT_EQ("h", event.functionName);
    EXPECT_EQ("Unknown exception caught", event.message);
}

TEST(ErrorHandlingReport, IgnoresThreshold) {
    RecordDefaultLogger log;
    Logger::defaultLogger().setLogLevel(static_cast<Logger::LogLevel>(100));
    reportUnknownError(SourceCodePos("G.cpp", "h", 5));
    Logger::defaultLogger().setLogLevel(Logger::LogTrace);
    EXPECT_EQ(1u, log.recorder.events.size());
}

TEST(ErrorHandlingLastCRTError, GivesTextOfCurrentErrno) {
    errno = 0;
    ASSERT_EQ(-1, ::open("/nonexistent-kovalu-dir/x", O_RDONLY));
    ASSERT_EQ(ENOENT, errno);
    EXPECT_EQ(std::strerror(ENOENT), lastCRTError());
    errno = EACCES;
    EXPECT_EQ(std::strerror(EACCES), lastCRTError());
}

TEST(ErrorHandlingJoinErrorMessages, InsertsFullStopUnlessPunctuated) {
    EXPECT_EQ("Failed. reason", joinErrorMessages("Failed", "reason"));
    EXPECT_EQ("Error: reason", joinErrorMessages("Error:", "reason"));
    for (const char* end : {";", ".", ",", ":", "!", "?"}) {
        EXPECT_EQ(std::string("a") + end + " b", joinErrorMessages(std::string("a") + end, "b"));
    }
}

TEST(ErrorHandlingJoinErrorMessages, TrimsWhitespaceButKeepsLeadingOfFirst) {
    EXPECT_EQ("reason", joinErrorMessages("   ", " \treason\n"));
    EXPECT_EQ("Failed", joinErrorMessages("Failed  ", "   "));
    EXPECT_EQ("  Failed. reason", joinErrorMessages("  Failed \r\n", "\v\f reason \t"));
    EXPECT_EQ("", joinErrorMessages("", ""));
}

TEST(ErrorHandlingJoinErrorMessages, HighBytesAreNotWhitespace) {
    EXPECT_EQ("a\xA0. \x85z", joinErrorMessages("a\xA0", "\x85z"));
}
