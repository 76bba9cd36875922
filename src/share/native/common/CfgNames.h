#ifndef KOVALU_CFGNAMES_H
#define KOVALU_CFGNAMES_H

/// The section and property names of the launcher's configuration file, as
/// the launcher reads them and the bundle tool writes them.
namespace CfgNames {

constexpr const char* application = "Application";
constexpr const char* javaOptionsSection = "JavaOptions";
constexpr const char* appCdsJavaOptions = "AppCDSJavaOptions";
constexpr const char* appCdsGenerateCacheJavaOptions = "AppCDSGenerateCacheJavaOptions";
constexpr const char* argOptions = "ArgOptions";

constexpr const char* version = "app.version";
constexpr const char* mainJar = "app.mainjar";
constexpr const char* mainModule = "app.mainmodule";
constexpr const char* mainClass = "app.mainclass";
constexpr const char* classPath = "app.classpath";
constexpr const char* modulePath = "app.modulepath";
constexpr const char* runtime = "app.runtime";
constexpr const char* splash = "app.splash";
constexpr const char* memory = "app.memory";
constexpr const char* arguments = "arguments";
constexpr const char* javaOptions = "java-options";
constexpr const char* cds = "app.cds";

} // namespace CfgNames

#endif
