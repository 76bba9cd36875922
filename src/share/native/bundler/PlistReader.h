#ifndef KOVALU_PLISTREADER_H
#define KOVALU_PLISTREADER_H

#include <string>
#include <vector>

#include "InfoPlist.h"

namespace PlistReader {

/// The entries of the top-level dictionary of an XML property list, in their
/// order, each value kept as its XML text (PlistXml), so that values of any
/// type pass through unchanged. Throws with the reason when `xml` is no XML
/// property list whose top level is a dictionary.
std::vector<PlistEntry> topLevel(const std::string& xml);

} // namespace PlistReader

#endif
