#include "BundleSigner.h"

#include <gtest/gtest.h>

using BundleSigner::MachOFile;

TEST(BundleSigner, SignOrderIsInsideOutAndGivesOnlyExecutablesTheEntitlements) {
    const std::string home = "Contents/runtime/Contents/Home/";
    const std::vector<MachOFile> files{
        {"Contents/MacOS/Demo", true},
        {home + "bin/java", true},
        {home + "lib/libjli.dylib", false},
        {home + "lib/server/libjvm.dylib", false},
        {home + "lib/jspawnhelper", true},
        {"Contents/app/libjni.dylib", false},
        {"Contents/app/native/x64/tool", true},
        {"Contents/Frameworks/A.framework/Versions/A/A", false},
        {"Contents/Frameworks/A.framework/Versions/A", false},
        {"Contents/app/H.app/Contents/MacOS/H", true},
        {"Contents/app/H.app", false},
    };
    const std::vector<std::pair<std::string, bool>> expected{
        {"Contents/Frameworks/A.framework/Versions/A/A", false},
        {"Contents/app/H.app/Contents/MacOS/H", false},
        {"Contents/Frameworks/A.framework/Versions/A", false},
        {"Contents/app/native/x64/tool", false},
        {"Contents/app/H.app", false},
        {"Contents/app/libjni.dylib", false},
        {home + "lib/server/libjvm.dylib", false},
        {home + "bin/java", true},
        {home + "lib/jspawnhelper", true},
        {home + "lib/libjli.dylib", false},
        {"Contents/MacOS/Demo", true},
    };
    std::vector<std::pair<std::string, bool>> order;
    for (const BundleSigner::Step& step : BundleSigner::signOrder(files)) {
        order.emplace_back(step.path, step.entitlements);
    }
    EXPECT_EQ(expected, order);
}
