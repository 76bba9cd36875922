// Subprocess::reason, the reading of a program's output that needs no system.
#include "Subprocess.h"

#include "tstrings.h"

namespace Subprocess {

std::string reason(const std::string& output) {
    std::vector<std::string> lines;
    tstrings::split(lines, output, "\n", tstrings::DropEmptyPieces);
    for (std::string line : lines) {
        if (line.find("Exception: ") == std::string::npos &&
            line.find("Error: ") == std::string::npos) {
            continue;
        }
        if (tstrings::startsWith(line, "Exception in thread \"")) {
            const std::size_t end = line.find("\" ", 21);
            line = end == std::string::npos ? line : line.substr(end + 2);
        }
        if (tstrings::startsWith(line, "Error: ")) {
            line = line.substr(7);
        }
        // Exception class names in front: "java.io.IOException: ...".
        for (std::size_t colon; (colon = line.find(": ")) != std::string::npos;) {
            const std::string head = line.substr(0, colon);
            const bool isName =
                head.find_first_not_of(
                    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_.$") ==
                std::string::npos;
            if (!isName ||
                !(tstrings::endsWith(head, "Exception") || tstrings::endsWith(head, "Error"))) {
                break;
            }
            line = line.substr(colon + 2);
        }
        return line;
    }
    return lines.empty() ? "no output" : lines.front();
}

} // namespace Subprocess
