#include "JsonReader.h"

#include <gtest/gtest.h>

#include "TestSupport.h"

TEST(JsonReader, ReadsNotarytoolsAnswersMemberByMember) {
    const JsonValue v = JsonReader::parse(
        " {\"id\":\"2efe\",\"n\":-1.5e+3,\"ok\":true,\"none\":null,\"a\":[1,[],{}],"
        "\"s\":\"q\\\"\\\\\\/\\b\\f\\n\\r\\t\\u00e9\\u65e5\\ud83d\\ude00\\ud800x\",\"id\":\"second\"}\n");
    EXPECT_EQ("2efe", v.stringMember("id")); // the first of a repeated name
    EXPECT_EQ("-1.5e+3", v.member("n")->text);
    EXPECT_EQ(JsonValue::Kind::Bool, v.member("ok")->kind);
    EXPECT_EQ(JsonValue::Kind::Null, v.member("none")->kind);
    EXPECT_EQ(3u, v.member("a")->items.size());
    EXPECT_EQ("q\"\\/\b\f\n\r\t\xc3\xa9\xe6\x97\xa5\xf0\x9f\x98\x80\xef\xbf\xbdx", v.stringMember("s"));
    EXPECT_EQ("", v.stringMember("n"));
    EXPECT_EQ(nullptr, v.member("a")->member("x"));
}

TEST(JsonReader, RefusesWhatIsNotJsonWithTheOffset) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "malformed JSON at offset 0: unexpected end"},
        {"Error: HTTP status code: 401", "malformed JSON at offset 0: unexpected character"},
        {"{\"a\":1,}", "malformed JSON at offset 7: expected a member name"},
        {"[1 2]", "malformed JSON at offset 3: expected ']'"},
        {"\"a\nb\"", "malformed JSON at offset 3: control character in a string"},
        {"\"\\x\"", "malformed JSON at offset 3: bad escape"},
        {"\"\\ud800\\u0041\"", "malformed JSON at offset 13: unpaired surrogate"},
        {"-", "malformed JSON at offset 1: expected a digit"},
        {"{} x", "malformed JSON at offset 3: text after the value"},
        {std::string(65, '[') + std::string(65, ']'), "malformed JSON at offset 64: nested too deeply"},
        {"\"abc", "malformed JSON at offset 4: unterminated string"},
    };
    EXPECT_EQ(JsonValue::Kind::Array,
              JsonReader::parse(std::string(64, '[') + std::string(64, ']')).kind);
    for (const auto& [text, message] : cases) {
        EXPECT_EQ(message, kvtest::thrownBy([&] { JsonReader::parse(text); }).raw) << text;
    }
}
