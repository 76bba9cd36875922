#include "JarFile.h"

#include <algorithm>
#include <fstream>

#include "ErrorHandling.h"
#include "Inflate.h"
#include "InfoPlist.h"
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

std::string littleEndianBytes(unsigned long value, std::size_t width) {
    std::string bytes;
    for (std::size_t i = 0; i < width; ++i, value >>= 8) {
        bytes += static_cast<char>(value & 0xff);
    }
    return bytes;
}

unsigned long crc32(const std::string& data) {
    static const std::vector<unsigned long> table = [] {
        std::vector<unsigned long> t(256);
        for (unsigned long n = 0; n < 256; ++n) {
            unsigned long c = n;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1) ? 0xedb88320UL ^ (c >> 1) : c >> 1;
            }
            t[n] = c;
        }
        return t;
    }();
    unsigned long crc = 0xffffffffUL;
    for (const char byte : data) {
        crc = table[(crc ^ static_cast<unsigned char>(byte)) & 0xff] ^ (crc >> 8);
    }
    return crc ^ 0xffffffffUL;
}

/// Copies the bytes [from, to) of `in` to `out`.
void copyRange(std::ifstream& in, std::ofstream& out, unsigned long from, unsigned long to) {
    in.seekg(static_cast<std::streamoff>(from));
    char buf[65536];
    for (unsigned long left = to - from; left > 0 && in;) {
        const std::size_t n = static_cast<std::size_t>(std::min<unsigned long>(left, sizeof(buf)));
        in.read(buf, static_cast<std::streamsize>(n));
        out.write(buf, in.gcount());
        left -= static_cast<unsigned long>(in.gcount());
    }
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
    unsigned long count = littleEndian(tail, end + 10, 2);
    unsigned long dirSize = littleEndian(tail, end + 12, 4);
    unsigned long dirOffset = littleEndian(tail, end + 16, 4);
    // Past 65,535 entries or 4 GiB (a large uber-jar), the true values are in
    // the zip64 end record, which a locator right before this record finds.
    zip64 = count == 0xffff || dirSize == 0xffffffffUL || dirOffset == 0xffffffffUL;
    if (zip64) {
        if (end < 20 || tail.compare(end - 20, 4, "PK\x06\x07", 4) != 0) {
            throw fail("no zip64 end of central directory locator");
        }
        const std::string record = readAt(in, littleEndian(tail, end - 12, 8), 56);
        if (record.size() != 56 || record.compare(0, 4, "PK\x06\x06", 4) != 0) {
            throw fail("damaged zip64 end of central directory");
        }
        count = littleEndian(record, 32, 8);
        dirSize = littleEndian(record, 40, 8);
        dirOffset = littleEndian(record, 48, 8);
    }
    if (dirOffset > static_cast<unsigned long>(size) ||
        dirSize > static_cast<unsigned long>(size) - dirOffset) {
        throw fail("damaged central directory");
    }
    directoryOffset = dirOffset;
    endRecord = tail.substr(end);
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
        entries.push_back(Entry{dir.substr(at + 46, nameLength),
                                static_cast<unsigned>(littleEndian(dir, at + 10, 2)),
                                littleEndian(dir, at + 20, 4), littleEndian(dir, at + 42, 4),
                                dir.substr(at, next - at)});
        if (!zip64Fields(entries.back())) {
            throw fail("damaged zip64 field of " + entries.back().name);
        }
        if (entries.back().localHeader >= dirOffset) {
            throw fail("damaged central directory");
        }
        at = next;
    }
}

/// Takes from the entry's zip64 extra field the values its record marks as
/// held there; false when the field is missing or too short.
bool JarFile::zip64Fields(Entry& entry) {
    const std::string& record = entry.central;
    const bool uncompressed = littleEndian(record, 24, 4) == 0xffffffffUL;
    const bool compressed = entry.compressedSize == 0xffffffffUL;
    const bool offset = entry.localHeader == 0xffffffffUL;
    if (!uncompressed && !compressed && !offset) {
        return true;
    }
    const std::size_t extraEnd = 46 + littleEndian(record, 28, 2) + littleEndian(record, 30, 2);
    for (std::size_t at = 46 + littleEndian(record, 28, 2); at + 4 <= extraEnd;
         at += 4 + littleEndian(record, at + 2, 2)) {
        const std::size_t size = littleEndian(record, at + 2, 2);
        if (littleEndian(record, at, 2) != 0x0001 || at + 4 + size > extraEnd) {
            continue;
        }
        // The values present follow in this order, eight bytes each.
        std::size_t field = at + 4 + (uncompressed ? 8 : 0);
        const std::size_t needed = field + (compressed ? 8 : 0) + (offset ? 8 : 0);
        if (needed > at + 4 + size) {
            return false;
        }
        if (compressed) {
            entry.compressedSize = littleEndian(record, field, 8);
            field += 8;
        }
        if (offset) {
            entry.localHeader = littleEndian(record, field, 8);
        }
        return true;
    }
    return false;
}

const JarFile::Entry* JarFile::find(const std::string& name) const {
    for (const Entry& entry : entries) {
        if (entry.name == name) {
            return &entry;
        }
    }
    return nullptr;
}

bool JarFile::contains(const std::string& name) const {
    return find(name) != nullptr;
}

std::string JarFile::read(const std::string& name, std::size_t limit) const {
    const Entry* entry = find(name);
    const auto fail = [&](const std::string& reason) {
        return makeException("cannot read " + name + " in " + path + ": " + reason,
                             KV_SOURCE_CODE_POS);
    };
    if (!entry) {
        throw fail("no such entry");
    }
    if (entry->method != 0 && entry->method != 8) {
        throw fail("compression method " + std::to_string(entry->method) + " is not supported");
    }
    // A stored entry's first bytes are its first bytes: no need to read on.
    const std::size_t wanted = entry->method == 0 ? std::min<std::size_t>(entry->compressedSize, limit)
                                                  : entry->compressedSize;
    const std::string data = readStored(*entry, wanted);
    if (data.size() != wanted) {
        throw fail("the jar ends inside it");
    }
    if (entry->method == 0) {
        return data;
    }
    try {
        return Inflate::inflate(data, limit);
    } catch (const KvErrorBase& e) {
        throw fail(e.rawMessage());
    }
}

std::vector<std::string> JarFile::names() const {
    std::vector<std::string> result;
    for (const Entry& entry : entries) {
        result.push_back(entry.name);
    }
    return result;
}

bool JarFile::isSigned() const {
    for (const Entry& entry : entries) {
        const std::string& n = entry.name;
        if (n.size() > 12 && tstrings::startsWith(n, "META-INF/", tstrings::AnyCase) &&
            tstrings::endsWith(n, ".SF", tstrings::AnyCase) && n.find('/', 9) == std::string::npos) {
            return true;
        }
    }
    return false;
}

void JarFile::writeWithReplacements(const std::map<std::string, std::string>& replacements,
                                    const std::string& out) const {
    const auto fail = [this](const std::string& reason) {
        return makeException("cannot rewrite " + path + ": " + reason, KV_SOURCE_CODE_POS);
    };
    if (zip64) {
        throw fail("it is a zip64 file, which this tool reads but does not rewrite");
    }
    std::vector<const Entry*> byOffset;
    for (const Entry& entry : entries) {
        byOffset.push_back(&entry);
    }
    std::sort(byOffset.begin(), byOffset.end(),
              [](const Entry* a, const Entry* b) { return a->localHeader < b->localHeader; });
    std::ifstream in(path, std::ios::binary);
    std::ofstream to(out, std::ios::binary | std::ios::trunc);
    // Whatever precedes the first entry (a launcher stub, say) stays in front.
    copyRange(in, to, 0, byOffset.empty() ? directoryOffset : byOffset.front()->localHeader);
    std::map<const Entry*, std::string> central;
    for (std::size_t i = 0; i < byOffset.size(); ++i) {
        const Entry& entry = *byOffset[i];
        // Each entry's bytes run to the next entry's local header: the header,
        // the data and any data descriptor, all copied as they are.
        const unsigned long end =
            i + 1 < byOffset.size() ? byOffset[i + 1]->localHeader : directoryOffset;
        std::string record = entry.central;
        record.replace(42, 4, littleEndianBytes(static_cast<unsigned long>(to.tellp()), 4));
        const auto replacement = replacements.find(entry.name);
        if (replacement == replacements.end()) {
            copyRange(in, to, entry.localHeader, end);
            central[&entry] = record;
            continue;
        }
        const std::string header = readAt(in, entry.localHeader, 30);
        const std::string& data = replacement->second;
        if (header.size() != 30 || header.compare(0, 4, "PK\x03\x04", 4) != 0) {
            throw fail("damaged entry " + entry.name);
        }
        if (data.size() >= 0xffffffffUL) {
            throw fail("the new " + entry.name + " is too large for a zip file without zip64");
        }
        // Stored, with its sizes in the header: no descriptor follows.
        const unsigned long flags = littleEndian(header, 6, 2) & ~0x0009UL;
        const std::string fields = littleEndianBytes(flags, 2) + littleEndianBytes(0, 2) +
                                   header.substr(10, 4) + littleEndianBytes(crc32(data), 4) +
                                   littleEndianBytes(data.size(), 4) +
                                   littleEndianBytes(data.size(), 4);
        const std::string nameAndExtra =
            readAt(in, entry.localHeader + 30, littleEndian(header, 26, 2) + littleEndian(header, 28, 2));
        to << header.substr(0, 6) << fields << header.substr(26, 4) << nameAndExtra << data;
        record.replace(8, 20, fields);
        central[&entry] = record;
    }
    const unsigned long newDirectory = static_cast<unsigned long>(to.tellp());
    std::string directory;
    for (const Entry& entry : entries) {
        directory += central[&entry];
    }
    if (newDirectory >= 0xffffffffUL || directory.size() >= 0xffffffffUL) {
        throw fail("the new jar is too large for a zip file without zip64");
    }
    std::string end = endRecord;
    end.replace(12, 8, littleEndianBytes(directory.size(), 4) + littleEndianBytes(newDirectory, 4));
    to << directory << end;
    to.close();
    if (!in || !to) {
        throw fail("cannot write " + out);
    }
}

void JarFile::flagUtf8Names() const {
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    // Reads the two flag bytes at `at`, sets bit 11 and writes them back.
    const auto flag = [&file](unsigned long at) {
        char bytes[2] = {};
        file.seekg(static_cast<std::streamoff>(at));
        file.read(bytes, 2);
        bytes[1] = static_cast<char>(bytes[1] | 0x08);
        file.seekp(static_cast<std::streamoff>(at));
        file.write(bytes, 2);
    };
    unsigned long central = directoryOffset;
    for (const Entry& entry : entries) {
        const bool ascii = std::all_of(entry.name.begin(), entry.name.end(),
                                       [](char c) { return (c & 0x80) == 0; });
        if (!ascii && InfoPlist::isValidUtf8(entry.name)) {
            flag(entry.localHeader + 6);
            flag(central + 8);
        }
        central += static_cast<unsigned long>(entry.central.size());
    }
    file.close();
    if (!file) {
        throw makeException("cannot mark the UTF-8 names of " + path, KV_SOURCE_CODE_POS);
    }
}

std::string JarFile::manifest() const {
    if (!find(manifestName)) {
        return std::string();
    }
    // A manifest this large is damage or a decompression bomb, not a manifest.
    const std::size_t largest = 16 << 20;
    const std::string text = read(manifestName, largest + 1);
    if (text.size() > largest) {
        throw makeException("cannot read the manifest of " + path + ": it is larger than 16 MiB",
                            KV_SOURCE_CODE_POS);
    }
    return text;
}

std::string JarFile::readStored(const Entry& entry, std::size_t limit) const {
    std::ifstream in(path, std::ios::binary);
    const std::string header = readAt(in, entry.localHeader, 30);
    if (header.size() != 30 || header.compare(0, 4, "PK\x03\x04", 4) != 0) {
        throw makeException("cannot read " + path + " as a jar: damaged entry " + entry.name,
                            KV_SOURCE_CODE_POS);
    }
    const unsigned long data =
        entry.localHeader + 30 + littleEndian(header, 26, 2) + littleEndian(header, 28, 2);
    // An entry's data lies before the central directory: a size that says
    // otherwise is damage, not a reason to allocate it.
    if (data > directoryOffset || entry.compressedSize > directoryOffset - data) {
        throw makeException("cannot read " + path + " as a jar: damaged entry " + entry.name,
                            KV_SOURCE_CODE_POS);
    }
    return readAt(in, data, std::min<std::size_t>(entry.compressedSize, limit));
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
