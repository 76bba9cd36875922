#include "ErrorHandling.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <tuple>

#include <gtest/gtest.h>

#include "TestSupport.h"

TEST(ErrorHandlingMakeException, CarriesRawAndFullMessage) {
    const KvError<std::runtime_error> e =
        makeException(tstrings::any() << "getcwd() " << "returned empty string",
                      SourceCodePos("/src/unix/F.cpp", "toAbsolutePath", 49));
    EXPECT_STREQ("getcwd() returned empty string", e.rawMessage());
    EXPECT_STREQ("F.cpp(49) at toAbsolutePath(): getcwd() returned empty string", e.what());
}

TEST(ErrorHandlingMakeException, FullMessageNamesTheLastFileComponent) {
    const std::tuple<SourceCodePos, const char*, const char*> cases[] = {
        {SourceCodePos("a/b.cpp", "f", 3), "", "b.cpp(3) at f(): "},
        {SourceCodePos("C:\\x/y\\G.cpp", "f", 1), "m", "G.cpp(1) at f(): m"},
        {SourceCodePos("dir/", "f", 1), "m", "(1) at f(): m"},
        {SourceCodePos("plain", "f", -2), "m", "plain(-2) at f(): m"},
    };
    for (const auto& [pos, raw, what] : cases) {
        const KvError<std::runtime_error> e = makeException(raw, pos);
        EXPECT_STREQ(raw, e.rawMessage()) << pos.file;
        EXPECT_STREQ(what, e.what()) << pos.file;
    }
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

TEST(ErrorHandlingReport, OneErrorRecordAtTheGivenPositionWhateverTheThreshold) {
    struct Case {
        const char* name;
        std::function<void()> report;
        int line;
        const char* function;
        const char* message;
    };
    const Case cases[] = {
        {"launcher error is wrapped with its full message",
         [] {
             reportError(SourceCodePos("/s/G.cpp", "launch", 179),
                         makeException("m", SourceCodePos("F.cpp", "f", 4)));
         },
         179, "launch", "Exception with message 'F.cpp(4) at f(): m' caught"},
        {"plain runtime error is reported with its what",
         [] { reportError(SourceCodePos("G.cpp", "h", 1), std::runtime_error("plain")); }, 1, "h",
         "Exception with message 'plain' caught"},
        {"unknown error has a fixed text",
         [] { reportUnknownError(SourceCodePos("a\\b\\G.cpp", "h", 5)); }, 5, "h",
         "Unknown exception caught"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kvtest::LogRecorder log;
        Logger::defaultLogger().setLogLevel(static_cast<Logger::LogLevel>(100));
        c.report();
        ASSERT_EQ(1u, log.events.size());
        EXPECT_EQ(std::vector<std::string>{"ERROR " + std::string(c.function) + ": " + c.message},
                  log.from("G.cpp"));
        EXPECT_EQ(c.line, log.events[0].line);
    }
}

TEST(ErrorHandlingLastCRTError, GivesTextOfCurrentErrno) {
    errno = 0;
    ASSERT_EQ(-1, ::open("/nonexistent-kovalu-dir/x", O_RDONLY));
    ASSERT_EQ(ENOENT, errno);
    EXPECT_EQ(std::strerror(ENOENT), lastCRTError());
    errno = EACCES;
    EXPECT_EQ(std::strerror(EACCES), lastCRTError());
}

TEST(ErrorHandlingJoinErrorMessages, FullStopUnlessPunctuatedAndWhitespaceTrimmed) {
    const char* const cases[][3] = {
        {"Failed", "reason", "Failed. reason"},
        {"Error:", "reason", "Error: reason"},
        {"a;", "b", "a; b"},
        {"a.", "b", "a. b"},
        {"a,", "b", "a, b"},
        {"a:", "b", "a: b"},
        {"a!", "b", "a! b"},
        {"a?", "b", "a? b"},
        {"   ", " \treason\n", "reason"},
        {"Failed  ", "   ", "Failed"},
        {"  Failed \r\n", "\v\f reason \t", "  Failed. reason"},
        {"", "", ""},
        // Bytes above 0x7F are not whitespace.
        {"a\xA0", "\x85z", "a\xA0. \x85z"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c[2], joinErrorMessages(c[0], c[1])) << "'" << c[0] << "' + '" << c[1] << "'";
    }
}
