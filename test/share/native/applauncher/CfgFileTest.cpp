#include "CfgFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <tuple>

#include "TestSupport.h"

namespace {

typedef std::map<std::string, std::vector<std::string>> PropertyDump;
typedef std::map<std::string, PropertyDump> ModelDump;

const CfgFile::Id<CfgFile::SectionNameTag>* const allSections[] = {
    &SectionName::Application,       &SectionName::JavaOptions,
    &SectionName::AppCDSJavaOptions, &SectionName::AppCDSGenerateCacheJavaOptions,
    &SectionName::ArgOptions,
};

// The model offers no iteration over sections, so the whole content is
// gathered through every section a model can hold, plus the unknown one.
ModelDump dump(const CfgFile& cfg) {
    ModelDump result;
    for (const auto* section : allSections) {
        for (const auto& property : cfg.getProperties(*section)) {
            result[section->name()][property.first.name()] = property.second;
        }
    }
    for (const auto& property : cfg.getProperties(CfgFile::Id<CfgFile::SectionNameTag>(""))) {
        result[""][property.first.name()] = property.second;
    }
    return result;
}

CfgFile loadText(const std::string& text) {
    kvtest::TempDir dir;
    const std::string path = dir / "app.cfg";
    kvtest::writeFile(path, text);
    return CfgFile::load(path);
}

using kvtest::Thrown;

Thrown loadFailure(const std::string& path) {
    return kvtest::thrownBy([&] { CfgFile::load(path); });
}

// "CfgFile.cpp(<digits>) at <function>(): <raw>"
void expectThrownFrom(const Thrown& failure, const std::string& function) {
    const std::string prefix = "CfgFile.cpp(";
    const std::string middle = ") at " + function + "(): ";
    ASSERT_EQ(0u, failure.what.rfind(prefix, 0)) << failure.what;
    const std::string::size_type at = failure.what.find(middle);
    ASSERT_NE(std::string::npos, at) << failure.what;
    const std::string line = failure.what.substr(prefix.size(), at - prefix.size());
    EXPECT_FALSE(line.empty());
    EXPECT_EQ(std::string::npos, line.find_first_not_of("0123456789")) << failure.what;
    EXPECT_EQ(failure.raw, failure.what.substr(at + middle.size()));
}

const std::map<std::string, std::string> bundleMacros = {
    {"$APPDIR", "/Applications/Demo.app/Contents/app"},
    {"$BINDIR", "/Applications/Demo.app/Contents/MacOS"},
    {"$ROOTDIR", "/Applications/Demo.app"},
};

} // namespace

TEST(CfgFileId, ComparesByTextNotByPointer) {
    const std::string copy("Application");
    const CfgFile::Id<CfgFile::SectionNameTag> same(copy.c_str());
    EXPECT_TRUE(same == SectionName::Application);
    EXPECT_FALSE(same != SectionName::Application);
    EXPECT_FALSE(same < SectionName::Application);
    EXPECT_FALSE(SectionName::Application < same);
    EXPECT_STREQ("Application", same.name());

    CfgFile cfg;
    cfg.setPropertyValue(same, PropertyName::mainjar, {"a.jar"});
    const std::string propertyCopy("app.mainjar");
    const CfgFile::Properties& props = cfg.getProperties(SectionName::Application);
    ASSERT_EQ(1u, props.size());
    EXPECT_NE(props.end(),
              props.find(CfgFile::Id<CfgFile::PropertyNameTag>(propertyCopy.c_str())));
}

TEST(CfgFileId, OrdersAsUnsignedByteStrings) {
    typedef CfgFile::Id<CfgFile::PropertyNameTag> Id;
    EXPECT_TRUE(Id("Application") < Id("ArgOptions"));
    EXPECT_TRUE(Id("app") < Id("app.mainjar"));
    EXPECT_FALSE(Id("app.mainjar") < Id("app"));
    EXPECT_TRUE(Id("Z") < Id("a"));
    EXPECT_TRUE(Id("z") < Id("\xC3\xA9"));
    EXPECT_FALSE(Id("\xC3\xA9") < Id("z"));
    EXPECT_FALSE(Id("app.memory") == Id("app.memor"));
}

TEST(CfgFileId, ConstantsCarryTheirNames) {
    const std::vector<std::string> names = {
        SectionName::Application.name(), SectionName::JavaOptions.name(),
        SectionName::AppCDSJavaOptions.name(), SectionName::AppCDSGenerateCacheJavaOptions.name(),
        SectionName::ArgOptions.name(),  PropertyName::version.name(),
        PropertyName::mainjar.name(),    PropertyName::mainmodule.name(),
        PropertyName::mainclass.name(),  PropertyName::classpath.name(),
        PropertyName::modulepath.name(), PropertyName::runtime.name(),
        PropertyName::splash.name(),     PropertyName::memory.name(),
        PropertyName::arguments.name(),  PropertyName::javaOptions.name()};
    EXPECT_EQ((std::vector<std::string>{
                  "Application", "JavaOptions", "AppCDSJavaOptions",
                  "AppCDSGenerateCacheJavaOptions", "ArgOptions", "app.version", "app.mainjar",
                  "app.mainmodule", "app.mainclass", "app.classpath", "app.modulepath",
                  "app.runtime", "app.splash", "app.memory", "arguments", "java-options"}),
              names);
}

TEST(CfgFileModel, AbsentSectionGivesTheSameEmptyMap) {
    const CfgFile cfg = loadText("[Application]\napp.mainjar=a.jar\n");
    const CfgFile::Properties& first = cfg.getProperties(SectionName::AppCDSJavaOptions);
    const CfgFile::Properties& second = cfg.getProperties(SectionName::AppCDSJavaOptions);
    EXPECT_TRUE(first.empty());
    EXPECT_EQ(&first, &second);
    EXPECT_EQ(1u, dump(cfg).size());
}

TEST(CfgFileModel, SetPropertyValueCreatesAndReplaces) {
    CfgFile cfg;
    CfgFile& returned = cfg.setPropertyValue(SectionName::ArgOptions, PropertyName::arguments,
                                             {"a", "b"});
    EXPECT_EQ(&cfg, &returned);
    EXPECT_EQ((ModelDump{{"ArgOptions", {{"arguments", {"a", "b"}}}}}), dump(cfg));

    cfg.setPropertyValue(SectionName::Application, PropertyName::mainjar, {"x.jar"})
        .setPropertyValue(SectionName::Application, PropertyName::mainclass, {"M"})
        .setPropertyValue(SectionName::ArgOptions, PropertyName::arguments, {"c"});
    EXPECT_EQ((ModelDump{{"Application", {{"app.mainclass", {"M"}}, {"app.mainjar", {"x.jar"}}}},
                         {"ArgOptions", {{"arguments", {"c"}}}}}),
              dump(cfg));
}

TEST(CfgFileModel, FormatsValues) {
    // Values, then the property as one string and as a path list.
    const std::tuple<std::vector<std::string>, const char*, const char*> cases[] = {
        {{"a", "b", "c"}, "c", "a:b:c"}, {{"x"}, "x", "x"}, {{}, "", ""},
        {{"", "a", ""}, "", ":a:"}};
    for (const auto& [values, string, pathList] : cases) {
        const CfgFile::Properties::value_type property(PropertyName::classpath, values);
        EXPECT_EQ(string, CfgFile::asString(property));
        EXPECT_EQ(pathList, CfgFile::asPathList(property));
    }
}

TEST(CfgFileModel, JoinsWithOneCharacter) {
    EXPECT_EQ("a;b", join({"a", "b"}, ';'));
    EXPECT_EQ("", join({}, ';'));
    EXPECT_EQ("only", join({"only"}, ';'));
}

TEST(CfgFileLoad, WorkedExample) {
    const std::string text = "; launcher configuration\n"
                             "app.version=0.9\n"
                             "[Tools]\n"
                             "java-options=-Dignored=1\n"
                             "[Application]\n"
                             "app.mainjar=$APPDIR/main.jar\n"
                             "app.mainclass=demo.Main\n"
                             "app.classpath=$APPDIR/lib/a.jar\n"
                             "app.classpath=$APPDIR/lib/b.jar\n"
                             "app.memory\n"
                             "[JavaOptions]\n"
                             "java-options=-Xmx512m\n"
                             "java-options=-Dgreeting=hello world\n"
                             "[ArgOptions]\n"
                             "arguments=--verbose\n";
    const ModelDump expected = {
        {"Application",
         {{"app.classpath", {"$APPDIR/lib/a.jar", "$APPDIR/lib/b.jar"}},
          {"app.mainclass", {"demo.Main"}},
          {"app.mainjar", {"$APPDIR/main.jar"}},
          {"app.memory", {""}}}},
        {"ArgOptions", {{"arguments", {"--verbose"}}}},
        {"JavaOptions", {{"java-options", {"-Xmx512m", "-Dgreeting=hello world"}}}},
    };
    EXPECT_EQ(expected, dump(loadText(text)));

    ModelDump replaced = expected;
    replaced["JavaOptions"] = {{"java-options", {"-Xss2m"}}};
    EXPECT_EQ(replaced, dump(loadText(text + "[JavaOptions]\njava-options=-Xss2m\n")));
}

TEST(CfgFileLoad, ModelOfEachText) {
    const ModelDump mainjar{{"Application", {{"app.mainjar", {"a.jar"}}}}};
    const std::tuple<const char*, const char*, ModelDump> cases[] = {
        {"empty file", "", {}},
        {"comments only", "; one\n\n;[Application]\n\n", {}},
        {"empty sections", "[Application]\n[JavaOptions]\n", {}},
        {"last line without line feed", "[Application]\napp.mainjar=a.jar", mainjar},
        {"last line a bare name", "[Application]\napp.memory",
         {{"Application", {{"app.memory", {""}}}}}},
        {"carriage returns are kept",
         "[Application]\r\napp.mainjar=a.jar\r\napp.memory\r\n[JavaOptions]\r\njava-options=\r\n",
         {{"Application", {{"app.mainjar", {"a.jar\r"}}}},
          {"JavaOptions", {{"java-options", {"\r"}}}}}},
        {"byte order mark makes the first line a property",
         "\xEF\xBB\xBF[Application]\napp.mainjar=a.jar\n[ArgOptions]\narguments=x\n",
         {{"ArgOptions", {{"arguments", {"x"}}}}}},
        {"nothing is trimmed",
         "[Application]\napp.mainjar = blank.jar\n app.mainjar=lead.jar\napp.mainclass= M \n"
         " ;app.splash=s.png\n[ Application ]\napp.runtime=r1\n[application]\napp.runtime=r2\n",
         {{"Application", {{"app.mainclass", {" M "}}}}}},
        {"split at the first unescaped equals sign",
         "[JavaOptions]\njava-options=\njava-options=-Da=b\na\\=b=c\n=java-options\n"
         "java-options\\=x\njava-options==\n",
         {{"JavaOptions", {{"java-options", {"", "-Da=b", "="}}}}}},
        // Each skipped '=' is kept in the name, so these names are never recognised.
        {"escaped equals signs stay in the name",
         "[ArgOptions]\narguments\\=a\\=b\narguments\\=x=y\n",
         {}},
        {"header name ends at the last bracket",
         "[Application]; not a comment\napp.mainjar=a.jar\n[ArgOptions]]\narguments=dropped\n"
         "[A]B]\napp.mainjar=dropped.jar\n[]\napp.mainclass=dropped\n",
         mainjar},
        {"unknown names and sections are dropped",
         "app.mainjar=before.jar\n[Application]\napp.mainjar=a.jar\napp.MainJar=b.jar\n"
         "app.unknown=c\njava-options=-Dkept\n[Tools]\napp.mainjar=tools.jar\n"
         "[AppCDSJavaOptions]\njava-options=-Xshare:auto\n",
         {{"AppCDSJavaOptions", {{"java-options", {"-Xshare:auto"}}}},
          {"Application", {{"app.mainjar", {"a.jar"}}, {"java-options", {"-Dkept"}}}}}},
        {"repeated section with a recognised property replaces",
         "[JavaOptions]\njava-options=-Dfirst\njava-options=-Dmore\n"
         "[JavaOptions]\njava-options=-Dsecond\n",
         {{"JavaOptions", {{"java-options", {"-Dsecond"}}}}}},
        {"repeated section without one does not",
         "[JavaOptions]\njava-options=-Dfirst\n[JavaOptions]\nunknown=x\n; comment\n",
         {{"JavaOptions", {{"java-options", {"-Dfirst"}}}}}},
        // Content replaces per section, not per property: the first mainclass is gone.
        {"repeated section replaces all its properties",
         "[Application]\napp.mainjar=a.jar\napp.mainclass=M\n[ArgOptions]\narguments=x\n"
         "[Application]\napp.mainjar=b.jar\n",
         {{"Application", {{"app.mainjar", {"b.jar"}}}}, {"ArgOptions", {{"arguments", {"x"}}}}}},
    };
    for (const auto& [name, text, expected] : cases) {
        EXPECT_EQ(expected, dump(loadText(text))) << name;
    }
}

TEST(CfgFileLoad, RepeatedPropertyKeepsEveryValue) {
    const CfgFile cfg = loadText("[Application]\napp.mainjar=first.jar\napp.mainjar=second.jar\n");
    const CfgFile::Properties& props = cfg.getProperties(SectionName::Application);
    const auto it = props.find(PropertyName::mainjar);
    ASSERT_NE(props.end(), it);
    EXPECT_EQ((std::vector<std::string>{"first.jar", "second.jar"}), it->second);
    EXPECT_EQ("second.jar", CfgFile::asString(*it));
}

TEST(CfgFileLoad, FailuresNameTheFileAndTheCause) {
    kvtest::TempDir dir;
    kvtest::writeFile(dir / "app.cfg", "; comment\n\n[Application]\napp.mainjar=a.jar\n\n"
                                       "; another\n[JavaOptions\njava-options=-Dx\n");
    kvtest::makeDirs(dir / "dir.cfg");
    const std::pair<std::string, std::string> cases[] = {
        {dir / "app.cfg",
         "Error parsing [" + (dir / "app.cfg") + "] file at 7: Missing ']' character"},
        {dir / "no such.cfg",
         "Error opening \"" + (dir / "no such.cfg") + "\" file: " + std::strerror(ENOENT)},
        {dir / "dir.cfg",
         "Error opening \"" + (dir / "dir.cfg") + "\" file: " + std::strerror(EISDIR)},
    };
    for (const auto& [path, expected] : cases) {
        SCOPED_TRACE(path);
        const Thrown failure = loadFailure(path);
        EXPECT_EQ(expected, failure.raw);
        expectThrownFrom(failure, "load");
    }
}

TEST(CfgFileLoad, ReadErrorReportsSystemError) {
    // Reading this file from offset 0 fails, although opening it succeeds.
    const std::string path = "/proc/self/mem";
    if (!std::ifstream(path).good()) {
        GTEST_SKIP() << path << " cannot be opened here";
    }
    const Thrown failure = loadFailure(path);
    EXPECT_EQ("Failed to read \"" + path + "\" file up to the end: " + std::strerror(EIO),
              failure.raw);
    expectThrownFrom(failure, "load");
}

TEST(CfgFileExpandMacros, ReplacesEverywhereAndLeavesSourceUnchanged) {
    const CfgFile source = loadText("[Application]\n"
                                    "app.mainjar=$APPDIR/main.jar\n"
                                    "app.classpath=$APPDIRS\n"
                                    "app.classpath=$ROOTDIR:$BINDIR:$APPDIR:$APPDIR\n"
                                    "[JavaOptions]\n"
                                    "java-options=-Dhome=$ROOTDIR\n"
                                    "[AppCDSJavaOptions]\n"
                                    "java-options=-XX:SharedArchiveFile=$APPDIR/a.jsa\n"
                                    "[AppCDSGenerateCacheJavaOptions]\n"
                                    "java-options=-Ddir=$BINDIR\n"
                                    "[ArgOptions]\n"
                                    "arguments=$appdir\n");
    const ModelDump before = dump(source);
    const CfgFile expanded = source.expandMacros(bundleMacros);
    EXPECT_EQ(before, dump(source));

    const std::string app = "/Applications/Demo.app/Contents/app";
    const ModelDump expected = {
        {"AppCDSGenerateCacheJavaOptions",
         {{"java-options", {"-Ddir=/Applications/Demo.app/Contents/MacOS"}}}},
        {"AppCDSJavaOptions", {{"java-options", {"-XX:SharedArchiveFile=" + app + "/a.jsa"}}}},
        {"Application",
         {{"app.classpath",
           {app + "S", "/Applications/Demo.app:/Applications/Demo.app/Contents/MacOS:" + app +
                           ":" + app}},
          {"app.mainjar", {app + "/main.jar"}}}},
        {"ArgOptions", {{"arguments", {"$appdir"}}}},
        {"JavaOptions", {{"java-options", {"-Dhome=/Applications/Demo.app"}}}},
    };
    EXPECT_EQ(expected, dump(expanded));
}

TEST(CfgFileExpandMacros, EmptyMacroMapGivesEqualCopy) {
    const CfgFile source = loadText("[Application]\napp.mainjar=$APPDIR/main.jar\n");
    EXPECT_EQ(dump(source), dump(source.expandMacros({})));
}

TEST(CfgFileExpandMacros, RepeatsPassesInNameOrder) {
    CfgFile cfg;
    cfg.setPropertyValue(SectionName::Application, PropertyName::mainjar, {"$ROOTDIR/z"});
    const std::map<std::string, std::string> macros = {{"$APPDIR", "/x"},
                                                       {"$ROOTDIR", "$APPDIR/y"}};
    EXPECT_EQ((ModelDump{{"Application", {{"app.mainjar", {"/x/y/z"}}}}}),
              dump(cfg.expandMacros(macros)));

    // The longest chain possible without a cycle: each pass resolves one level.
    const std::map<std::string, std::string> chain = {
        {"$A", "/x"}, {"$B", "$A"}, {"$C", "$B"}, {"$D", "$C"}};
    cfg.setPropertyValue(SectionName::Application, PropertyName::mainjar, {"$D/$D"});
    EXPECT_EQ((ModelDump{{"Application", {{"app.mainjar", {"/x//x"}}}}}),
              dump(cfg.expandMacros(chain)));
}

TEST(CfgFileExpandMacros, ArgumentsSetAfterExpansionStayLiteral) {
    const CfgFile expanded =
        loadText("[ArgOptions]\narguments=$APPDIR/in.txt\n").expandMacros(bundleMacros);
    CfgFile withArgs(expanded);
    withArgs.setPropertyValue(SectionName::ArgOptions, PropertyName::arguments, {"$APPDIR"});
    EXPECT_EQ((ModelDump{{"ArgOptions", {{"arguments", {"$APPDIR"}}}}}), dump(withArgs));
    EXPECT_EQ((ModelDump{{"ArgOptions",
                          {{"arguments", {"/Applications/Demo.app/Contents/app/in.txt"}}}}}),
              dump(expanded));
}

TEST(CfgFileExpandMacros, SelfReferenceFailsInsteadOfLooping) {
    const CfgFile cfg = loadText("[Application]\napp.classpath=$APPDIR/lib/a.jar\n"
                                 "app.mainjar=$APPDIR/main.jar\n");
    const std::map<std::string, std::string> macros = {
        {"$APPDIR", "/Volumes/x$ROOTDIR/Demo.app/Contents/app"},
        {"$BINDIR", "/Volumes/x$ROOTDIR/Demo.app/Contents/MacOS"},
        {"$ROOTDIR", "/Volumes/x$ROOTDIR/Demo.app"},
    };
    const Thrown failure = kvtest::thrownBy([&] { cfg.expandMacros(macros); });
    EXPECT_EQ("Macro expansion of \"$APPDIR/lib/a.jar\" does not finish: the value of $APPDIR "
              "(\"/Volumes/x$ROOTDIR/Demo.app/Contents/app\") contains $ROOTDIR",
              failure.raw);
    expectThrownFrom(failure, "expandValue");
}

TEST(CfgFileExpandMacros, EndlessExpansionFailsAndNamesTheValueOnOneLine) {
    const std::map<std::string, std::string> wrap = {{"$X", "[$X]"}};
    std::string copies;
    for (int i = 0; i < 5000; ++i) {
        copies += "$A";
    }
    const std::tuple<const char*, std::string, std::map<std::string, std::string>, std::string>
        cases[] = {
            {"cycle without growth", "-D$A", {{"$A", "$C"}, {"$B", "$A"}, {"$C", "$B"}},
             "Macro expansion of \"-D$A\" does not finish: the value of $A (\"$C\") contains $C"},
            {"runaway growth, before memory runs out", "$A", {{"$A", copies}},
             "Macro expansion of \"$A\" grows by more than 16777216 bytes: the value of $A (\"" +
                 copies.substr(0, 256) + "\"... (10000 bytes)) contains $A"},
            {"line breaks escaped", "a\nb$X\r", wrap,
             "Macro expansion of \"a\\nb$X\\r\" does not finish: the value of $X (\"[$X]\") "
             "contains $X"},
            {"control bytes escaped", std::string("c\x01$X\x7f", 5), wrap,
             "Macro expansion of \"c\\x01$X\\x7F\" does not finish: the value of $X (\"[$X]\") "
             "contains $X"},
        };
    for (const auto& [name, value, macros, expected] : cases) {
        CfgFile cfg;
        cfg.setPropertyValue(SectionName::ArgOptions, PropertyName::arguments, {value});
        EXPECT_EQ(expected, kvtest::thrownBy([&] { cfg.expandMacros(macros); }).raw) << name;
    }
}
