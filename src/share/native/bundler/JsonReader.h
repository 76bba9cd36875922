#ifndef KOVALU_JSONREADER_H
#define KOVALU_JSONREADER_H

#include <string>
#include <vector>

/// A JSON value as read: its kind, a string's decoded text or a number's or
/// literal's spelling, an array's items, or an object's members in order
/// (`keys[i]` names `items[i]`).
struct JsonValue {
    enum class Kind { Null, Bool, Number, String, Array, Object };

    Kind kind = Kind::Null;
    std::string text;
    std::vector<std::string> keys;
    std::vector<JsonValue> items;

    /// The first member `key` of an object; null when this is no object or
    /// has no such member.
    const JsonValue* member(const std::string& key) const;

    /// The text of the string member `key`, or empty when there is none.
    std::string stringMember(const std::string& key) const;
};

namespace JsonReader {

/// Reads one JSON document (RFC 8259; strings decoded to UTF-8, nesting at
/// most 64 deep). Throws with one line saying where it went wrong.
JsonValue parse(const std::string& text);

} // namespace JsonReader

#endif
