#include "CfgWriter.h"

#include <algorithm>
#include <iterator>

#include "AppPaths.h"
#include "BundleFiles.h"
#include "CfgNames.h"
#include "FileUtils.h"

namespace {

std::string line(const char* name, const std::string& value) {
    return std::string(name) + "=" + value + "\n";
}

std::string section(const char* name) {
    return std::string("[") + name + "]\n";
}

} // namespace

namespace CfgWriter {

std::string cfgText(const BundleOptions& o, const std::vector<std::string>& classPath,
                    const std::vector<std::string>& modulePath, const std::string& mainJar) {
    std::string text = section(CfgNames::application) + line(CfgNames::version, o.version);
    for (const std::string& entry : modulePath) {
        text += line(CfgNames::modulePath, entry);
    }
    for (const std::string& entry : classPath) {
        text += line(CfgNames::classPath, entry);
    }
    if (!o.splash.empty()) {
        text += line(CfgNames::splash, "$APPDIR/" + BundleFiles::fileName(o.splash));
    }
    if (!o.mainModule.empty()) {
        text += line(CfgNames::mainModule, o.mainModule);
    }
    if (!o.mainClass.empty()) {
        text += line(CfgNames::mainClass, o.mainClass);
    }
    if (!mainJar.empty()) {
        text += line(CfgNames::mainJar, mainJar);
    }
    if (o.cds || o.train) {
        text += line(CfgNames::cds, "auto");
    }
    text += "\n" + section(CfgNames::javaOptionsSection);
    for (const std::string& option : o.javaOptions) {
        text += line(CfgNames::javaOptions, option);
    }
    text += "\n" + section(CfgNames::argOptions);
    for (const std::string& argument : o.arguments) {
        text += line(CfgNames::arguments, argument);
    }
    return text;
}

void writeConfiguration(const BundleOptions& o, const BundlePlan& plan, const Staging& staging) {
    std::vector<std::string> cp;
    std::vector<std::string> mp;
    std::transform(plan.classPath.begin(), plan.classPath.end(), std::back_inserter(cp),
                   AppPaths::cfgValue);
    std::transform(plan.modulePath.begin(), plan.modulePath.end(), std::back_inserter(mp),
                   AppPaths::cfgValue);
    BundleFiles::writeText(
        staging.appDir() + "/" + plan.name + ".cfg",
        cfgText(o, cp, mp, plan.mainJar ? AppPaths::cfgValue(*plan.mainJar) : std::string()));
    if (o.package) {
        BundleFiles::writeText(staging.appDir() + "/.package", *o.package + "\n");
    }
    BundleFiles::writeText(staging.contents() + "/Info.plist",
                           InfoPlist::plistText(plan.infoPlist));
}

} // namespace CfgWriter
