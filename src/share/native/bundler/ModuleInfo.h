#ifndef KOVALU_MODULEINFO_H
#define KOVALU_MODULEINFO_H

#include <string>
#include <vector>

/// A module's name, the modules it requires at run time (not the ones it
/// requires only at compile time, "requires static") and the main class it
/// names, dotted, if any.
struct ModuleDescriptor {
    std::string name;
    std::vector<std::string> requires;
    std::string mainClass;
};

namespace ModuleInfo {

/// The descriptor in the bytes of a module-info.class file, with the main
/// class of its ModuleMainClass attribute; throws when they hold none.
ModuleDescriptor fromClassFile(const std::string& bytes);

} // namespace ModuleInfo

#endif
