#include "JarManifest.h"

#include <algorithm>
#include <cctype>
#include <exception>

#include "CacheFiles.h"
#include "Inflate.h"
#include "tstrings.h"

namespace JarManifest {

namespace {

const char* const manifestName = "META-INF/MANIFEST.MF";
const std::uint32_t endSignature = 0x06054b50;
const std::uint32_t centralSignature = 0x02014b50;
const std::uint32_t localSignature = 0x04034b50;
const std::size_t endBytes = 22;
const std::size_t centralBytes = 46;
const std::size_t localBytes = 30;

std::uint32_t le(const std::string& bytes, std::size_t pos, std::size_t width) {
    std::uint32_t value = 0;
    for (std::size_t i = width; i-- > 0;) {
        value = (value << 8) | static_cast<unsigned char>(bytes[pos + i]);
    }
    return value;
}

bool sameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

Outcome unreadable(std::string& why, const std::string& text) {
    why = text;
    return Outcome::Unreadable;
}

// Where the central directory begins and where the offsets it names count
// from (a jar may have bytes put in front of it).
struct Directory {
    std::uint64_t start = 0;
    std::uint64_t base = 0;
    std::uint32_t size = 0;
    std::uint32_t count = 0;
};

Outcome findDirectory(const Source& jar, Directory& dir, std::string& why) {
    const std::uint64_t size = jar.size();
    // No zip file at all: the class loader finds nothing in it either.
    if (size < endBytes) {
        return Outcome::None;
    }
    const std::size_t tailBytes =
        static_cast<std::size_t>(std::min<std::uint64_t>(size, endBytes + 0xffff));
    std::string tail;
    if (!jar.read(size - tailBytes, tailBytes, tail)) {
        return unreadable(why, "cannot read its end");
    }
    // The last end record whose comment reaches no further than the file.
    for (std::size_t pos = tailBytes - endBytes + 1; pos-- > 0;) {
        if (le(tail, pos, 4) != endSignature ||
            pos + endBytes + le(tail, pos + 20, 2) > tailBytes) {
            continue;
        }
        dir.count = le(tail, pos + 10, 2);
        dir.size = le(tail, pos + 12, 4);
        const std::uint32_t offset = le(tail, pos + 16, 4);
        const std::uint64_t endPos = size - tailBytes + pos;
        if (dir.count == 0xffff || dir.size == 0xffffffff || offset == 0xffffffff) {
            return unreadable(why, "a zip64 file");
        }
        if (le(tail, pos + 4, 2) != 0 || le(tail, pos + 6, 2) != 0 ||
            le(tail, pos + 8, 2) != dir.count || dir.size > endPos || offset > endPos - dir.size) {
            return unreadable(why, "a damaged end record");
        }
        dir.start = endPos - dir.size;
        dir.base = dir.start - offset;
        return Outcome::Found;
    }
    return Outcome::None;
}

// One central directory record of the manifest: its method, sizes and where
// its local header is.
struct Entry {
    std::uint32_t method = 0;
    std::uint32_t compressed = 0;
    std::uint32_t uncompressed = 0;
    std::uint64_t local = 0;
};

Outcome findManifest(const std::string& central, std::uint32_t count, Entry& found,
                     std::string& why) {
    int exact = 0;
    int other = 0;
    Entry otherEntry;
    std::size_t pos = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (central.size() - pos < centralBytes || le(central, pos, 4) != centralSignature) {
            return unreadable(why, "a damaged central directory");
        }
        const std::size_t nameBytes = le(central, pos + 28, 2);
        const std::size_t recordBytes =
            centralBytes + nameBytes + le(central, pos + 30, 2) + le(central, pos + 32, 2);
        if (central.size() - pos < recordBytes) {
            return unreadable(why, "a damaged central directory");
        }
        const std::string name = central.substr(pos + centralBytes, nameBytes);
        Entry entry;
        entry.method = le(central, pos + 10, 2);
        entry.compressed = le(central, pos + 20, 4);
        entry.uncompressed = le(central, pos + 24, 4);
        entry.local = le(central, pos + 42, 4);
        if (name == manifestName) {
            ++exact;
            found = entry;
        } else if (sameIgnoringCase(name, manifestName)) {
            ++other;
            otherEntry = entry;
        }
        pos += recordBytes;
    }
    if (exact > 1 || (exact == 0 && other > 1)) {
        return unreadable(why, "more than one manifest");
    }
    if (exact == 0 && other == 0) {
        return Outcome::None;
    }
    if (exact == 0) {
        found = otherEntry;
    }
    return Outcome::Found;
}

Outcome readEntry(const Source& jar, const Directory& dir, const Entry& entry, std::string& text,
                  std::string& why) {
    if (entry.uncompressed > maxManifestBytes || entry.compressed > maxManifestBytes + 65536) {
        return unreadable(why, "a manifest larger than its limit");
    }
    if (entry.method != 0 && entry.method != 8) {
        return unreadable(why, "a manifest compressed by an unknown method");
    }
    std::string header;
    const std::uint64_t local = dir.base + entry.local;
    if (entry.local > dir.start - dir.base || dir.start - local < localBytes ||
        !jar.read(local, localBytes, header) || le(header, 0, 4) != localSignature) {
        return unreadable(why, "a damaged local header");
    }
    const std::uint64_t data = local + localBytes + le(header, 26, 2) + le(header, 28, 2);
    std::string raw;
    if (data > dir.start || dir.start - data < entry.compressed ||
        !jar.read(data, entry.compressed, raw)) {
        return unreadable(why, "a damaged manifest entry");
    }
    if (entry.method == 0) {
        text = raw;
    } else {
        try {
            text = Inflate::inflate(raw, maxManifestBytes + 1);
        } catch (const std::exception& e) {
            return unreadable(why, e.what());
        }
    }
    if (text.size() != entry.uncompressed) {
        return unreadable(why, "a manifest of another size than its entry says");
    }
    return Outcome::Found;
}

// A Source over an open file.
class FileSource : public Source {
public:
    explicit FileSource(const CacheFiles::RegularFile& file) : file(file) {}
    std::uint64_t size() const override { return file.size(); }
    bool read(std::uint64_t offset, std::size_t count, std::string& out) const override {
        return file.readAt(offset, count, out);
    }

private:
    const CacheFiles::RegularFile& file;
};

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

bool percentDecode(const std::string& text, std::string& decoded) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            decoded += text[i];
            continue;
        }
        if (i + 2 >= text.size() || hexDigit(text[i + 1]) < 0 || hexDigit(text[i + 2]) < 0) {
            return false;
        }
        decoded += static_cast<char>(hexDigit(text[i + 1]) * 16 + hexDigit(text[i + 2]));
        i += 2;
    }
    return true;
}

} // namespace

Outcome read(const Source& jar, std::string& text, std::string& why) {
    Directory dir;
    Outcome outcome = findDirectory(jar, dir, why);
    if (outcome != Outcome::Found) {
        return outcome;
    }
    if (dir.size > maxDirectoryBytes) {
        return unreadable(why, "a central directory larger than its limit");
    }
    std::string central;
    if (!jar.read(dir.start, dir.size, central)) {
        return unreadable(why, "cannot read its central directory");
    }
    Entry entry;
    outcome = findManifest(central, dir.count, entry, why);
    if (outcome != Outcome::Found) {
        return outcome;
    }
    return readEntry(jar, dir, entry, text, why);
}

Outcome readFile(const std::string& path, std::string& text, std::string& why) {
    const CacheFiles::RegularFile file(path);
    if (!file.isOpen()) {
        return unreadable(why, file.error());
    }
    return read(FileSource(file), text, why);
}

std::vector<std::string> classPath(const std::string& manifest) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < manifest.size()) {
        const std::size_t end = manifest.find_first_of("\r\n", pos);
        const std::string line = manifest.substr(pos, end - pos);
        if (line.empty()) {
            break; // the end of the main section
        }
        if (line[0] == ' ' && !lines.empty()) {
            lines.back() += line.substr(1);
        } else {
            lines.push_back(line);
        }
        if (end == std::string::npos) {
            break;
        }
        pos = end + (manifest.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    std::vector<std::string> entries;
    for (const std::string& line : lines) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos || !sameIgnoringCase(line.substr(0, colon), "Class-Path")) {
            continue;
        }
        std::string word;
        for (const char c : line.substr(colon + 1) + " ") {
            if (c != ' ' && c != '\t' && c != '\f') {
                word += c;
            } else if (!word.empty()) {
                entries.push_back(word);
                word.clear();
            }
        }
    }
    return entries;
}

bool resolve(const std::string& jarDir, const std::string& entry, std::string& path) {
    std::string text = entry;
    if (text.size() >= 5 && sameIgnoringCase(text.substr(0, 5), "file:")) {
        text = text.substr(5);
    }
    const std::size_t special = text.find_first_of(":?#\\");
    std::string decoded;
    if (text.empty() || special != std::string::npos || !percentDecode(text, decoded) ||
        decoded.find('\0') != std::string::npos) {
        return false;
    }
    std::vector<std::string> parts;
    if (jarDir.empty() || jarDir[0] != '/') {
        return false;
    }
    if (decoded[0] != '/') {
        tstrings::split(parts, jarDir, "/");
    }
    std::vector<std::string> more;
    tstrings::split(more, decoded, "/");
    std::vector<std::string> kept;
    for (const std::vector<std::string>* list : {&parts, &more}) {
        for (const std::string& part : *list) {
            if (part == "..") {
                if (!kept.empty()) {
                    kept.pop_back();
                }
            } else if (!part.empty() && part != ".") {
                kept.push_back(part);
            }
        }
    }
    path.clear();
    for (const std::string& part : kept) {
        path += "/" + part;
    }
    if (path.empty()) {
        path = "/";
    }
    // A trailing slash names a directory, which must stay one.
    if (decoded.back() == '/' && path != "/") {
        path += "/";
    }
    return true;
}

} // namespace JarManifest
