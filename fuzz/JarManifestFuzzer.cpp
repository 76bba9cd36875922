// Feeds arbitrary bytes to the jar manifest reader as a jar. It may only
// answer Found, None or Unreadable, never read outside the bytes, and what it
// finds must keep to its limits; the Class-Path entries of what it finds
// resolve to absolute paths without "." or ".." segments, or to nothing.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "JarManifest.h"

namespace {

class MemorySource : public JarManifest::Source {
public:
    explicit MemorySource(const std::string& bytes) : bytes(bytes) {}
    std::uint64_t size() const override { return bytes.size(); }
    bool read(std::uint64_t offset, std::size_t count, std::string& out) const override {
        if (offset > bytes.size() || count > bytes.size() - offset) {
            return false;
        }
        out = bytes.substr(static_cast<std::size_t>(offset), count);
        return true;
    }

private:
    const std::string& bytes;
};

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool hasDotSegment(const std::string& path) {
    return path.find("/./") != std::string::npos || path.find("/../") != std::string::npos ||
           endsWith(path, "/.") || endsWith(path, "/..");
}

void checkClassPath(const std::string& manifest) {
    for (const std::string& entry : JarManifest::classPath(manifest)) {
        std::string path;
        if (JarManifest::resolve("/app/lib", entry, path) &&
            (path.empty() || path[0] != '/' || hasDotSegment(path))) {
            kvfuzz::fail("entry \"" + entry + "\" resolves to \"" + path + "\"");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::string text;
    std::string why;
    const JarManifest::Outcome outcome = JarManifest::read(MemorySource(bytes), text, why);
    if (outcome == JarManifest::Outcome::Unreadable && why.empty()) {
        kvfuzz::fail("unreadable without a reason");
    }
    // The bytes themselves, as a manifest text, go through the same.
    checkClassPath(bytes);
    if (outcome != JarManifest::Outcome::Found) {
        return 0;
    }
    if (text.size() > JarManifest::maxManifestBytes || text.size() > bytes.size() * 1100 + 64) {
        kvfuzz::fail("a manifest beyond its limit");
    }
    checkClassPath(text);
    return 0;
}
