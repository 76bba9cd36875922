#include "FileUtils.h"

#include "tstrings.h"

namespace FileUtils {

namespace {

const char* const dirSeparators = "/\\";

} // namespace

bool isDirSeparator(char c) {
    return c == '/' || c == '\\';
}

bool isPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(dirSeparators) == std::string::npos;
}

std::string dirname(const std::string& path) {
    std::string::size_type end = path.size();
    // A trailing "." names the directory itself, so its parent is wanted.
    if (tstrings::endsWith(path, "/.") || tstrings::endsWith(path, "\\.")) {
        end -= 2;
    }
    if (end == 0) {
        return std::string();
    }
    std::string::size_type pos = path.find_last_of(dirSeparators, end - 1);
    if (pos == std::string::npos) {
        return std::string();
    }
    while (pos > 0 && isDirSeparator(path[pos - 1])) {
        --pos;
    }
    return path.substr(0, pos);
}

std::string basename(const std::string& path) {
    const std::string::size_type pos = path.find_last_of(dirSeparators);
    if (pos == std::string::npos) {
        return path;
    }
    return path.substr(pos + 1);
}

std::string suffix(const std::string& path) {
    const std::string::size_type dot = path.rfind('.');
    if (dot == std::string::npos) {
        return std::string();
    }
    if (path.find_first_of(dirSeparators, dot) != std::string::npos) {
        return std::string();
    }
    if (dot == 0) {
        return path;
    }
    if (path[dot - 1] != '.') {
        return path.substr(dot);
    }
    // A ".." component, or a name that begins with two dots, has no extension.
    if (dot == 1 || isDirSeparator(path[dot - 2])) {
        return std::string();
    }
    return path.substr(dot);
}

std::string combinePath(const std::string& parent, const std::string& child) {
    if (parent.empty()) {
        return child;
    }
    if (child.empty()) {
        return parent;
    }
    const std::string::size_type skip = isDirSeparator(child[0]) ? 1 : 0;
    return removeTrailingSlash(parent) + "/" + child.substr(skip);
}

std::string removeTrailingSlash(const std::string& path) {
    std::string::size_type end = path.size();
    while (end > 0 && isDirSeparator(path[end - 1])) {
        --end;
    }
    return path.substr(0, end);
}

std::string normalizePath(std::string path) {
    for (char& c : path) {
        if (c == '\\') {
            c = '/';
        }
    }
    return path;
}

std::string replaceSuffix(const std::string& path, const std::string& newSuffix) {
    const std::string oldSuffix = suffix(path);
    return path.substr(0, path.size() - oldSuffix.size()) + newSuffix;
}

} // namespace FileUtils
