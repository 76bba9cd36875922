#include "JarFile.h"

#include <fstream>

#include "ErrorHandling.h"
#include "Subprocess.h"
#include "tstrings.h"

namespace {

const char* const manifestName = "META-INF/MANIFEST.MF";

unsigned long littleEndian(const std::string& bytes, std::size_t at, std::size_t width) {
    unsigned long value = 0;
    for (std::size_t i = width; i-- > 0;) {
        value = (value << 8) | static_cast<unsigned char>(bytes.at(at + i));
    }
    return value;
}

std::string readAt(std::ifstream& in, unsigned long offset, std::size_t size) {
    std::string bytes(size, '\0');
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(&bytes[0], static_cast<std::streamsize>(size));
    if (static_cast<std::size_t>(in.gcount()) != size) {
        bytes.clear();
    }
    return bytes;
}

/// The offset within `tail` of the end-of-central-directory record, or npos.
std::size_t findEndRecord(const std::string& tail) {
    const std::string signature("PK\x05\x06", 4);
    for (std::size_t at = tail.rfind(signature); at != std::string::npos;
         at = at == 0 ? std::string::npos : tail.rfind(signature, at - 1)) {
        // The record is followed by exactly its comment.
        if (at + 22 <= tail.size() && at + 22 + littleEndian(tail, at + 20, 2) == tail.size()) {
            return at;
        }
    }
    return std::string::npos;
}

} // namespace

JarFile::JarFile(const std::string& path) : path(path) {
    const auto fail = [&path](const std::string& reason) {
        return makeException("cannot read " + path + " as a jar: " + reason, KV_SOURCE_CODE_POS);
    };
    std::ifstream in(path, std::ios::binary);
    in.seekg(0, std::ios::end);
    const std::streamoff size = in ? static_cast<std::streamoff>(in.tellg()) : -1;
    if (size < 0) {
        throw fail("cannot open it");
    }
    const std::size_t tailSize = static_cast<std::size_t>(std::min<std::streamoff>(size, 22 + 65535));
    const std::string tail = readAt(in, static_cast<unsigned long>(size) - tailSize, tailSize);
    const std::size_t end = findEndRecord(tail);
    if (end == std::string::npos) {
        throw fail("no end of central directory (not a zip file)");
    }
    const unsigned long count = littleEndian(tail, end + 10, 2);
    const unsigned long dirSize = littleEndian(tail, end + 12, 4);
    const unsigned long dirOffset = littleEndian(tail, end + 16, 4);
    if (count == 0xffff || dirOffset == 0xffffffffUL) {
        throw fail("zip64 files are not supported");
    }
    const std::string dir = readAt(in, dirOffset, dirSize);
    std::size_t at = 0;
    for (unsigned long i = 0; i < count; ++i) {
        if (dir.size() < at + 46 || dir.compare(at, 4, "PK\x01\x02", 4) != 0) {
            throw fail("damaged central directory");
        }
        const std::size_t nameLength = littleEndian(dir, at + 28, 2);
        const std::size_t next = at + 46 + nameLength + littleEndian(dir, at + 30, 2) +
                                 littleEndian(dir, at + 32, 2);
        if (next > dir.size()) {
            throw fail("damaged central directory");
        }
        entries[dir.substr(at + 46, nameLength)] =
            Entry{static_cast<unsigned>(littleEndian(dir, at + 10, 2)),
                  littleEndian(dir, at + 20, 4), littleEndian(dir, at + 42, 4)};
        at = next;
    }
}

bool JarFile::contains(const std::string& name) const {
    return entries.count(name) != 0;
}

std::string JarFile::manifest() const {
    const auto found = entries.find(manifestName);
    if (found == entries.end()) {
        return std::string();
    }
    if (found->second.method == 0) {
        return readStored(found->second);
    }
    const std::string unzip = Subprocess::findOnPath("unzip");
    if (unzip.empty()) {
        throw makeException("cannot read the manifest of " + path +
                                ": it is compressed and unzip is not on the PATH",
                            KV_SOURCE_CODE_POS);
    }
    const ProgramResult r = Subprocess::run({unzip, "-p", path, manifestName});
    if (r.status != 0) {
        throw makeException("cannot read the manifest of " + path + ": unzip -p failed: " +
                                tstrings::trim(r.err, "\n"),
                            KV_SOURCE_CODE_POS);
    }
    return r.out;
}

std::string JarFile::readStored(const Entry& entry) const {
    std::ifstream in(path, std::ios::binary);
    const std::string header = readAt(in, entry.localHeader, 30);
    if (header.size() != 30 || header.compare(0, 4, "PK\x03\x04", 4) != 0) {
        throw makeException("cannot read " + path + " as a jar: damaged entry " + manifestName,
                            KV_SOURCE_CODE_POS);
    }
    const unsigned long data =
        entry.localHeader + 30 + littleEndian(header, 26, 2) + littleEndian(header, 28, 2);
    return readAt(in, data, entry.compressedSize);
}

namespace Manifest {

std::string attribute(const std::string& manifest, const std::string& name) {
    std::vector<std::string> lines;
    tstrings::split(lines, tstrings::replace(manifest, "\r\n", "\n"), "\n");
    const std::string prefix = name + ": ";
    std::string value;
    bool inValue = false;
    for (const std::string& line : lines) {
        if (line.empty()) {
            break; // The main section ends at the first blank line.
        }
        if (inValue && line[0] == ' ') {
            value += line.substr(1);
            continue;
        }
        inValue = tstrings::startsWith(line, prefix, tstrings::AnyCase);
        if (inValue) {
            value = line.substr(prefix.size());
        }
    }
    return value;
}

std::vector<std::string> classPath(const std::string& manifest) {
    std::vector<std::string> entries;
    tstrings::split(entries, attribute(manifest, "Class-Path"), " ", tstrings::DropEmptyPieces);
    return entries;
}

} // namespace Manifest
