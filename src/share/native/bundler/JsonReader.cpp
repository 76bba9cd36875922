#include "JsonReader.h"

#include "ErrorHandling.h"

namespace {

const int maxDepth = 64;

class Reader {
public:
    explicit Reader(const std::string& text) : s(text) {}

    JsonValue document() {
        JsonValue v = value(0);
        skipSpace();
        if (at != s.size()) {
            fail("text after the value");
        }
        return v;
    }

private:
    [[noreturn]] void fail(const std::string& what) const {
        ::fail("malformed JSON at offset " + std::to_string(at) + ": " + what, KV_SOURCE_CODE_POS);
    }

    void skipSpace() {
        while (at < s.size() && (s[at] == ' ' || s[at] == '\t' || s[at] == '\n' || s[at] == '\r')) {
            ++at;
        }
    }

    bool take(char c) {
        skipSpace();
        if (at < s.size() && s[at] == c) {
            ++at;
            return true;
        }
        return false;
    }

    void expect(char c) {
        if (!take(c)) {
            fail(std::string("expected '") + c + "'");
        }
    }

    JsonValue value(int depth) {
        if (depth >= maxDepth) {
            fail("nested too deeply");
        }
        skipSpace();
        if (at == s.size()) {
            fail("unexpected end");
        }
        JsonValue v;
        const char c = s[at];
        if (c == '{') {
            object(v, depth);
        } else if (c == '[') {
            array(v, depth);
        } else if (c == '"') {
            v.kind = JsonValue::Kind::String;
            v.text = string();
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            v.kind = JsonValue::Kind::Number;
            v.text = number();
        } else {
            literal(v);
        }
        return v;
    }

    void object(JsonValue& v, int depth) {
        v.kind = JsonValue::Kind::Object;
        ++at;
        if (take('}')) {
            return;
        }
        do {
            skipSpace();
            if (at == s.size() || s[at] != '"') {
                fail("expected a member name");
            }
            v.keys.push_back(string());
            expect(':');
            v.items.push_back(value(depth + 1));
        } while (take(','));
        expect('}');
    }

    void array(JsonValue& v, int depth) {
        v.kind = JsonValue::Kind::Array;
        ++at;
        if (take(']')) {
            return;
        }
        do {
            v.items.push_back(value(depth + 1));
        } while (take(','));
        expect(']');
    }

    void literal(JsonValue& v) {
        for (const char* word : {"true", "false", "null"}) {
            const std::string w = word;
            if (s.compare(at, w.size(), w) == 0) {
                at += w.size();
                v.kind = w == "null" ? JsonValue::Kind::Null : JsonValue::Kind::Bool;
                v.text = w;
                return;
            }
        }
        fail("unexpected character");
    }

    std::string number() {
        const std::size_t start = at;
        auto digits = [this] {
            const std::size_t from = at;
            while (at < s.size() && s[at] >= '0' && s[at] <= '9') {
                ++at;
            }
            if (at == from) {
                fail("expected a digit");
            }
        };
        if (s[at] == '-') {
            ++at;
        }
        digits();
        if (at < s.size() && s[at] == '.') {
            ++at;
            digits();
        }
        if (at < s.size() && (s[at] == 'e' || s[at] == 'E')) {
            ++at;
            if (at < s.size() && (s[at] == '+' || s[at] == '-')) {
                ++at;
            }
            digits();
        }
        return s.substr(start, at - start);
    }

    unsigned hex4() {
        if (s.size() - at < 4) {
            fail("short \\u escape");
        }
        unsigned code = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = s[at++];
            const int d = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
            if (d < 0) {
                fail("bad \\u escape");
            }
            code = code * 16 + static_cast<unsigned>(d);
        }
        return code;
    }

    static void appendUtf8(std::string& out, unsigned code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xc0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3f));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xe0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
            out += static_cast<char>(0x80 | (code & 0x3f));
        } else {
            out += static_cast<char>(0xf0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3f));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
            out += static_cast<char>(0x80 | (code & 0x3f));
        }
    }

    unsigned escapedCode() {
        unsigned code = hex4();
        if (code >= 0xd800 && code < 0xdc00 && s.compare(at, 2, "\\u") == 0) {
            at += 2;
            const unsigned low = hex4();
            if (low < 0xdc00 || low >= 0xe000) {
                fail("unpaired surrogate");
            }
            return 0x10000 + ((code - 0xd800) << 10) + (low - 0xdc00);
        }
        // A lone surrogate has no UTF-8 form.
        return code >= 0xd800 && code < 0xe000 ? 0xfffd : code;
    }

    std::string string() {
        ++at;
        std::string out;
        while (true) {
            if (at == s.size()) {
                fail("unterminated string");
            }
            const char c = s[at++];
            if (c == '"') {
                return out;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                fail("control character in a string");
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at == s.size()) {
                fail("unterminated string");
            }
            const char e = s[at++];
            const std::string plain = "\"\\/bfnrt";
            const std::string meant = "\"\\/\b\f\n\r\t";
            if (e == 'u') {
                appendUtf8(out, escapedCode());
            } else if (plain.find(e) != std::string::npos) {
                out += meant[plain.find(e)];
            } else {
                fail("bad escape");
            }
        }
    }

    const std::string& s;
    std::size_t at = 0;
};

} // namespace

const JsonValue* JsonValue::member(const std::string& key) const {
    if (kind != Kind::Object) {
        return nullptr;
    }
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (keys[i] == key) {
            return &items[i];
        }
    }
    return nullptr;
}

std::string JsonValue::stringMember(const std::string& key) const {
    const JsonValue* v = member(key);
    return v && v->kind == Kind::String ? v->text : std::string();
}

namespace JsonReader {

JsonValue parse(const std::string& text) {
    return Reader(text).document();
}

} // namespace JsonReader
