# Linux on 32-bit Arm with hardware floating point: a 32-bit size_t.
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(VELMOT_CROSS_TRIPLE arm-linux-gnueabihf)
set(VELMOT_QEMU_ARCH arm)
set(VELMOT_DEBIAN_ARCH armhf)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
