// Reads arbitrary bytes as the notary service's JSON answers. Reading must
// finish with a value or the tool's one-line error; a value written back as
// JSON must read as the same value, and the notary's fields must be readable
// from it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ErrorHandling.h"
#include "JsonReader.h"
#include "Notarization.h"

namespace {

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned char>(c));
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string written(const JsonValue& v) {
    switch (v.kind) {
    case JsonValue::Kind::String:
        return quoted(v.text);
    case JsonValue::Kind::Array:
    case JsonValue::Kind::Object: {
        const bool object = v.kind == JsonValue::Kind::Object;
        std::string out = object ? "{" : "[";
        for (std::size_t i = 0; i < v.items.size(); ++i) {
            out += (i ? "," : "") + (object ? quoted(v.keys[i]) + ":" : "") + written(v.items[i]);
        }
        return out + (object ? "}" : "]");
    }
    default:
        return v.text;
    }
}

bool same(const JsonValue& a, const JsonValue& b) {
    if (a.kind != b.kind || a.text != b.text || a.keys != b.keys || a.items.size() != b.items.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.items.size(); ++i) {
        if (!same(a.items[i], b.items[i])) {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    JsonValue value;
    try {
        value = JsonReader::parse(text);
    } catch (const KvErrorBase& e) {
        if (std::string(e.rawMessage()).find('\n') != std::string::npos) {
            std::abort();
        }
        return 0;
    }
    if (!same(value, JsonReader::parse(written(value)))) {
        std::abort();
    }
    if (value.kind == JsonValue::Kind::Object) {
        Notarization::readSubmission(text);
        Notarization::readIssues(text);
    }
    return 0;
}
