# Cross-compiles for macOS with Zig's clang, which carries its own macOS
# system headers and libc++ but no SDK frameworks. Include it from a file
# that sets KOVALU_ZIG_TARGET (e.g. aarch64-macos.11.0) and
# CMAKE_SYSTEM_PROCESSOR.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_VERSION 20.0)

set(_kovalu_zig_dir ${CMAKE_CURRENT_LIST_DIR}/zig)
set(CMAKE_C_COMPILER ${_kovalu_zig_dir}/zig-cc)
set(CMAKE_CXX_COMPILER ${_kovalu_zig_dir}/zig-c++)
set(CMAKE_AR ${_kovalu_zig_dir}/zig-ar CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB ${_kovalu_zig_dir}/zig-ranlib CACHE FILEPATH "Ranlib")

set(CMAKE_C_FLAGS_INIT "-target ${KOVALU_ZIG_TARGET}")
set(CMAKE_CXX_FLAGS_INIT "-target ${KOVALU_ZIG_TARGET}")

# Nothing of the build machine may leak into the target's search paths.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_FIND_ROOT_PATH ${_kovalu_zig_dir})

# Apple's linker keeps exported symbols alive; Zig's dead-strips optimised
# builds and would drop the exported C functions that nothing inside the
# executable calls.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,--no-gc-sections")
