/* The least any launcher has to do: load the runtime's launcher library by
 * path and call its JLI_Launch with an argument vector. Usage:
 * kovalu_floor <library> <argument 0> [arguments...]
 * It loads the library with the launcher's own flags (RTLD_LAZY): binding
 * every symbol up front would make the floor the slower of the two. */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

typedef int (*JliLaunch)(int, char**, int, const char**, int, const char**, const char*,
                         const char*, const char*, const char*, unsigned char, unsigned char,
                         unsigned char, int);

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: %s <library> <argument 0> [arguments...]\n", argv[0]);
        return 2;
    }
    void* lib = dlopen(argv[1], RTLD_LAZY);
    if (!lib) {
        fprintf(stderr, "dlopen(%s) failed. Error: %s\n", argv[1], dlerror());
        return 1;
    }
    void* sym = dlsym(lib, "JLI_Launch");
    if (!sym) {
        fprintf(stderr, "dlsym(JLI_Launch) failed. Error: %s\n", dlerror());
        return 1;
    }
    JliLaunch launch;
    memcpy(&launch, &sym, sizeof launch);
    const int status = launch(argc - 2, argv + 2, 0, NULL, 0, NULL, "", "", "java", "java", 0, 0, 0, 0);
    dlclose(lib);
    return status == 0 ? 0 : 1;
}
