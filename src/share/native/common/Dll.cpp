#include "Dll.h"

#include "ErrorHandling.h"

void throwFunctionNotAvailable(const std::string& name, const std::string& path,
                               const char* function) {
    throw makeException(tstrings::any() << name << "() function is not available in " << path,
                        SourceCodePos(__FILE__, function, __LINE__));
}
