#ifndef KOVALU_FILEUTILS_H
#define KOVALU_FILEUTILS_H

#include <string>

/// Path arithmetic on plain byte strings; '/' and '\\' both separate
/// directories. Only `isFileExists`, `readRegularFile` and `toAbsolutePath`
/// touch the file system.
namespace FileUtils {

/// Separates the entries of a path list.
const char pathSeparator = ':';

/// True for '/' and '\\'.
bool isDirSeparator(char c);

/// The directory part; empty for a path directly below the root or without
/// separators. Trailing separators and a trailing "/." end the last component.
std::string dirname(const std::string& path);

/// True for a single path component that names no directory by itself: not
/// empty, not "." or "..", no separator.
bool isPlainName(const std::string& name);

/// The text after the last separator, or all of `path` without one.
std::string basename(const std::string& path);

/// The extension with its dot, or empty.
std::string suffix(const std::string& path);

/// `parent` without trailing separators, one '/', `child` without one leading
/// separator. An empty part yields the other one unchanged.
std::string combinePath(const std::string& parent, const std::string& child);

/// `path` without its trailing separators.
std::string removeTrailingSlash(const std::string& path);

/// `path` with every '\\' turned into '/'.
std::string normalizePath(std::string path);

/// `path` with its extension replaced by `newSuffix` (which carries its dot).
std::string replaceSuffix(const std::string& path, const std::string& newSuffix);

/// True when `stat` knows the path (links followed).
bool isFileExists(const std::string& path);

/// How `readRegularFile` ended.
enum class ReadResult { Read, OpenFailed, NotRegular, ReadFailed };

/// Reads all of `path` (links followed) into `content` when it is a regular
/// file; a FIFO, socket or device is refused without being waited on. After
/// OpenFailed (EISDIR for a directory) or ReadFailed, errno tells why.
ReadResult readRegularFile(const std::string& path, std::string& content);

/// `path` made absolute against the current directory; throws when the
/// current directory cannot be read.
std::string toAbsolutePath(const std::string& path);

/// `path` without an executable suffix; unchanged where executables have none.
std::string stripExeSuffix(const std::string& path);

} // namespace FileUtils

#endif
