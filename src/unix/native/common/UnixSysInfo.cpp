// SysInfo: getEnvVariable, isEnvVariableSet, setEnvVariable, unsetEnvVariable.
#include "SysInfo.h"

#include <cstdlib>

#include "ErrorHandling.h"

namespace SysInfo {

std::string getEnvVariable(const std::string& name) {
    const char* value = ::getenv(name.c_str());
    if (!value) {
        throw makeException(tstrings::any() << "getenv(" << name << ") failed. Variable not set",
                            KV_SOURCE_CODE_POS);
    }
    return value;
}

std::string getEnvVariable(const std::nothrow_t&, const std::string& name,
                           const std::string& defaultValue) {
    const char* value = ::getenv(name.c_str());
    return value ? std::string(value) : defaultValue;
}

bool isEnvVariableSet(const std::string& name) {
    return ::getenv(name.c_str()) != nullptr;
}

void unsetEnvVariable(const std::string& name) {
    ::unsetenv(name.c_str());
}

void setEnvVariable(const std::string& name, const std::string& value) {
    if (::setenv(name.c_str(), value.c_str(), 1) != 0) {
        const std::string error = lastCRTError();
        throw makeException(tstrings::any() << "setenv(" << name << ", " << value
                                            << ") failed. Error: " << error,
                            KV_SOURCE_CODE_POS);
    }
}

} // namespace SysInfo
