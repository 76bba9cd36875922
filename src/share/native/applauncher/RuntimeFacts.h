#ifndef KOVALU_RUNTIMEFACTS_H
#define KOVALU_RUNTIMEFACTS_H

#include <string>

/// What a Java runtime tells about itself on disk, for choosing how its start
/// may be cached.
struct RuntimeFacts {
    /// The runtime's home: the directory above the `lib` that holds the library.
    std::string home;
    /// JAVA_VERSION's major version from "<home>/release"; 0 when unknown.
    int javaVersion = 0;
    /// True when "<home>/lib/server/classes.jsa", the base of dynamic archives, is a file.
    bool hasBaseArchive = false;
    /// The identities of the library, the release file and the base archive,
    /// which change whenever the runtime is replaced.
    std::string identity;

    /// The facts of the runtime whose launcher library is `libPath`; an empty
    /// home when there is no `lib` directory above its real path.
    static RuntimeFacts read(const std::string& libPath);

    /// The directory above the `lib` directory that holds the library; empty
    /// when there is none.
    static std::string runtimeHome(const std::string& realLibPath);

    /// The major version named by JAVA_VERSION in a runtime's release file
    /// ("1.8.0" gives 8); 0 when there is none.
    static int javaMajorVersion(const std::string& releaseText);
};

#endif
