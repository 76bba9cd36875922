// BundleFiles::fileName, isWithin, writeText, readText, realPath, exists, isDirectory,
// isRegularFile, existsAsIs, makeDirs, setMode and copyTree with the standard
// file-system library.
#include "BundleFiles.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "ErrorHandling.h"

namespace fs = std::filesystem;

namespace BundleFiles {

std::string fileName(const std::string& path) {
    const std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool isWithin(const std::string& inner, const std::string& outer) {
    return inner == outer || inner.compare(0, outer.size() + 1, outer + "/") == 0;
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        fail("cannot write " + path, KV_SOURCE_CODE_POS);
    }
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) {
        fail("cannot open " + path, KV_SOURCE_CODE_POS);
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        fail("cannot read " + path, KV_SOURCE_CODE_POS);
    }
    return text;
}

std::string realPath(const std::string& path, const std::string& what) {
    std::error_code ec;
    const fs::path resolved = fs::canonical(path, ec);
    if (ec) {
        fail("cannot resolve " + what + " " + path + ": " + ec.message(), KV_SOURCE_CODE_POS);
    }
    return resolved.string();
}

bool exists(const std::string& path, const std::string& what) {
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    if (ec && ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory) {
        fail("cannot resolve " + what + " " + path + ": " + ec.message(), KV_SOURCE_CODE_POS);
    }
    return fs::exists(st);
}

bool isDirectory(const std::string& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

bool isRegularFile(const std::string& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

bool existsAsIs(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

void makeDirs(const std::string& path) {
    std::error_code ec;
    fs::create_directories(path, ec);
    if (ec) {
        fail("cannot create the directory " + path + ": " + ec.message(), KV_SOURCE_CODE_POS);
    }
}

void setMode(const std::string& path, unsigned mode) {
    std::error_code ec;
    fs::permissions(path, static_cast<fs::perms>(mode), ec);
    if (ec) {
        fail("cannot set the permissions of " + path + ": " + ec.message(), KV_SOURCE_CODE_POS);
    }
}

void copyTree(const std::string& from, const std::string& to, bool followLinks) {
    std::error_code ec;
    fs::copy(from, to,
             fs::copy_options::recursive |
                 (followLinks ? fs::copy_options::none : fs::copy_options::copy_symlinks),
             ec);
    if (ec) {
        fail("cannot copy " + from + ": " + ec.message(), KV_SOURCE_CODE_POS);
    }
}

} // namespace BundleFiles
