# macOS on Apple silicon, through zig (see zig-macos.cmake).
set(CMAKE_SYSTEM_PROCESSOR arm64)
set(VELMOT_ZIG_TARGET aarch64-macos)
include(${CMAKE_CURRENT_LIST_DIR}/zig-macos.cmake)
