// The entry of kovalu-bundle: reads the options, makes the bundle, and turns
// any failure into one line on standard error and exit status 1.
#include <iostream>

#include "BundleSigning.h"
#include "Bundler.h"
#include "ErrorHandling.h"

namespace {

const char* const prog = "kovalu-bundle: ";

int failWith(const std::string& message) {
    std::cerr << prog << message << std::endl;
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    try {
        const std::vector<std::string> args(argv + 1, argv + argc);
        const bool sign = !args.empty() && args[0] == "sign";
        const BundleOptions options = sign ? parseSignOptions({args.begin() + 1, args.end()})
                                           : parseOptions(args);
        if (options.help) {
            std::cout << usageText();
            return 0;
        }
        if (sign) {
            std::cout << BundleSigning::signExisting(options) << std::endl;
            return 0;
        }
        const std::string bundle = Bundler::makeBundle(options, [](const std::string& warning) {
            std::cerr << prog << "warning: " << warning << std::endl;
        });
        std::cout << bundle << std::endl;
        return 0;
    } catch (const KvErrorBase& e) {
        return failWith(e.rawMessage());
    } catch (const std::exception& e) {
        return failWith(e.what());
    }
}
