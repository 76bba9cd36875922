#ifndef KOVALU_TSTRINGS_H
#define KOVALU_TSTRINGS_H

#include <sstream>
#include <string>
#include <vector>

namespace tstrings {

// Both enumerations have a fixed underlying type so that any int is a valid
// value: unnamed ones behave as ExactCase and DropEmptyPieces respectively.

/// How two strings are compared: byte for byte, or after lowering both.
enum CompareType : int { ExactCase = 0, AnyCase = 1 };

/// Which pieces `split` keeps; any value but KeepEmptyPieces drops empty ones.
enum SplitType : int { KeepEmptyPieces = 0, DropEmptyPieces = 1 };

/// True when both strings hold the same bytes (after `toLower` with AnyCase).
bool equals(const std::string& a, const std::string& b, CompareType ct = ExactCase);

/// A copy with every byte passed through the C library's `tolower`.
std::string toLower(const std::string& str);

/// True when `str` begins with `prefix`; an empty prefix always matches.
bool startsWith(const std::string& str, const std::string& prefix, CompareType ct = ExactCase);

/// True when `str` ends with `suffix`; an empty suffix always matches.
bool endsWith(const std::string& str, const std::string& suffix, CompareType ct = ExactCase);

/// Appends the pieces of `str` between occurrences of `delimiter` to `out`,
/// which is not cleared. An empty string or delimiter appends nothing.
void split(std::vector<std::string>& out, const std::string& str,
           const std::string& delimiter, SplitType st = KeepEmptyPieces);

/// Replaces every non-overlapping occurrence of `search`, left to right;
/// inserted text is never searched again.
std::string replace(const std::string& str, const std::string& search,
                    const std::string& replacement);

/// The strings of [begin, end) with `delimiter` between neighbours.
template <class It>
std::string join(It begin, It end, const std::string& delimiter) {
    std::string result;
    for (It it = begin; it != end; ++it) {
        if (it != begin) {
            result += delimiter;
        }
        result += *it;
    }
    return result;
}

/// `str` without the leading and trailing bytes that occur in `chars`.
std::string trim(const std::string& str, const std::string& chars);

/// printf-style formatting into a string. Throws std::invalid_argument for a
/// null format and std::runtime_error when the C library reports an error.
std::string unsafe_format(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

/// The string builder every message, path and name is composed with.
class any {
public:
    any() {}
    any(const std::string& value) { data << value; }
    any(const char* value) {
        if (value) {
            data << value;
        }
    }
    any(const any&) = delete;
    any& operator=(const any&) = delete;

    template <class T>
    any& operator<<(const T& value) {
        data << value;
        return *this;
    }

    std::string str() const { return data.str(); }

private:
    std::ostringstream data;
};

} // namespace tstrings

#endif
