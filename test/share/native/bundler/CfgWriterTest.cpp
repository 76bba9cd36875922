#include "CfgWriter.h"

#include <gtest/gtest.h>

#include "CfgFile.h"
#include "TestSupport.h"

// What the tool writes, the launcher reads back value for value.
TEST(CfgWriter, TheLauncherReadsBackWhatTheToolWrites) {
    BundleOptions o;
    o.version = "2.1";
    o.mainClass = "a.B";
    o.mainModule = "m/a.B";
    o.splash = "/in/s.png";
    o.cds = true;
    o.javaOptions = {"-Dx=a b", "-Dd=$APPDIR"};
    o.arguments = {"one", ""};
    kvtest::TempDir tmp;
    kvtest::writeFile(tmp / "a.cfg", CfgWriter::cfgText(o, {"$APPDIR/c", "$APPDIR/d.jar"},
                                                        {"$APPDIR/mods"}, "$APPDIR/m.jar"));
    const CfgFile cfg = CfgFile::load(tmp / "a.cfg");
    const std::map<std::string, std::vector<std::string>> expected{
        {"app.version", {"2.1"}},
        {"app.mainclass", {"a.B"}},
        {"app.mainmodule", {"m/a.B"}},
        {"app.mainjar", {"$APPDIR/m.jar"}},
        {"app.classpath", {"$APPDIR/c", "$APPDIR/d.jar"}},
        {"app.modulepath", {"$APPDIR/mods"}},
        {"app.splash", {"$APPDIR/s.png"}},
        {"app.cds", {"auto"}},
        {"java-options", {"-Dx=a b", "-Dd=$APPDIR"}},
        {"arguments", {"one", ""}},
    };
    std::map<std::string, std::vector<std::string>> read;
    for (const auto* section :
         {&SectionName::Application, &SectionName::JavaOptions, &SectionName::ArgOptions}) {
        for (const auto& [name, values] : cfg.getProperties(*section)) {
            read[name.name()] = values;
        }
    }
    EXPECT_EQ(expected, read);
}
