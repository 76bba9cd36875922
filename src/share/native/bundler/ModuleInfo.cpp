#include "ModuleInfo.h"

#include <optional>

#include "ErrorHandling.h"
#include "tstrings.h"

namespace {

const unsigned accStaticPhase = 0x0040;

/// Reads a class file's big-endian fields in order; throws at its end.
class ClassReader {
public:
    explicit ClassReader(const std::string& bytes) : bytes(bytes) {}

    unsigned long u(std::size_t width) {
        if (at + width > bytes.size()) {
            throw makeException("module-info.class is truncated", KV_SOURCE_CODE_POS);
        }
        unsigned long value = 0;
        for (std::size_t i = 0; i < width; ++i) {
            value = (value << 8) | static_cast<unsigned char>(bytes[at++]);
        }
        return value;
    }
    std::string text(std::size_t length) {
        skip(length);
        return bytes.substr(at - length, length);
    }
    void skip(std::size_t length) {
        if (at + length > bytes.size()) {
            throw makeException("module-info.class is truncated", KV_SOURCE_CODE_POS);
        }
        at += length;
    }

private:
    const std::string& bytes;
    std::size_t at = 0;
};

struct ConstantPool {
    std::vector<std::string> utf8;      // by index; empty for other kinds
    std::vector<unsigned long> nameRef; // CONSTANT_Module, CONSTANT_Class: index of its name

    std::string nameOf(unsigned long index) const {
        if (index >= nameRef.size() || nameRef[index] >= utf8.size()) {
            throw makeException("module-info.class has a bad constant", KV_SOURCE_CODE_POS);
        }
        return utf8[nameRef[index]];
    }
};

ConstantPool readConstantPool(ClassReader& in) {
    const unsigned long count = in.u(2);
    ConstantPool pool{std::vector<std::string>(count), std::vector<unsigned long>(count)};
    for (unsigned long i = 1; i < count; ++i) {
        const unsigned long tag = in.u(1);
        switch (tag) {
        case 1: pool.utf8[i] = in.text(in.u(2)); break;
        case 7: case 19: pool.nameRef[i] = in.u(2); break;
        case 8: case 16: case 20: in.skip(2); break;
        case 15: in.skip(3); break;
        case 3: case 4: case 9: case 10: case 11: case 12: case 17: case 18: in.skip(4); break;
        case 5: case 6: in.skip(8); ++i; break; // Eight-byte constants take two slots.
        default:
            throw makeException("module-info.class has an unknown constant tag " +
                                    std::to_string(tag),
                                KV_SOURCE_CODE_POS);
        }
    }
    return pool;
}

void skipMembers(ClassReader& in) {
    for (unsigned long n = in.u(2); n > 0; --n) {
        in.skip(6);
        for (unsigned long a = in.u(2); a > 0; --a) {
            in.skip(2);
            in.skip(in.u(4));
        }
    }
}

ModuleDescriptor readModuleAttribute(ClassReader& in, const ConstantPool& pool) {
    ModuleDescriptor module;
    module.name = pool.nameOf(in.u(2));
    in.skip(4); // flags, version
    for (unsigned long n = in.u(2); n > 0; --n) {
        const std::string required = pool.nameOf(in.u(2));
        const unsigned long flags = in.u(2);
        in.skip(2);
        if (!(flags & accStaticPhase)) {
            module.requires.push_back(required);
        }
    }
    return module;
}

} // namespace

namespace ModuleInfo {

ModuleDescriptor fromClassFile(const std::string& bytes) {
    ClassReader in(bytes);
    if (in.u(4) != 0xcafebabeUL) {
        throw makeException("module-info.class is no class file", KV_SOURCE_CODE_POS);
    }
    in.skip(4);
    const ConstantPool pool = readConstantPool(in);
    in.skip(6);           // access flags, this class, super class
    in.skip(in.u(2) * 2); // interfaces
    skipMembers(in);      // fields
    skipMembers(in);      // methods
    std::optional<ModuleDescriptor> module;
    std::string mainClass;
    for (unsigned long n = in.u(2); n > 0; --n) {
        const unsigned long nameIndex = in.u(2);
        const std::string attribute = in.text(in.u(4));
        const std::string name = nameIndex < pool.utf8.size() ? pool.utf8[nameIndex] : "";
        ClassReader body(attribute);
        if (name == "Module") {
            module = readModuleAttribute(body, pool);
        } else if (name == "ModuleMainClass") {
            mainClass = tstrings::replace(pool.nameOf(body.u(2)), "/", ".");
        }
    }
    if (!module) {
        throw makeException("module-info.class has no Module attribute", KV_SOURCE_CODE_POS);
    }
    // No runtime accepts a module without a name, nor could the tool tell it.
    if (module->name.empty()) {
        throw makeException("module-info.class names no module", KV_SOURCE_CODE_POS);
    }
    module->mainClass = mainClass;
    return *module;
}

} // namespace ModuleInfo
