// The entry of kovalu-bundle: reads the command and its options, runs it, and
// turns any failure into one line on standard error and exit status 1.
#include <iostream>

#include "BundleSigning.h"
#include "Bundler.h"
#include "ErrorHandling.h"
#include "Notarization.h"
#include "Progress.h"
#include "ToolDefaults.h"
#include "Verification.h"

namespace {

const char* const prog = "kovalu-bundle: ";

int failWith(const std::string& message) {
    std::cerr << prog << message << std::endl;
    return 1;
}

int run(const std::string& argv0, const std::vector<std::string>& args) {
    if (args.empty()) {
        std::cerr << usageText();
        return 2;
    }
    // "--version" alone has no bundle version to give: it asks for the tool's.
    if (args.size() == 1 && (args[0] == "version" || args[0] == "-V" || args[0] == "--version")) {
        std::cout << "kovalu-bundle " << KOVALU_VERSION << std::endl;
        return 0;
    }
    const std::string command =
        args[0] == "sign" || args[0] == "notarize" || args[0] == "verify" ? args[0] : "";
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    const BundleOptions options =
        command.empty() ? parseOptions(args) : parseCommandOptions(command, rest);
    if (options.help) {
        std::cout << usageText();
        return 0;
    }
    Progress progress([](const std::string& text) { std::cerr << text << std::flush; },
                      options.quiet);
    if (command == "verify") {
        const int failed = Verification::verify(
            options.bundle, [](const std::string& line) { std::cout << line << std::endl; });
        return failed == 0 ? 0 : 1;
    }
    if (command == "notarize") {
        for (const std::string& line : Notarization::notarizeExisting(options, progress)) {
            std::cout << line << std::endl;
        }
        return 0;
    }
    if (command == "sign") {
        std::cout << BundleSigning::signExisting(options, progress) << std::endl;
        return 0;
    }
    BundleOptions withDefaults = options;
    ToolDefaults::apply(withDefaults, argv0);
    std::cout << Bundler::makeBundle(withDefaults, progress) << std::endl;
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    try {
        return run(argv[0], std::vector<std::string>(argv + 1, argv + argc));
    } catch (const KvErrorBase& e) {
        return failWith(e.rawMessage());
    } catch (const std::exception& e) {
        return failWith(e.what());
    }
}
