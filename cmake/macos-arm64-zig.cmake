set(KOVALU_ZIG_TARGET aarch64-macos.11.0)
set(CMAKE_SYSTEM_PROCESSOR arm64)
include(${CMAKE_CURRENT_LIST_DIR}/macos-zig.cmake)
