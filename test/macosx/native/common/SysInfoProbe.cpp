// Started by the tests through links and relative paths. Prints the path the
// launcher would find for itself, or the error's message with exit status 1.
// With "--raw" it prints what the system reports before any resolution.
#include <mach-o/dyld.h>

#include <cstdint>
#include <cstring>
#include <iostream>
#include <vector>

#include "ErrorHandling.h"
#include "SysInfo.h"

int main(int argc, char** argv) {
    SysInfo::argc = argc;
    SysInfo::argv = argv;

    if (argc > 1 && std::strcmp(argv[1], "--raw") == 0) {
        uint32_t size = 0;
        std::vector<char> buffer;
        while (_NSGetExecutablePath(buffer.data(), &size) != 0) {
            buffer.resize(size);
        }
        std::cout << buffer.data() << '\n';
        return 0;
    }

    try {
        std::cout << SysInfo::getProcessModulePath() << '\n';
        return 0;
    } catch (const KvError<std::runtime_error>& e) {
        std::cout << e.rawMessage() << '\n';
        return 1;
    }
}
