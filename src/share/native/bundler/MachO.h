#ifndef KOVALU_MACHO_H
#define KOVALU_MACHO_H

#include <string>

namespace MachO {

/// True when a file starting with `head` (its first bytes, at least eight for
/// a sure answer) is a thin 32- or 64-bit or a universal Mach-O file. Java
/// class files share the universal magic; they are told apart by the word
/// after it, a class file's major version (45 or more) where a universal file
/// keeps its small architecture count.
bool isMachO(const std::string& head);

} // namespace MachO

#endif
