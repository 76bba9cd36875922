#include "BundleSigner.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include "BundleFiles.h"
#include "ErrorHandling.h"
#include "FileUtils.h"
#include "JarFile.h"
#include "MachO.h"
#include "Subprocess.h"
#include "tstrings.h"

namespace fs = std::filesystem;

namespace {

std::string readAt(const std::string& path, unsigned long long offset, std::size_t size) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    std::string bytes(size, '\0');
    in.read(&bytes[0], static_cast<std::streamsize>(size));
    bytes.resize(in ? size : static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    return bytes;
}

void makeDir(const std::string& path) {
    std::error_code ec;
    fs::create_directory(path, ec);
    if (ec) {
        fail("cannot create the directory " + path + ": " + ec.message(), KV_SOURCE_CODE_POS);
    }
}

// A universal file's first slice tells whether it is an executable: all its
// slices are the same kind of code.
bool isExecutable(const std::string& path, const std::string& head) {
    const auto slice = MachO::firstSlice(head);
    return MachO::isExecutable(slice ? readAt(path, *slice, 16) : head);
}

void codesign(const BundleSigner::Signer& s, const std::string& path, bool entitlements,
              const std::string& shownAs) {
    std::vector<std::string> argv{s.codesign, "--force", "--sign", s.identity};
    // Ad-hoc signatures carry no timestamp.
    if (s.identity != "-") {
        argv.push_back("--timestamp");
    }
    argv.insert(argv.end(), {"--options", "runtime"});
    if (entitlements) {
        argv.insert(argv.end(), {"--entitlements", s.entitlements});
    }
    argv.push_back(path);
    const ProgramResult r = Subprocess::run(argv);
    if (r.status != 0) {
        fail("codesign failed on " + shownAs + ": " + Subprocess::reason(r.err + r.out),
             KV_SOURCE_CODE_POS);
    }
}

/// Jars inside jars (a Spring Boot application's BOOT-INF/lib, say) are
/// searched this deep; a deeper one is refused rather than shipped unsigned.
const int deepestNestedJar = 3;

/// The names of the jar's Mach-O entries and of the jars inside it, told by
/// their first bytes.
void scanEntries(const JarFile& jar, std::vector<std::string>& jars,
                 std::vector<std::string>& machO) {
    for (const std::string& name : jar.names()) {
        if (name.empty() || name.back() == '/') {
            continue;
        }
        const std::string head = jar.read(name, 8);
        if (MachO::isMachO(head)) {
            machO.push_back(name);
        } else if (head.compare(0, 4, "PK\x03\x04", 4) == 0 &&
                   tstrings::endsWith(name, ".jar", tstrings::AnyCase)) {
            jars.push_back(name);
        }
    }
}

// Each entry is signed as a file of its own name, in a directory of its own:
// codesign takes the identifier from the name, and entry names that differ
// only in case or would point outside cannot collide or escape there. A jar
// inside is treated the same way, before the entries beside it; it goes back
// stored, as Spring Boot requires of its nested jars. True when the jar was
// rewritten.
bool signJar(const BundleSigner::Signer& s, const std::string& jarPath, const std::string& shownAs,
             int depth = 0) {
    const JarFile jar(jarPath);
    std::vector<std::string> entries; // the nested jars first, then the Mach-O entries
    std::vector<std::string> machO;
    scanEntries(jar, entries, machO);
    const std::size_t nestedJars = entries.size();
    entries.insert(entries.end(), machO.begin(), machO.end());
    if (entries.empty()) {
        return false;
    }
    const auto refuseIfSigned = [&] {
        if (jar.isSigned()) {
            fail("cannot sign the native code in " + shownAs +
                     ": it is a signed jar (META-INF/*.SF), which changing an entry would break",
                 KV_SOURCE_CODE_POS);
        }
    };
    if (!machO.empty()) {
        refuseIfSigned();
    }
    if (nestedJars > 0 && depth == deepestNestedJar) {
        fail("cannot sign the native code in " + shownAs + "!/" + entries.front() +
                 ": jars nested more than " + std::to_string(deepestNestedJar) +
                 " deep are not searched",
             KV_SOURCE_CODE_POS);
    }
    BundleFiles::TempPath dir;
    dir.reset(BundleFiles::makeUniqueDir(FileUtils::dirname(jarPath) + "/.unpacked."));
    std::map<std::string, std::string> signedEntries;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::string own = dir.get() + "/" + std::to_string(i);
        makeDir(own);
        const std::string file = own + "/" + FileUtils::basename(entries[i]);
        const std::string shown = shownAs + "!/" + entries[i];
        BundleFiles::writeText(file, jar.read(entries[i]));
        if (i < nestedJars) {
            if (!signJar(s, file, shown, depth + 1)) {
                continue;
            }
        } else {
            codesign(s, file, /*entitlements=*/false, shown);
        }
        signedEntries[entries[i]] = BundleFiles::readText(file);
    }
    if (signedEntries.empty()) {
        return false;
    }
    refuseIfSigned();
    // The new jar replaces the old one with one rename, so that a failure
    // leaves the jar as it was.
    BundleFiles::TempPath rewritten;
    rewritten.reset(BundleFiles::makeUniqueFile(jarPath + "."));
    jar.writeWithReplacements(signedEntries, rewritten.get());
    std::error_code ec;
    fs::permissions(rewritten.get(), fs::status(jarPath, ec).permissions(), ec);
    if (const int error = BundleFiles::renamePath(rewritten.get(), jarPath)) {
        fail("cannot replace " + shownAs + ": " + BundleFiles::errorText(error),
             KV_SOURCE_CODE_POS);
    }
    rewritten.release();
    return true;
}

struct Scan {
    std::vector<std::string> jars;
    std::vector<BundleSigner::MachOFile> machO;
};

// A framework is signed by its versions (Versions/A), each after its
// contents, as codesign and the notary service expect of a bundle; a shallow
// framework and a nested application as a whole. A link (Versions/Current)
// is not signed again.
void addNestedBundle(const std::string& path, const std::string& rel, Scan& result) {
    if (tstrings::endsWith(rel, ".app", tstrings::AnyCase)) {
        result.machO.push_back({rel, false});
        return;
    }
    if (!tstrings::endsWith(rel, ".framework", tstrings::AnyCase)) {
        return;
    }
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(path + "/Versions", ec))) {
        result.machO.push_back({rel, false});
        return;
    }
    for (fs::directory_iterator v(path + "/Versions", ec), end; !ec && v != end; v.increment(ec)) {
        if (v->is_directory() && !v->is_symlink()) {
            result.machO.push_back({rel + "/Versions/" + v->path().filename().string(), false});
        }
    }
}

// Links are skipped: what they point at inside the bundle is signed as a
// file, and what they point at outside is not ours to sign.
Scan scan(const std::string& bundle) {
    Scan result;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(bundle, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_symlink()) {
            continue;
        }
        const std::string path = it->path().string();
        const std::string rel = path.substr(bundle.size() + 1);
        if (it->is_directory()) {
            addNestedBundle(path, rel, result);
            continue;
        }
        if (!it->is_regular_file()) {
            continue;
        }
        if (tstrings::startsWith(rel, "Contents/app/") &&
            tstrings::endsWith(rel, ".jar", tstrings::AnyCase)) {
            result.jars.push_back(rel);
            continue;
        }
        const std::string head = readAt(path, 0, 32);
        // The main executable is signed whatever it holds: codesign signs
        // scripts too, and the bundle's seal needs it signed.
        if (MachO::isMachO(head) || tstrings::startsWith(rel, "Contents/MacOS/")) {
            result.machO.push_back({rel, isExecutable(path, head)});
        }
    }
    if (ec) {
        fail("cannot list the files of " + bundle + ": " + ec.message(), KV_SOURCE_CODE_POS);
    }
    std::sort(result.jars.begin(), result.jars.end());
    return result;
}

int phase(const std::string& path) {
    if (tstrings::startsWith(path, "Contents/runtime/")) {
        return 1;
    }
    return tstrings::startsWith(path, "Contents/MacOS/") ? 2 : 0;
}

std::size_t depth(const std::string& path) {
    return static_cast<std::size_t>(std::count(path.begin(), path.end(), '/'));
}

} // namespace

namespace BundleSigner {

std::vector<Step> signOrder(std::vector<MachOFile> files) {
    std::sort(files.begin(), files.end(), [](const MachOFile& a, const MachOFile& b) {
        if (phase(a.path) != phase(b.path)) {
            return phase(a.path) < phase(b.path);
        }
        if (depth(a.path) != depth(b.path)) {
            return depth(a.path) > depth(b.path);
        }
        return a.path < b.path;
    });
    std::vector<Step> steps;
    for (const MachOFile& f : files) {
        const int p = phase(f.path);
        steps.push_back({f.path, p == 2 || (p == 1 && f.executable)});
    }
    return steps;
}

void signBundle(const Signer& signer, const std::string& bundle, const std::string& shownAs,
                const std::function<void()>& afterJars) {
    const Scan found = scan(bundle);
    for (const std::string& jar : found.jars) {
        signJar(signer, bundle + "/" + jar, shownAs + "/" + jar);
    }
    if (afterJars) {
        afterJars();
    }
    for (const Step& step : signOrder(found.machO)) {
        codesign(signer, bundle + "/" + step.path, step.entitlements, shownAs + "/" + step.path);
    }
    codesign(signer, bundle, /*entitlements=*/true, shownAs);
}

void signImage(const Signer& s, const std::string& image, const std::string& shownAs) {
    std::vector<std::string> argv{s.codesign, "--force", "--sign", s.identity};
    if (s.identity != "-") {
        argv.push_back("--timestamp");
    }
    argv.push_back(image);
    const ProgramResult r = Subprocess::run(argv);
    if (r.status != 0) {
        fail("codesign failed on " + shownAs + ": " + Subprocess::reason(r.err + r.out),
             KV_SOURCE_CODE_POS);
    }
}

} // namespace BundleSigner
