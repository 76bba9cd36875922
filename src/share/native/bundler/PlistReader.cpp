#include "PlistReader.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "ErrorHandling.h"
#include "tstrings.h"

namespace {

std::string utf8(unsigned long code) {
    std::string out;
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xc0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3f));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xe0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (code & 0x3f));
    } else {
        out += static_cast<char>(0xf0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3f));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (code & 0x3f));
    }
    return out;
}

std::string unescape(const std::string& text) {
    static const std::pair<const char*, const char*> named[] = {
        {"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"apos", "'"}};
    std::string out;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const std::size_t semi = text.find(';', at);
        if (text[at] != '&' || semi == std::string::npos) {
            out += text[at];
            continue;
        }
        const std::string name = text.substr(at + 1, semi - at - 1);
        bool known = false;
        for (const auto& [entity, value] : named) {
            if (name == entity) {
                out += value;
                known = true;
            }
        }
        if (!known && name.size() > 1 && name[0] == '#') {
            const bool hex = name[1] == 'x';
            const std::string digits = name.substr(hex ? 2 : 1);
            char* end = nullptr;
            const unsigned long code = std::strtoul(digits.c_str(), &end, hex ? 16 : 10);
            if (digits.empty() || *end != '\0' || code == 0 || code > 0x10ffff) {
                fail("bad character reference &" + name + ";", KV_SOURCE_CODE_POS);
            }
            out += utf8(code);
            known = true;
        }
        if (!known) {
            fail("unknown entity &" + name + ";", KV_SOURCE_CODE_POS);
        }
        at = semi;
    }
    return out;
}

/// Reads an XML text one markup item at a time.
class Cursor {
public:
    explicit Cursor(const std::string& xml) : xml(xml) {}

    /// Skips white space, comments, processing instructions and the doctype.
    void skipMisc() {
        for (;;) {
            while (at < xml.size() && std::isspace(static_cast<unsigned char>(xml[at]))) {
                ++at;
            }
            if (startsHere("<!--")) {
                skipPast("-->");
            } else if (startsHere("<?") || startsHere("<!DOCTYPE")) {
                skipPast(">");
            } else {
                return;
            }
        }
    }

    bool startsHere(const char* text) const { return xml.compare(at, std::strlen(text), text) == 0; }

    /// Reads a tag, returns it whole ("<dict>", "</dict>", "<true/>").
    std::string tag() {
        if (at >= xml.size() || xml[at] != '<') {
            fail("expected a tag at byte " + std::to_string(at), KV_SOURCE_CODE_POS);
        }
        const std::size_t start = at;
        skipPast(">");
        return xml.substr(start, at - start);
    }

    /// Reads one element, nested ones included, and returns its text.
    std::string element() {
        const std::size_t start = at;
        int depth = 0;
        do {
            if (startsHere("<!--")) {
                skipPast("-->");
                continue;
            }
            if (startsHere("<![CDATA[")) {
                skipPast("]]>");
                continue;
            }
            if (at >= xml.size()) {
                fail("the property list ends inside a value", KV_SOURCE_CODE_POS);
            }
            if (xml[at] != '<') {
                ++at;
                continue;
            }
            const std::string t = tag();
            depth += t[1] == '/' ? -1 : tstrings::endsWith(t, "/>") ? 0 : 1;
        } while (depth > 0);
        return xml.substr(start, at - start);
    }

    /// The text up to `end`, which is skipped.
    std::string textUntil(const std::string& end) {
        const std::size_t stop = xml.find(end, at);
        if (stop == std::string::npos) {
            fail("missing " + end, KV_SOURCE_CODE_POS);
        }
        const std::string text = xml.substr(at, stop - at);
        at = stop + end.size();
        return text;
    }

private:
    void skipPast(const std::string& end) {
        const std::size_t stop = xml.find(end, at);
        if (stop == std::string::npos) {
            fail("missing " + end, KV_SOURCE_CODE_POS);
        }
        at = stop + end.size();
    }

    const std::string& xml;
    std::size_t at = 0;
};

} // namespace

namespace PlistReader {

std::vector<PlistEntry> topLevel(const std::string& xml) {
    if (tstrings::startsWith(xml, "bplist")) {
        fail("it is a binary property list (plutil -convert xml1 FILE makes it XML)",
             KV_SOURCE_CODE_POS);
    }
    Cursor c(xml);
    c.skipMisc();
    if (!c.startsHere("<plist")) {
        fail("no <plist> element", KV_SOURCE_CODE_POS);
    }
    c.tag();
    c.skipMisc();
    const std::string dict = c.tag();
    if (dict == "<dict/>") {
        return {};
    }
    if (dict != "<dict>") {
        fail("the top level is no dictionary", KV_SOURCE_CODE_POS);
    }
    std::vector<PlistEntry> entries;
    for (;;) {
        c.skipMisc();
        if (c.startsHere("</dict>")) {
            return entries;
        }
        if (c.tag() != "<key>") {
            fail("expected <key> in the top-level dictionary", KV_SOURCE_CODE_POS);
        }
        const std::string key = unescape(c.textUntil("</key>"));
        c.skipMisc();
        if (!c.startsHere("<") || c.startsHere("</")) {
            fail("no value after <key>" + key + "</key>", KV_SOURCE_CODE_POS);
        }
        entries.push_back({key, PlistXml{c.element()}});
    }
}

} // namespace PlistReader
