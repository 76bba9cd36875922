#ifndef KOVALU_ERRORHANDLING_H
#define KOVALU_ERRORHANDLING_H

#include <stdexcept>
#include <string>

#include "tstrings.h"

/// Where an error was thrown, reported or logged: source path as the compiler
/// names it, bare function name and line. Both strings are literals.
struct SourceCodePos {
    SourceCodePos(const char* fl, const char* fnc, int l) : file(fl), func(fnc), line(l) {}

    const char* file;
    const char* func;
    int line;
};

/// The position of the code that expands it.
#define KV_SOURCE_CODE_POS SourceCodePos(__FILE__, __func__, __LINE__)

/// Gives the message of a launcher error without its source position.
class KvErrorBase {
public:
    virtual const char* rawMessage() const = 0;

protected:
    ~KvErrorBase() {}
};

/// The full message: "<file>(<line>) at <func>(): <e.what()>".
std::string makeMessage(const std::runtime_error& e, const SourceCodePos& pos);

/// The one exception type of the launcher: `what()` carries the throw site,
/// `rawMessage()` the message alone.
template <class Base>
class KvError : public KvErrorBase, public Base {
public:
    KvError(const SourceCodePos& pos, const Base& e) : Base(e), fullMessage(makeMessage(e, pos)) {}

    const char* rawMessage() const override { return Base::what(); }
    ~KvError() noexcept override {}
    const char* what() const noexcept override { return fullMessage.c_str(); }

private:
    std::string fullMessage;
};

/// Builds the launcher error for `message` thrown at `pos`.
KvError<std::runtime_error> makeException(const tstrings::any& message, const SourceCodePos& pos);
KvError<std::runtime_error> makeException(const char* message, const SourceCodePos& pos);

/// Throws the launcher error for `message`, thrown at the caller's position
/// `pos` (pass KV_SOURCE_CODE_POS).
[[noreturn]] void fail(const std::string& message, const SourceCodePos& pos);

/// Logs "Exception with message '<e.what()>' caught" as an ERROR record at `pos`.
void reportError(const SourceCodePos& pos, const std::runtime_error& e);

/// Logs "Unknown exception caught" as an ERROR record at `pos`.
void reportUnknownError(const SourceCodePos& pos);

/// The C library's text for the current `errno`.
std::string lastCRTError();

/// Joins two messages into one sentence sequence.
std::string joinErrorMessages(const std::string& a, const std::string& b);

#endif
