#ifndef KOVALU_MACHO_H
#define KOVALU_MACHO_H

#include <optional>
#include <string>

namespace MachO {

/// True when a file starting with `head` (its first bytes, at least eight for
/// a sure answer) is a thin 32- or 64-bit or a universal (32- or 64-bit
/// header) Mach-O file. Java class files share the universal magic; they are
/// told apart by the word after it, a class file's major version (45 or more)
/// where a universal file keeps its small architecture count.
bool isMachO(const std::string& head);

/// For a universal file starting with `head`, the offset of its first slice;
/// none for a thin file or when `head` is too short to hold the first entry.
std::optional<unsigned long long> firstSlice(const std::string& head);

/// True when `head` starts a thin Mach-O file of an executable (not a library
/// or bundle), read from the header's file type.
bool isExecutable(const std::string& head);

} // namespace MachO

#endif
