#include "tstrings.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <stdexcept>

namespace tstrings {

bool equals(const std::string& a, const std::string& b, CompareType ct) {
    if (ct == AnyCase) {
        return toLower(a) == toLower(b);
    }
    return a == b;
}

std::string toLower(const std::string& str) {
    std::string result(str);
    for (char& c : result) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return result;
}

bool startsWith(const std::string& str, const std::string& prefix, CompareType ct) {
    if (str.size() < prefix.size()) {
        return false;
    }
    return equals(str.substr(0, prefix.size()), prefix, ct);
}

bool endsWith(const std::string& str, const std::string& suffix, CompareType ct) {
    if (str.size() < suffix.size()) {
        return false;
    }
    return equals(str.substr(str.size() - suffix.size()), suffix, ct);
}

void split(std::vector<std::string>& out, const std::string& str,
           const std::string& delimiter, SplitType st) {
    if (str.empty() || delimiter.empty()) {
        return;
    }
    std::string::size_type start = 0;
    while (true) {
        const std::string::size_type pos = str.find(delimiter, start);
        const std::string piece =
            str.substr(start, pos == std::string::npos ? std::string::npos : pos - start);
        if (st == KeepEmptyPieces || !piece.empty()) {
            out.push_back(piece);
        }
        if (pos == std::string::npos) {
            return;
        }
        start = pos + delimiter.size();
    }
}

std::string replace(const std::string& str, const std::string& search,
                    const std::string& replacement) {
    if (search.empty()) {
        return str;
    }
    // Built piece by piece: replacing in place would move the rest of the
    // string at every occurrence, quadratic in a long class path.
    std::string result;
    std::string::size_type from = 0;
    for (std::string::size_type pos = str.find(search); pos != std::string::npos;
         pos = str.find(search, from)) {
        result.append(str, from, pos - from);
        result += replacement;
        from = pos + search.size();
    }
    result.append(str, from, std::string::npos);
    return result;
}

std::string trim(const std::string& str, const std::string& chars) {
    const std::string::size_type first = str.find_first_not_of(chars);
    if (first == std::string::npos) {
        return std::string();
    }
    const std::string::size_type last = str.find_last_not_of(chars);
    return str.substr(first, last - first + 1);
}

std::string unsafe_format(const char* format, ...) {
    if (!format) {
        throw std::invalid_argument("Destination buffer can't be NULL");
    }
    std::vector<char> buffer(256);
    while (true) {
        va_list args;
        va_start(args, format);
        const int len = std::vsnprintf(buffer.data(), buffer.size(), format, args);
        va_end(args);
        if (len < 0) {
            // Growing the buffer cannot cure an encoding or format error.
            throw std::runtime_error(std::string("Failed to format string with format \"") +
                                     format + "\"");
        }
        if (static_cast<std::size_t>(len) < buffer.size()) {
            return std::string(buffer.data(), static_cast<std::size_t>(len));
        }
        buffer.resize(buffer.size() + 256);
    }
}

} // namespace tstrings
