# Linux on 64-bit Arm, little-endian.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(VELMOT_CROSS_TRIPLE aarch64-linux-gnu)
set(VELMOT_QEMU_ARCH aarch64)
set(VELMOT_DEBIAN_ARCH arm64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
