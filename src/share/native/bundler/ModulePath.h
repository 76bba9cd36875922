#ifndef KOVALU_MODULEPATH_H
#define KOVALU_MODULEPATH_H

#include <string>
#include <utility>
#include <vector>

#include "ModuleInfo.h"

/// An explicit module found on an application's module path.
struct FoundModule {
    std::string given;  ///< its path as the module path entry names it
    std::string source; ///< the exploded module's directory or the jar
    ModuleDescriptor module;
};

namespace ModulePath {

/// The name a multi-release jar's entry "META-INF/versions/N/NAME" stands for
/// on runtimes of version N and later; empty for any other entry.
std::string versionedEntry(const std::string& entry);

/// The places a module path entry may hold modules in, as (given, found)
/// pairs: the entry itself when it is an exploded module or a file, else each
/// of the directory's children, in name order.
std::vector<std::pair<std::string, std::string>> places(const std::string& given,
                                                        const std::string& source);

/// The explicit modules of one module path entry (an exploded module, a
/// modular jar, or a directory of them, in name order), given as `given` and
/// found at `source`. What cannot be read is left out, and so are automatic
/// modules: the runtime reports and names those at launch.
std::vector<FoundModule> explicitModules(const std::string& given, const std::string& source);

/// The name the runtime gives the automatic module of the jar file `fileName`
/// that has no Automatic-Module-Name: the name without ".jar" and without a
/// version ("-" and a digit on), each run of other characters than letters
/// and digits made one '.', none at either end.
std::string automaticName(const std::string& fileName);

} // namespace ModulePath

#endif
