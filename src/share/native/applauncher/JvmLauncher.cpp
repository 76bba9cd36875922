#include "JvmLauncher.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "CfgFile.h"
#include "Dll.h"
#include "ErrorHandling.h"
#include "FileUtils.h"
#include "Log.h"
#include "SysInfo.h"
#include "tstrings.h"

// The block is exchanged with code that knows only this layout.
static_assert(sizeof(JvmlLauncherData) == 40, "JvmlLauncherData header must be 40 bytes");
static_assert(offsetof(JvmlLauncherData, libPath) == 0, "libPath at 0");
static_assert(offsetof(JvmlLauncherData, argc) == 8, "argc at 8");
static_assert(offsetof(JvmlLauncherData, envCount) == 12, "envCount at 12");
static_assert(offsetof(JvmlLauncherData, argv) == 16, "argv at 16");
static_assert(offsetof(JvmlLauncherData, envNames) == 24, "envNames at 24");
static_assert(offsetof(JvmlLauncherData, envValues) == 32, "envValues at 32");
static_assert(sizeof(char*) == 8, "pointer slots of the block are 8 bytes");

Jvm::Jvm() {
    LOG_TRACE("Jvm(" << this << ")::Jvm()");
}

Jvm::~Jvm() {
    try {
        LOG_TRACE("Jvm(" << this << ")::~Jvm()");
    } catch (...) {
        // A destructor must not throw; a lost trace record is harmless.
    }
}

Jvm& Jvm::setLibraryPath(const std::string& path) {
    libPath = path;
    return *this;
}

Jvm& Jvm::addEnvironmentVariable(const std::string& name, const std::string& value) {
    // Reserve both first so that a failed allocation cannot leave the pair
    // half added.
    envNames.reserve(envNames.size() + 1);
    envValues.reserve(envValues.size() + 1);
    envNames.push_back(name);
    envValues.push_back(value);
    return *this;
}

Jvm& Jvm::addArgument(const std::string& value) {
    args.push_back(value);
    return *this;
}

Jvm& Jvm::initFromConfigFile(const CfgFile& cfgFile) {
    optionsBegin = args.size();
    const CfgFile::Properties& appOptions = cfgFile.getProperties(SectionName::Application);

    const auto modulepath = appOptions.find(PropertyName::modulepath);
    if (modulepath != appOptions.end()) {
        for (const std::string& value : modulepath->second) {
            addArgument("--module-path");
            addArgument(value);
        }
    }

    const auto classpath = appOptions.find(PropertyName::classpath);
    if (classpath != appOptions.end()) {
        addArgument("-classpath");
        addArgument(CfgFile::asPathList(*classpath));
    }

    const auto splash = appOptions.find(PropertyName::splash);
    if (splash != appOptions.end()) {
        const std::string splashPath = CfgFile::asString(*splash);
        if (FileUtils::isFileExists(splashPath)) {
            addArgument("-splash:" + splashPath);
        } else {
            LOG_WARNING("Splash property ignored. File \"" << splashPath << "\" not found");
        }
    }

    const CfgFile::Properties& javaOptions = cfgFile.getProperties(SectionName::JavaOptions);
    const auto options = javaOptions.find(PropertyName::javaOptions);
    if (options != javaOptions.end()) {
        for (const std::string& value : options->second) {
            addArgument(value);
        }
    }

    addArgument("-Dkovalu.app-path=" + SysInfo::getProcessModulePath());
    mainBegin = args.size();

    const auto mainmodule = appOptions.find(PropertyName::mainmodule);
    if (mainmodule != appOptions.end()) {
        addArgument("-m");
        addArgument(CfgFile::asString(*mainmodule));
    }

    const auto mainclass = appOptions.find(PropertyName::mainclass);
    if (mainclass != appOptions.end()) {
        addArgument(CfgFile::asString(*mainclass));
    }

    const auto mainjar = appOptions.find(PropertyName::mainjar);
    if (mainjar != appOptions.end()) {
        addArgument("-jar");
        addArgument(CfgFile::asString(*mainjar));
    }
    mainEnd = args.size();

    const CfgFile::Properties& argOptions = cfgFile.getProperties(SectionName::ArgOptions);
    const auto arguments = argOptions.find(PropertyName::arguments);
    if (arguments != argOptions.end()) {
        for (const std::string& value : arguments->second) {
            addArgument(value);
        }
    }

    return *this;
}

std::vector<std::string> Jvm::getJvmArguments() const {
    return std::vector<std::string>(args.begin() + optionsBegin, args.begin() + mainEnd);
}

Jvm& Jvm::insertJvmOptions(const std::vector<std::string>& options) {
    args.insert(args.begin() + mainBegin, options.begin(), options.end());
    mainBegin += options.size();
    mainEnd += options.size();
    return *this;
}

Jvm& Jvm::removeJvmOptions(const std::string& prefix) {
    const auto begin = args.begin() + optionsBegin;
    const auto end = args.begin() + mainBegin;
    const auto kept = std::remove_if(begin, end, [&prefix](const std::string& arg) {
        return tstrings::startsWith(arg, prefix);
    });
    const std::size_t removed = static_cast<std::size_t>(end - kept);
    args.erase(kept, end);
    mainBegin -= removed;
    mainEnd -= removed;
    return *this;
}

bool Jvm::isWithSplash() const {
    return std::any_of(args.begin(), args.end(), [](const std::string& arg) {
        return tstrings::startsWith(arg, "-splash:");
    });
}

void Jvm::setEnvVariables() {
    for (std::size_t i = 0; i != envNames.size(); ++i) {
        SysInfo::setEnvVariable(envNames.at(i), envValues.at(i));
    }
}

std::size_t addJvmlLauncherDataBytes(std::size_t size, std::size_t count, std::size_t itemBytes) {
    const std::size_t limit = INT32_MAX;
    // Checked without ever forming a product or sum above the limit.
    if (size > limit || (itemBytes != 0 && count > (limit - size) / itemBytes)) {
        throw makeException(tstrings::any() << "JvmlLauncherData buffer would exceed " << limit
                                            << " bytes",
                            KV_SOURCE_CODE_POS);
    }
    return size + count * itemBytes;
}

namespace {

// Places the items of a block one after the other from offset 40 on. Without
// memory it only counts; with memory it also writes. Nothing is aligned, so
// every pointer slot is written with memcpy.
class BlockLayout {
public:
    explicit BlockLayout(char* base) : base(base), end(sizeof(JvmlLauncherData)) {}

    std::size_t size() const { return end; }

    // The address of `str`'s copy, or null when only counting.
    char* addString(const std::string& str) {
        const std::size_t offset = end;
        end = addJvmlLauncherDataBytes(end, str.size() + 1, 1);
        if (!base) {
            return nullptr;
        }
        std::memcpy(base + offset, str.c_str(), str.size() + 1);
        return base + offset;
    }

    // A pointer array followed by the strings it points at; the array's
    // address, or null when only counting.
    char** addStringArray(const std::vector<std::string>& strings, bool nullTerminated) {
        const std::size_t array = end;
        end = addJvmlLauncherDataBytes(end, strings.size() + (nullTerminated ? 1 : 0),
                                       sizeof(char*));
        for (std::size_t i = 0; i != strings.size(); ++i) {
            setSlot(array, i, addString(strings[i]));
        }
        if (nullTerminated) {
            setSlot(array, strings.size(), nullptr);
        }
        return base ? reinterpret_cast<char**>(base + array) : nullptr;
    }

private:
    void setSlot(std::size_t array, std::size_t index, const char* value) {
        if (base) {
            std::memcpy(base + array + index * sizeof(char*), &value, sizeof(value));
        }
    }

    char* const base;
    std::size_t end;
};

class JliLaunchData {
public:
    JliLaunchData(const std::string& libPath, const std::vector<std::string>& args,
                  const std::vector<std::string>& envNames,
                  const std::vector<std::string>& envValues)
        : libPath(libPath), args(args), envNames(envNames), envValues(envValues) {}

    // With a null `ptr` the size of the block; otherwise also writes it at
    // `ptr`, which must hold that many bytes. Throws when the block would not
    // fit its 32-bit size.
    int32_t initJvmlLauncherData(JvmlLauncherData* ptr) const {
        BlockLayout layout(reinterpret_cast<char*>(ptr));
        JvmlLauncherData header{};
        header.libPath = layout.addString(libPath);
        header.argv = layout.addStringArray(args, /*nullTerminated=*/true);
        header.envNames = layout.addStringArray(envNames, /*nullTerminated=*/false);
        header.envValues = layout.addStringArray(envValues, /*nullTerminated=*/false);
        // Every item takes at least one byte, so both counts fit once the
        // size does.
        header.argc = static_cast<int32_t>(args.size());
        header.envCount = static_cast<int32_t>(envNames.size());
        const int32_t size = static_cast<int32_t>(layout.size());
        if (!ptr) {
            LOG_TRACE("Need " << size << " bytes for JvmlLauncherData buffer");
            return size;
        }
        std::memcpy(ptr, &header, sizeof(header));
        LOG_TRACE("Initialized " << size << " bytes at " << ptr << " address");
        return size;
    }

private:
    std::string libPath;
    std::vector<std::string> args;
    std::vector<std::string> envNames;
    std::vector<std::string> envValues;
};

void closeHandle(JvmlLauncherHandle h) {
    delete static_cast<JliLaunchData*>(h);
}

int32_t getJvmlLauncherDataSize(JvmlLauncherHandle h) {
    try {
        return static_cast<const JliLaunchData*>(h)->initJvmlLauncherData(nullptr);
    } catch (const std::runtime_error& e) {
        reportError(KV_SOURCE_CODE_POS, e);
    } catch (...) {
        reportUnknownError(KV_SOURCE_CODE_POS);
    }
    return -1;
}

JvmlLauncherData* initJvmlLauncherData(JvmlLauncherHandle h, void* ptr, int32_t bufferSize) {
    try {
        const JliLaunchData* data = static_cast<const JliLaunchData*>(h);
        const int32_t size = data->initJvmlLauncherData(nullptr);
        if (!ptr || size > bufferSize) {
            return nullptr;
        }
        JvmlLauncherData* block = static_cast<JvmlLauncherData*>(ptr);
        data->initJvmlLauncherData(block);
        return block;
    } catch (const std::runtime_error& e) {
        reportError(KV_SOURCE_CODE_POS, e);
    } catch (...) {
        reportUnknownError(KV_SOURCE_CODE_POS);
    }
    return nullptr;
}

// The temporary Dll is released on return; the function keeps its own load.
DllFunction<void*> loadJliLaunch(const std::string& libPath) {
    const Dll jvmLib(libPath);
    return DllFunction<void*>(jvmLib, "JLI_Launch");
}

} // namespace

JvmlLauncherAPI api = {closeHandle, getJvmlLauncherDataSize, initJvmlLauncherData};

JvmlLauncherHandle Jvm::exportLauncher() const {
    return new JliLaunchData(libPath, args, envNames, envValues);
}

void Jvm::launch() {
    std::unique_ptr<JvmlLauncherData, decltype(&free)> jvmLauncherData(
        jvmLauncherCreateJvmlLauncherData(&api, exportLauncher(), nullptr), free);
    if (!jvmLauncherData) {
        throw makeException(tstrings::any() << "Failed to create launch data for JVM library \""
                                            << libPath << "\"",
                            KV_SOURCE_CODE_POS);
    }

    LOG_TRACE("JVM library: \"" << libPath << "\"");

    int32_t exitCode;
    {
        const DllFunction<void*> jliLaunch = loadJliLaunch(libPath);
        exitCode = jvmLauncherStartJvm(jvmLauncherData.get(), jliLaunch);
    }
    jvmLauncherData.reset();

    if (exitCode != 0) {
        throw makeException("Failed to launch JVM", KV_SOURCE_CODE_POS);
    }
}
