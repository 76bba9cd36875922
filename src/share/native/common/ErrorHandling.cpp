#include "ErrorHandling.h"

#include <cerrno>
#include <cstring>

#include "FileUtils.h"
#include "Log.h"

namespace {

std::string getFilename(const SourceCodePos& pos) {
    return FileUtils::basename(pos.file);
}

void reportError(const SourceCodePos& pos, const std::string& message) {
    Logger::defaultLogger().log(Logger::LogError, getFilename(pos).c_str(), pos.line, pos.func,
                                message);
}

bool isWhitespace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string dropTrailingWhitespace(const std::string& s) {
    std::string::size_type end = s.size();
    while (end > 0 && isWhitespace(s[end - 1])) {
        --end;
    }
    return s.substr(0, end);
}

std::string dropLeadingWhitespace(const std::string& s) {
    std::string::size_type begin = 0;
    while (begin < s.size() && isWhitespace(s[begin])) {
        ++begin;
    }
    return s.substr(begin);
}

} // namespace

std::string makeMessage(const std::runtime_error& e, const SourceCodePos& pos) {
    return (tstrings::any() << getFilename(pos) << "(" << pos.line << ") at " << pos.func
                            << "(): " << e.what())
        .str();
}

KvError<std::runtime_error> makeException(const tstrings::any& message, const SourceCodePos& pos) {
    return KvError<std::runtime_error>(pos, std::runtime_error(message.str()));
}

KvError<std::runtime_error> makeException(const char* message, const SourceCodePos& pos) {
    return makeException(tstrings::any(message), pos);
}

void fail(const std::string& message, const SourceCodePos& pos) {
    throw makeException(message, pos);
}

void reportError(const SourceCodePos& pos, const std::runtime_error& e) {
    reportError(pos, (tstrings::any() << "Exception with message '" << e.what() << "' caught").str());
}

void reportUnknownError(const SourceCodePos& pos) {
    reportError(pos, std::string("Unknown exception caught"));
}

std::string lastCRTError() {
    return std::strerror(errno);
}

std::string joinErrorMessages(const std::string& a, const std::string& b) {
    const std::string first = dropTrailingWhitespace(a);
    const std::string second = dropTrailingWhitespace(dropLeadingWhitespace(b));
    if (first.empty()) {
        return second;
    }
    if (second.empty()) {
        return first;
    }
    const bool endsWithPunctuation =
        std::string(";.,:!?").find(first.back()) != std::string::npos;
    return first + (endsWithPunctuation ? " " : ". ") + second;
}
